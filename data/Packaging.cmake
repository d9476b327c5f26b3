# cpack -G DEB: a Debian 12 package of what `cmake --install` installs. scripts/package.sh
# makes it with Debian's build flags and checks it with lintian.
# FERROWICK_MAINTAINER and FERROWICK_DEB_VERSION come from the top folder (data/ uses them too).

set(CPACK_PACKAGE_NAME "ferrowick")
set(CPACK_PACKAGE_VENDOR "Ferrowick maintainers")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_CONTACT "${FERROWICK_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "viewer and exporter for iPhone backups made by iTunes")
set(CPACK_PACKAGE_DESCRIPTION
"Ferrowick opens the backups that iTunes makes of an iPhone on a computer and
shows what they hold, without the phone: text messages, call history, notes
and contacts as tables that save as CSV, the camera roll and voice
recordings, and the WeChat chat history with its pictures, videos and voice
messages. Every file of a backup can be exported into a folder with its
folder structure. Backups are only ever read, never written.")
set(CPACK_PACKAGING_INSTALL_PREFIX "${CMAKE_INSTALL_PREFIX}")
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR "DEB")

set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${FERROWICK_MAINTAINER}")
string(REGEX REPLACE ".*-" "" CPACK_DEBIAN_PACKAGE_RELEASE "${FERROWICK_DEB_VERSION}")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION "utils")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The libraries the program links come from dpkg-shlibdeps; these are loaded at run time:
# Qt's SQLite driver, its display plugins, WebEngine's helper process, node for the decoder.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "libqt6sql6-sqlite, qt6-qpa-plugins, libqt6webenginecore6-bin, nodejs")
# Qt's own dialogs in the user's language; a browser opener for Home and shared links.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-translations-l10n, xdg-utils")

include(CPack)
