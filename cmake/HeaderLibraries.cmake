# Debian's header-only CLI11 (libcli11-dev) and nlohmann/json (nlohmann-json3-dev), as the
# targets CLI11::CLI11 and nlohmann_json::nlohmann_json on both builds. The Windows compiler must
# not see the rest of /usr/include, so for it the two folders are linked into one of their own.
if(WIN32)
    set(TOLVANE_HEADER_LIBRARIES ${CMAKE_BINARY_DIR}/header-libraries)
    file(MAKE_DIRECTORY ${TOLVANE_HEADER_LIBRARIES})
    foreach(folder CLI nlohmann)
        if(NOT EXISTS /usr/include/${folder})
            message(FATAL_ERROR "/usr/include/${folder} is missing: run tools/bootstrap.sh")
        endif()
        file(CREATE_LINK /usr/include/${folder} ${TOLVANE_HEADER_LIBRARIES}/${folder} SYMBOLIC)
    endforeach()
    add_library(CLI11::CLI11 INTERFACE IMPORTED)
    add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED)
    set_target_properties(CLI11::CLI11 nlohmann_json::nlohmann_json PROPERTIES
        INTERFACE_INCLUDE_DIRECTORIES ${TOLVANE_HEADER_LIBRARIES})
else()
    find_package(CLI11 CONFIG REQUIRED)
    find_package(nlohmann_json CONFIG REQUIRED)
endif()
