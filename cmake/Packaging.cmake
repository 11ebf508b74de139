# A Debian package of the tool, the library and the wrapper: `cpack -G DEB` in the build tree.
# The native libraries' packages come from dpkg-shlibdeps; the runtime's managed class
# libraries and configuration are named here, since nothing links against them.
set(CPACK_PACKAGE_NAME cosmos-backup)
set(CPACK_PACKAGE_VENDOR "CloudSDKCppBridge")
set(CPACK_PACKAGE_CONTACT "cosmos-backup maintainers <root@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Back up and restore Azure Cosmos DB containers")
set(CPACK_PACKAGE_INSTALL_DIRECTORY cosmos-backup)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR}/lib)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
  "libmono-2.0-1, mono-runtime-common, libmono-corlib4.5-cil, libmono-system4.0-cil, libmono-system-core4.0-cil, libmono-system-net-http4.0-cil, libnewtonsoft-json5.0-cil")
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)
include(CPack)
