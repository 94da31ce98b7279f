# Install rules (make install: CMAKE_INSTALL_PREFIX and DESTDIR honoured) and the Debian package
# (make package, through CPack).
include(GNUInstallDirs)

set(TOLVANE_APP_ID org.tolvane.Tolvane) # also the window's desktop file name (Application.cpp)
set(TOLVANE_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/tolvane)

install(TARGETS tolvane tolvane-station tolvane-flash tolvane-pack tolvane-devsim
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

install(FILES data/${TOLVANE_APP_ID}.desktop data/${TOLVANE_APP_ID}.Station.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES data/${TOLVANE_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
# The window's icon and the station window's.
install(FILES data/icons/${TOLVANE_APP_ID}.svg data/icons/${TOLVANE_APP_ID}.Station.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
foreach(size 16 22 24 32 48 64 128 256)
    install(FILES data/icons/hicolor/${size}x${size}/${TOLVANE_APP_ID}.png
                  data/icons/hicolor/${size}x${size}/${TOLVANE_APP_ID}.Station.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
endforeach()

# Manual pages, compressed as Debian wants them.
find_program(GZIP_PROGRAM gzip REQUIRED)
foreach(page tolvane tolvane-station tolvane-flash tolvane-pack tolvane-devsim)
    set(out ${CMAKE_BINARY_DIR}/man/${page}.1.gz)
    add_custom_command(OUTPUT ${out}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
        COMMAND ${GZIP_PROGRAM} -9n -c ${CMAKE_SOURCE_DIR}/docs/man/${page}.1 > ${out}
        DEPENDS ${CMAKE_SOURCE_DIR}/docs/man/${page}.1 VERBATIM)
    list(APPEND man_outputs ${out})
    install(FILES ${out} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()
set(changelog ${CMAKE_BINARY_DIR}/man/changelog.gz)
add_custom_command(OUTPUT ${changelog}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
    COMMAND ${GZIP_PROGRAM} -9n -c ${CMAKE_SOURCE_DIR}/data/changelog > ${changelog}
    DEPENDS ${CMAKE_SOURCE_DIR}/data/changelog VERBATIM)
add_custom_target(tolvane_compressed_docs ALL DEPENDS ${man_outputs} ${changelog})

install(FILES README.md data/copyright data/60-tolvane-modemmanager.rules
        DESTINATION ${TOLVANE_DOC_DIR})
install(FILES ${changelog} DESTINATION ${TOLVANE_DOC_DIR} RENAME changelog.gz) # a native package
install(FILES docs/window.png docs/station.png DESTINATION ${TOLVANE_DOC_DIR}/docs)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tolvane)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_CONTACT "The Tolvane developers <maintainers@tolvane.org>")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${CPACK_PACKAGE_CONTACT})
set(CPACK_DEBIAN_PACKAGE_SECTION comm)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://tolvane.org/)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "firmware upgrade tool for modems on a serial port")
# CPack puts the summary first and indents these lines; a blank line separates paragraphs.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Tolvane upgrades the firmware of a modem, or of any device with the same
loader, over a serial port. It checks a firmware package (size, layout,
CRC-32, MD5 digest), resets the device, wakes its loader and hands over the
package block by block in checksummed frames, showing progress, resends and
the result. It can also ask the device for its firmware version.

Included are the window program, the station window for the operator of a
production fixture (tolvane-station, one tile per slot), a command-line
flasher for production lines and scripts that upgrades several ports at
once (tolvane-flash), a
package writer (tolvane-pack) and a virtual device on a pseudo-terminal
(tolvane-devsim) for trying it without hardware.")
include(CPack)
