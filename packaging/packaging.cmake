# Installation layout and the Debian package.
#   cmake --build build --target package      builds build/movanta_<version>-1_<arch>.deb
# The executable lives in a private directory beside its manual, because the help button opens
# "<directory of the executable>/Movanta使用说明.pdf"; /usr/bin/movanta is a link to it.

include(GNUInstallDirs)

set(MOVANTA_PACKAGING_DIR ${CMAKE_SOURCE_DIR}/packaging)
set(MOVANTA_PACKAGING_OUT ${CMAKE_BINARY_DIR}/packaging)
set(MOVANTA_APP_ID org.movanta.Movanta)
set(MOVANTA_PRIVATE_DIR lib/movanta)
set(MOVANTA_ICON_SIZES 48 64 128 256)

# Icons for the menu, at the sizes of the hicolor theme, scaled from the project's one icon at build time.
add_executable(movanta_scaleicon ${MOVANTA_PACKAGING_DIR}/scaleicon.cpp)
target_link_libraries(movanta_scaleicon PRIVATE Qt5::Gui)
set(icon_outputs)
foreach(size ${MOVANTA_ICON_SIZES})
    list(APPEND icon_outputs ${MOVANTA_PACKAGING_OUT}/icons/${size}x${size}/apps/movanta.png)
endforeach()
add_custom_command(
    OUTPUT ${icon_outputs}
    COMMAND movanta_scaleicon ${CMAKE_SOURCE_DIR}/resources/icons/icon.png ${MOVANTA_PACKAGING_OUT}/icons
            ${MOVANTA_ICON_SIZES}
    DEPENDS movanta_scaleicon ${CMAKE_SOURCE_DIR}/resources/icons/icon.png
    COMMENT "Scaling the application icon"
    VERBATIM)

# Debian wants the changelog and the manual page compressed without time stamps.
add_custom_command(
    OUTPUT ${MOVANTA_PACKAGING_OUT}/changelog.Debian.gz ${MOVANTA_PACKAGING_OUT}/movanta.1.gz
    COMMAND sh -c "gzip -9n < \"$0\" > \"$2\" && gzip -9n < \"$1\" > \"$3\""
            ${MOVANTA_PACKAGING_DIR}/changelog ${MOVANTA_PACKAGING_DIR}/movanta.1
            ${MOVANTA_PACKAGING_OUT}/changelog.Debian.gz ${MOVANTA_PACKAGING_OUT}/movanta.1.gz
    DEPENDS ${MOVANTA_PACKAGING_DIR}/changelog ${MOVANTA_PACKAGING_DIR}/movanta.1
    VERBATIM)
add_custom_target(package_files ALL
    DEPENDS ${icon_outputs} ${MOVANTA_PACKAGING_OUT}/changelog.Debian.gz ${MOVANTA_PACKAGING_OUT}/movanta.1.gz)

file(MAKE_DIRECTORY ${MOVANTA_PACKAGING_OUT})
file(CREATE_LINK ../${MOVANTA_PRIVATE_DIR}/movanta ${MOVANTA_PACKAGING_OUT}/movanta SYMBOLIC)

set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

# The installed program is hardened like Debian's own: read-only relocations, resolved at start.
target_link_options(movanta PRIVATE LINKER:-z,relro LINKER:-z,now)
install(TARGETS movanta RUNTIME DESTINATION ${MOVANTA_PRIVATE_DIR})
if(DEFINED MOVANTA_MANUAL_PDF)
    install(FILES ${MOVANTA_MANUAL_PDF} DESTINATION ${MOVANTA_PRIVATE_DIR})
endif()
install(FILES ${MOVANTA_PACKAGING_OUT}/movanta DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${MOVANTA_PACKAGING_DIR}/${MOVANTA_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${MOVANTA_PACKAGING_DIR}/${MOVANTA_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
foreach(size ${MOVANTA_ICON_SIZES})
    install(FILES ${MOVANTA_PACKAGING_OUT}/icons/${size}x${size}/apps/movanta.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
endforeach()
install(FILES ${MOVANTA_PACKAGING_OUT}/movanta.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${MOVANTA_PACKAGING_DIR}/copyright ${MOVANTA_PACKAGING_OUT}/changelog.Debian.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/movanta)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME movanta)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Movanta developers")
set(CPACK_PACKAGE_CONTACT "The Movanta developers <maintainers@movanta.org>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "move data from an old computer to a new one over the network")
# CPack puts the summary first and indents the body itself; an empty line becomes the " ." separator.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Movanta is a wizard that moves files, folders, personal settings and
installed applications from an old computer to a new one over the local
network. The same program runs on both computers: the new one receives and
shows a six-digit pairing code, the old one finds it, pairs and sends what
the user chose, and ends with a migration report.

The transfer is obfuscated, not encrypted: use it on a network you trust.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://movanta.org/")
# Qt 5 and the C++ runtime come from dpkg-shlibdeps. libqt5gui5 is named as well: it ships the platform
# plugins the window needs, whatever the executable links; libsodium23 carries the secure channel. The tools
# the program runs by name follow.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt5gui5 (>= 5.12), libsodium23, pkexec | policykit-1, xdg-utils, apt, procps")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-noto-cjk")
include(CPack)

if(MOVANTA_TESTS)
    # A generic Qt plugin that presses the help button of the installed program, to prove what it opens.
    add_library(movanta_helpclicker MODULE ${CMAKE_SOURCE_DIR}/tests/package/helpclicker.cpp
                                           ${CMAKE_SOURCE_DIR}/tests/package/helpclicker.json)
    target_link_libraries(movanta_helpclicker PRIVATE Qt5::Widgets)
    set_target_properties(movanta_helpclicker PROPERTIES
        LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests/package/plugins/generic)

    add_test(NAME package.deb
             COMMAND ${CMAKE_SOURCE_DIR}/tests/support/netns-run.sh sh
                     ${CMAKE_SOURCE_DIR}/tests/package/check-package.sh ${CMAKE_BINARY_DIR}
                     ${CMAKE_BINARY_DIR}/tests/package/plugins)
    set_tests_properties(package.deb PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 900 LABELS package RUN_SERIAL TRUE)
endif()
