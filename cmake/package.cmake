# The Debian package: `cpack -G DEB` in a release build (scripts/package.sh).
# Its dependencies are the packages of the shared libraries the tools link,
# as dpkg-shlibdeps finds them; cmake/package_check.cmake stops the package
# build when that cannot be done.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME updatetool)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "updatetool maintainers <updatetool@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "flash maintenance of XScale modules, rehearsed on a simulated module")
string(CONCAT CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Update Tool updates the bootloader or operating-system image in the boot\n"
    "flash of a PXA27x (NOR) or PXA3xx (NAND) module from a Windows CE .bin\n"
    "image, saves and clears the registry in flash and reports versions.\n"
    "This package runs it on simulated modules: updatetool, modulectl to\n"
    "create and inspect modules, mkbin to build images.")
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_SOURCE_DIR}/cmake/package_check.cmake)
include(CPack)
