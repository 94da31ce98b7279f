# Each library's headers are reachable only through an include root of its own: a folder in the
# build tree holding one link, named as the library's folder, to that folder. A target sees the
# roots of what it links and nothing else, so an include against the layer table fails to
# compile (tests/layers proves it).
set(TOLVANE_ROOTS ${CMAKE_BINARY_DIR}/include-roots)

# The root through which `folder` (relative to the source tree, e.g. "tools/flash") is seen.
function(tolvane_root_of folder out)
    string(REPLACE "/" "_" name ${folder})
    set(root ${TOLVANE_ROOTS}/${name})
    if(NOT EXISTS ${root}/${folder})
        get_filename_component(parent ${root}/${folder} DIRECTORY)
        file(MAKE_DIRECTORY ${parent})
        file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${folder} ${root}/${folder} SYMBOLIC)
    endif()
    set(${out} ${root} PARENT_SCOPE)
endfunction()

# tolvane_include_root(target folder [INTERFACE]): the target's headers live in `folder`, and
# whoever links the target sees them.
function(tolvane_include_root target folder)
    tolvane_root_of(${folder} root)
    set(scope PUBLIC)
    if(ARGN)
        set(scope ${ARGN})
    endif()
    target_include_directories(${target} ${scope} ${root})
endfunction()

# For a folder of tests, benchmarks or programs: its own files by their full names, e.g.
# "tests/support/PtyPair.h".
function(tolvane_folder_root folder)
    tolvane_root_of(${folder} root)
    include_directories(${root})
endfunction()
