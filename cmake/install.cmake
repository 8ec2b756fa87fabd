# Installation and packages. An installed packer is a tree of its own:
#   <prefix>/bin/zembra (zembra.exe on Windows)
#   <prefix>/lib/zembra/stubs/{windows-x64.exe,linux-x64}
#   <prefix>/share/zembra/res/{launcher.manifest,icons/}
# The packer finds the rest relative to itself, so the tree can be moved.
# Each tree links only its own system's stub; the other one is taken from
# the shared stage, so build both trees first (scripts/build.sh).
#
#   cmake --install build/native --prefix P     installs the Linux packer in P
#   (cd build/native && cpack -G DEB)           the Debian package
#   (cd build/windows && cpack -G ZIP)          the Windows packer as one zip
set(STUB_DIR "${STAGE_DIR}/lib/zembra/stubs")
install(TARGETS zembra RUNTIME DESTINATION bin)
install(FILES "${CMAKE_SOURCE_DIR}/res/launcher.manifest" DESTINATION share/zembra/res)
install(DIRECTORY "${CMAKE_SOURCE_DIR}/res/icons" DESTINATION share/zembra/res)
if(WIN32)
  install(TARGETS windows_stub RUNTIME DESTINATION lib/zembra/stubs)
  install(PROGRAMS "${STUB_DIR}/linux-x64" DESTINATION lib/zembra/stubs)
else()
  install(TARGETS linux_stub RUNTIME DESTINATION lib/zembra/stubs)
  install(FILES "${STUB_DIR}/windows-x64.exe" DESTINATION lib/zembra/stubs)
endif()

set(CPACK_PACKAGE_NAME zembra)
set(CPACK_PACKAGE_VENDOR "zembra")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Packs an application directory into one self-unpacking launcher")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_CONTACT "zembra developers <zembra@localhost>")
# Everything is installed as built: the stubs are already stripped, and
# stripping them again could change their bytes.
set(CPACK_STRIP_FILES OFF)
if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_SYSTEM_NAME windows-x64)
  set(CPACK_PACKAGE_FILE_NAME "zembra-${PROJECT_VERSION}-windows-x64")
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION devel)
  # The launchers it writes need nothing at all; the packer itself needs
  # only the C and C++ runtime libraries, which dpkg-shlibdeps names.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
endif()
include(CPack)
