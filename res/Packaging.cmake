# The Debian package: `cpack -G DEB` in the build folder writes clipwright_VERSION_ARCH.deb with
# everything the install rules put under /usr.
set(CPACK_PACKAGE_NAME clipwright)
set(CPACK_PACKAGE_VENDOR Norvale)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "repair cut-off AVI recordings of QC-7 network cameras")
set(CPACK_PACKAGE_DESCRIPTION
    "Clipwright repairs AVI recordings from QC-7 series network cameras that were\n"
    "cut off before the camera could finalise them, so that they play in any\n"
    "player. The recording it starts from is never lost, whatever fails.\n"
    "\n"
    "The package holds the desktop program Clipwright, which file managers offer\n"
    "for AVI files, and the command-line tool clipwright-cli.")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CLIPWRIGHT_MAINTAINER "Norvale <clipwright@norvale.example>"
    CACHE STRING "Maintainer named in the Debian package")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${CLIPWRIGHT_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Qt loads its windowing plugin at run time, out of sight of dpkg-shlibdeps; without it the desktop
# program cannot open a window.
set(CPACK_DEBIAN_PACKAGE_DEPENDS qt6-qpa-plugins)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
