# SPDX-License-Identifier: GPL-3.0-or-later
# Debian package of veld and veld-gui: cpack -G DEB in the build folder gives veld_<version>_<arch>.deb.
# Shared-library dependencies come from dpkg-shlibdeps; the Qt plug-ins that the window loads at run
# time (platform integration, SVG icons) are not linked and are named here.
set(CPACK_PACKAGE_NAME veld)
set(CPACK_PACKAGE_VENDOR "The VELD project")
set(CPACK_PACKAGE_CONTACT "VELD developers <dev@veld.invalid>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
# A Debian revision of its own: the package is built from the upstream tree, with its own changelog.
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Extract and replace the button images of Blu-ray menus")
set(CPACK_PACKAGE_DESCRIPTION
    "VELD takes the button pictures of the HDMV interactive graphics (IG) menus of a Blu-ray BDMV\n\
folder out as 256-colour GIF files and puts edited pictures back: it rebuilds the menu stream,\n\
remultiplexes the clip and writes the matching clip information and playlist files.\n\
Command line: veld. Desktop window: veld-gui.")
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
if(VELD_GUI)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, libqt6svg6")
  set(CPACK_DEBIAN_PACKAGE_SUGGESTS "fonts-noto-cjk | fonts-wqy-microhei")
endif()
add_subdirectory(${PROJECT_SOURCE_DIR}/packaging ${PROJECT_BINARY_DIR}/packaging)
include(CPack)
