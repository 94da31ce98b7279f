# Every Windows program carries a version resource (Explorer's details; the window's caption
# reads its FileVersion), configured from resources/win32/version.rc.in.
function(tolvane_version_resource target description)
    set(TOLVANE_PROGRAM ${target})
    set(TOLVANE_FILE_DESCRIPTION ${description})
    set(rc ${CMAKE_BINARY_DIR}/generated/${target}-version.rc)
    configure_file(${PROJECT_SOURCE_DIR}/resources/win32/version.rc.in ${rc} @ONLY)
    target_sources(${target} PRIVATE ${rc})
endfunction()

tolvane_version_resource(tolvane "Tolvane")
tolvane_version_resource(tolvane-station "Tolvane production station")
tolvane_version_resource(tolvane-flash "Tolvane command-line flasher")
tolvane_version_resource(tolvane-pack "Tolvane package writer")
