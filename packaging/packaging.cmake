# What `cmake --install` puts where, and what cpack makes of it: a .deb on
# Linux (cpack -G DEB), a .zip on the Windows build (cpack -G ZIP).

set(packaging_dir ${PROJECT_SOURCE_DIR}/packaging)

set(CPACK_PACKAGE_NAME tavoctl)
set(CPACK_PACKAGE_VENDOR "The tavoctl authors")
set(CPACK_PACKAGE_CONTACT "The tavoctl authors <tavoctl@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "send key codes and channel changes to a Tavo USB controller")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)

if(WIN32)
  # One folder to unpack anywhere: the program and its two texts.
  install(TARGETS tavoctl RUNTIME DESTINATION .)
  install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION .)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME tavoctl-${PROJECT_VERSION}-windows-x64)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
else()
  install(TARGETS tavoctl RUNTIME DESTINATION bin)
  install(FILES ${packaging_dir}/tavoctl.1 DESTINATION share/man/man1)
  install(FILES ${packaging_dir}/60-tavoctl.rules DESTINATION lib/udev/rules.d)
  install(FILES ${packaging_dir}/tavoctl.bash-completion
          DESTINATION share/bash-completion/completions RENAME tavoctl)
  install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION share/doc/tavoctl)

  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  # tavoctl_1.0.0_amd64.deb; the ARM cross builds' toolchain files set
  # CPACK_DEBIAN_PACKAGE_ARCHITECTURE (arm64, armhf), which dpkg would take
  # from the build machine.
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  # Depends from the libraries tavoctl links. For an ARM build dpkg-shlibdeps
  # finds them as this machine's foreign-architecture packages (libc6:arm64
  # and so on, tools/install-deps arm): the cross toolchains' own copies under
  # /usr/<triple> would name the -cross packages, without versions.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  string(CONCAT CPACK_PACKAGE_DESCRIPTION
      "tavoctl drives the Tavo USB controller (USB HID, 6666:f100), whose two\n"
      "outputs relay key codes to TV set-top boxes. It sends raw key codes,\n"
      "changes channel with the complete key sequence and its pause, and uploads\n"
      "the controller's setup. It is meant for a recorder's channel-change hook.\n"
      "The udev rule gives the user at the seat and group plugdev access to\n"
      "controllers, and names them under /dev/tavo/ by USB port and serial.")
  # The udev rule takes effect on install and removal; both fail soft where
  # udev is not running.
  set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${packaging_dir}/deb/postinst ${packaging_dir}/deb/postrm)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
  # Debian's layout inside the staged tree: the copyright file in place of
  # LICENSE, the changelog, the manual page compressed.
  set(CPACK_TAVOCTL_PACKAGING_DIR ${packaging_dir})
  set(CPACK_PRE_BUILD_SCRIPTS ${packaging_dir}/deb/stage.cmake)
  # lintian 2.116 (Debian 12) on the result, which tools/check runs, reports
  # neither errors nor warnings, for amd64, arm64 and armhf alike. Its
  # informational tags about hardening go away with cmake/hardening.cmake;
  # what remains with --info is binary-has-unneeded-section .comment: cpack
  # strips with plain `strip` (the cross builds with the target's), which
  # keeps the compiler's version note.
endif()

include(CPack)
