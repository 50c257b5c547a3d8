# Installs the program where desktops look for it, builds a Debian package of it with
# `cpack -G DEB`, and checks both.

include(GNUInstallDirs)

# One reverse-DNS id names the desktop file, the AppStream component and the icon: software
# centres match them to each other by that name.
set(MP3CUTTER_APP_ID com.example.mp3cutter)

install(TARGETS mp3cutter RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# Where the program looks for it, relative to itself.
install(TARGETS mp3cutter-window mp3cutter-player mp3cutter-tags LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}/mp3cutter)
install(FILES ${CMAKE_SOURCE_DIR}/dist/${MP3CUTTER_APP_ID}.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${CMAKE_SOURCE_DIR}/dist/${MP3CUTTER_APP_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
# The source keeps the short name because the program also builds it in as its window icon.
install(FILES ${CMAKE_SOURCE_DIR}/dist/mp3cutter.png
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/48x48/apps
        RENAME ${MP3CUTTER_APP_ID}.png)

set(CPACK_PACKAGE_NAME mp3cutter)
set(CPACK_PACKAGE_VENDOR "Qinghe")
set(CPACK_PACKAGE_CONTACT "Qinghe <mp3cutter@example.com>")
set(CPACK_PACKAGE_HOMEPAGE_URL "https://www.example.com/")
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The first line of the description is the project's DESCRIPTION; this is the rest.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Qinghe MP3 Cutter (青禾MP3剪切器) opens an MP3 file, lets you hear it and choose
where the ringtone starts and ends, and saves that part as a new MP3 file.
The part is copied from the original frames without re-encoding.")
# dpkg-shlibdeps finds the libraries the binary links, with their minimum versions; what
# Qt loads at run time it cannot see: the platform plugin that opens a window, the
# GStreamer elements that decode MP3 for Qt Multimedia, and a font with Chinese glyphs.
# The Qt libraries are named as well, so the list does not hang on dpkg-shlibdeps alone.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6core6 (>= 6.4), libqt6gui6 (>= 6.4), libqt6widgets6 (>= 6.4), \
libqt6multimedia6 (>= 6.4), qt6-qpa-plugins (>= 6.4), gstreamer1.0-plugins-base, \
gstreamer1.0-plugins-good, gstreamer1.0-libav, fonts-noto-cjk")
# Without it the file dialogs speak English beside the Chinese window; everything still works.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-translations-l10n")
include(CPack)

# A checker that is not installed must fail its test, saying where to get it, rather than
# let the test be skipped and a broken file go out.
function(mp3cutter_add_tool_test name tool)
    add_test(NAME ${name}
             COMMAND sh -c "command -v ${tool} >/dev/null || { echo '${tool} is missing: scripts/install-deps installs it' >&2; exit 1; }; exec ${tool} \"$@\""
                     ${tool} ${ARGN})
    set_tests_properties(${name} PROPERTIES LABELS packaging)
endfunction()

mp3cutter_add_tool_test(packaging.desktop-file desktop-file-validate
    ${CMAKE_SOURCE_DIR}/dist/${MP3CUTTER_APP_ID}.desktop)
mp3cutter_add_tool_test(packaging.metainfo appstreamcli validate --no-net --strict
    ${CMAKE_SOURCE_DIR}/dist/${MP3CUTTER_APP_ID}.metainfo.xml)

# Both run the install rules of this build tree, so they take turns.
add_test(NAME packaging.install
         COMMAND bash ${CMAKE_SOURCE_DIR}/scripts/check-install ${CMAKE_BINARY_DIR} ${MP3CUTTER_APP_ID})
add_test(NAME packaging.deb
         COMMAND bash ${CMAKE_SOURCE_DIR}/scripts/check-deb ${CMAKE_BINARY_DIR} ${MP3CUTTER_APP_ID}
                 ${PROJECT_VERSION})
set_tests_properties(packaging.install PROPERTIES LABELS packaging RESOURCE_LOCK install-rules)
set_tests_properties(packaging.deb PROPERTIES LABELS "packaging;deb" RESOURCE_LOCK install-rules TIMEOUT 900)
