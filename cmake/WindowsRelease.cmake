# The Windows release files in ${CMAKE_BINARY_DIR}/release: the installer (made with wixl from
# data/win32/tolvane.wxs.in) and the portable zip, each holding the window, the station window,
# the flasher, the package writer, the README and the notices of what is linked in. tools/windows-release.sh
# makes both; `make windows` builds them, `make release` takes them from a build of its own.
set(TOLVANE_UPGRADE_CODE C03CCC74-8543-4CC5-BE83-F870CD2403C0) # the product's, for good
# Derived from the version: every build of one version is the same installer, and a new
# version is a new product that replaces the old one.
string(UUID TOLVANE_PRODUCT_CODE NAMESPACE ${TOLVANE_UPGRADE_CODE} NAME "product ${PROJECT_VERSION}"
       TYPE SHA1 UPPER)
string(UUID TOLVANE_PACKAGE_CODE NAMESPACE ${TOLVANE_UPGRADE_CODE} NAME "package ${PROJECT_VERSION}"
       TYPE SHA1 UPPER)
set(TOLVANE_RELEASE_DIR ${CMAKE_BINARY_DIR}/release)
# Relative to the release folder: wixl finds no file by an absolute path.
set(TOLVANE_STAGE tolvane-${PROJECT_VERSION}-windows-x64)
set(TOLVANE_ICON tolvane.ico)
set(TOLVANE_STATION_ICON station.ico)
configure_file(data/win32/tolvane.wxs.in ${TOLVANE_RELEASE_DIR}/tolvane.wxs @ONLY)

set(TOLVANE_MSI ${TOLVANE_RELEASE_DIR}/tolvane-${PROJECT_VERSION}-x64.msi)
set(TOLVANE_ZIP ${TOLVANE_RELEASE_DIR}/${TOLVANE_STAGE}.zip)
add_custom_command(OUTPUT ${TOLVANE_MSI} ${TOLVANE_ZIP}
    COMMAND ${PROJECT_SOURCE_DIR}/tools/windows-release.sh ${TOLVANE_RELEASE_DIR} ${PROJECT_VERSION}
            ${TOLVANE_PACKAGE_CODE} ${PROJECT_SOURCE_DIR}
            $<TARGET_FILE:tolvane> $<TARGET_FILE:tolvane-station> $<TARGET_FILE:tolvane-flash>
            $<TARGET_FILE:tolvane-pack>
    DEPENDS tolvane tolvane-station tolvane-flash tolvane-pack ${TOLVANE_RELEASE_DIR}/tolvane.wxs
            tools/windows-release.sh tools/reproducible-zip.py README.md
            data/win32/THIRD-PARTY-NOTICES.txt data/win32/Environment.idt
            data/icons/org.tolvane.Tolvane.ico data/icons/org.tolvane.Tolvane.Station.ico
    VERBATIM)
add_custom_target(windows_release ALL DEPENDS ${TOLVANE_MSI} ${TOLVANE_ZIP})
