# The Debian package: `cpack -G DEB` in a configured build tree (scripts/package.sh makes a release one).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME halvex-linvera)
set(CPACK_PACKAGE_VENDOR HALVEX)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "URL shortening and preview utility (Kemo)")
# Lines under 80 characters, as the Debian control file wants them.
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
    "Kemo (H-Linvera) shortens long URLs through a shortening service and shows"
    "where short links lead without opening them: by local rewrite rules, by the"
    "service's information interface or by reading the redirect of a plain HTTP"
    "request. Live-video links show their channel title, picture-site links a"
    "preview picture. It comes with a command-line converter (linvera), a"
    "registry tool (linvera-reg) and a browser extension with its"
    "native-messaging host. The program's texts are Japanese.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "HALVEX <linvera@halvex.example>")
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://www.halvex.example/linvera/)
# The shared libraries are computed from the programs; what they load at run time is named here: the
# X11 platform plugin, a session bus for the mailbox and the automation interface, Qt's own Japanese
# texts, and the picture formats of the preview.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "qt6-qpa-plugins, qt6-translations-l10n, default-dbus-session-bus | dbus-session-bus")
# The screenshot portal reads the screen on Wayland desktops (with the desktop's own backend).
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-image-formats-plugins, xdg-utils, xdg-desktop-portal, qt6-wayland")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "chromium | firefox-esr")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
