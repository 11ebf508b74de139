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
# Without these the postinst compiles nothing ahead of time (mono --aot and its assembler).
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "mono-runtime, binutils")

# The runtime's class libraries compiled ahead of time at installation (postinst) and their
# images removed with the package (prerm); CPack's own postrm keeps running ldconfig, and the
# postinst runs it as CPack's would.
set(aot_script ${CPACK_PACKAGING_INSTALL_PREFIX}/${CLOUDSDK_INSTALL_LIBDIR}/aot-runtime-assemblies.sh)
set(aot_manifest_dir /var/lib/cosmos-backup)
set(aot_manifest ${aot_manifest_dir}/package-aot-images)
install(PROGRAMS ${CMAKE_SOURCE_DIR}/scripts/aot-runtime-assemblies.sh DESTINATION ${CLOUDSDK_INSTALL_LIBDIR})
foreach(script postinst prerm)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/debian/${script}.in ${CMAKE_BINARY_DIR}/debian/${script} @ONLY
    FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
  list(APPEND CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_BINARY_DIR}/debian/${script})
endforeach()
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)
include(CPack)
