# What `cmake --install` puts where, and what cpack makes of it: a .deb on
# Linux (cpack -G DEB), a .zip on the Windows build (cpack -G ZIP), whose
# MSI and winget manifests come from packaging/windows (target msi).

set(packaging_dir ${PROJECT_SOURCE_DIR}/packaging)

set(CPACK_PACKAGE_NAME tavoctl)
set(CPACK_PACKAGE_VENDOR "The tavoctl authors")
set(CPACK_PACKAGE_CONTACT "The tavoctl authors <tavoctl@example.org>")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)

if(WIN32)
  # The manual page is the reference; Windows has no man, so it comes as HTML.
  find_program(MANDOC mandoc)
  if(NOT MANDOC)
    message(FATAL_ERROR "The Windows build makes its manual with mandoc (tools/install-deps windows installs it)")
  endif()
  set(TAVOCTL_MANUAL_HTML ${CMAKE_BINARY_DIR}/tavoctl.html)
  add_custom_command(OUTPUT ${TAVOCTL_MANUAL_HTML}
    COMMAND sh -c "\"$1\" -Thtml \"$2\" >\"$3.new\" && mv \"$3.new\" \"$3\"" sh ${MANDOC}
            ${packaging_dir}/tavoctl.1 ${TAVOCTL_MANUAL_HTML}
    DEPENDS ${packaging_dir}/tavoctl.1
    COMMENT "Making the manual as HTML"
    VERBATIM)
  add_custom_target(manual_html ALL DEPENDS ${TAVOCTL_MANUAL_HTML})

  # One folder to unpack anywhere: the program, its manual and two texts.
  install(TARGETS tavoctl RUNTIME DESTINATION .)
  install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE ${TAVOCTL_MANUAL_HTML} DESTINATION .)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME tavoctl-${PROJECT_VERSION}-windows-x64)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
  set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "send key codes and channel changes to a Tavo USB controller")
  include(${packaging_dir}/windows/installer.cmake)
else()
  # Two packages: tavoctl, and tavoctl-lirc with the lircd driver where it
  # is built; tavoctl itself needs nothing of LIRC.
  install(TARGETS tavoctl RUNTIME DESTINATION bin COMPONENT tavoctl)
  install(FILES ${packaging_dir}/tavoctl.1 DESTINATION share/man/man1 COMPONENT tavoctl)
  install(FILES ${packaging_dir}/60-tavoctl.rules DESTINATION lib/udev/rules.d COMPONENT tavoctl)
  install(FILES ${packaging_dir}/tavoctl.bash-completion
          DESTINATION share/bash-completion/completions RENAME tavoctl COMPONENT tavoctl)
  install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION share/doc/tavoctl
          COMPONENT tavoctl)
  set(CPACK_COMPONENTS_ALL tavoctl)
  if(TAVOCTL_LIRC_BUILT)
    install(TARGETS tavo_lirc LIBRARY DESTINATION ${TAVOCTL_LIRC_PLUGIN_DIR} COMPONENT lirc)
    # Where Debian's lircd.conf includes remotes from, whatever the prefix:
    # lircd reads nothing else. A conffile: the lines a user adds stay.
    install(FILES ${packaging_dir}/lirc/tavo.lircd.conf DESTINATION /etc/lirc/lircd.conf.d COMPONENT lirc)
    list(APPEND CPACK_COMPONENTS_ALL lirc)
  endif()
  # tavoctl-mqtt, where the MQTT service is built: the program, its
  # configuration (a conffile), its manual page, and the unit and user that
  # run it under systemd.
  if(TAVOCTL_MQTT_BUILT)
    install(TARGETS tavoctl-mqtt RUNTIME DESTINATION bin COMPONENT mqtt)
    install(FILES ${packaging_dir}/mqtt/mqtt.conf DESTINATION /etc/tavoctl COMPONENT mqtt)
    install(FILES ${packaging_dir}/tavoctl-mqtt.8 DESTINATION share/man/man8 COMPONENT mqtt)
    install(FILES ${packaging_dir}/mqtt/tavoctl-mqtt.service DESTINATION lib/systemd/system COMPONENT mqtt)
    install(FILES ${packaging_dir}/mqtt/sysusers.conf DESTINATION lib/sysusers.d RENAME tavoctl-mqtt.conf
            COMPONENT mqtt)
    list(APPEND CPACK_COMPONENTS_ALL mqtt)
  endif()

  set(CPACK_GENERATOR DEB)
  set(CPACK_DEB_COMPONENT_INSTALL ON)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  # tavoctl_1.0.0_amd64.deb and tavoctl-lirc_1.0.0_amd64.deb; the ARM cross
  # builds' toolchain files set CPACK_DEBIAN_PACKAGE_ARCHITECTURE (arm64,
  # armhf), which dpkg would take from the build machine.
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  # Depends from the libraries each package's binaries link. For an ARM build
  # dpkg-shlibdeps finds them as this machine's foreign-architecture packages
  # (libc6:arm64 and so on, tools/install-deps arm): the cross toolchains'
  # own copies under /usr/<triple> would name the -cross packages, without
  # versions.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_TAVOCTL_PACKAGE_NAME tavoctl)
  # Each package's first line is its summary: no summary of the whole
  # project is set for them, or CPack would put it first in both.
  string(CONCAT CPACK_DEBIAN_TAVOCTL_DESCRIPTION
      "send key codes and channel changes to a Tavo USB controller\n"
      "tavoctl drives the Tavo USB controller (USB HID, 6666:f100), whose two\n"
      "outputs relay key codes to TV set-top boxes. It sends raw key codes,\n"
      "changes channel with the complete key sequence and its pause, and uploads\n"
      "the controller's setup. It is meant for a recorder's channel-change hook.\n"
      "The udev rule gives the user at the seat and group plugdev access to\n"
      "controllers, and names them under /dev/tavo/ by USB port and serial.")
  # The udev rule takes effect on install and removal; both fail soft where
  # udev is not running.
  set(CPACK_DEBIAN_TAVOCTL_PACKAGE_CONTROL_EXTRA ${packaging_dir}/deb/postinst ${packaging_dir}/deb/postrm)
  set(CPACK_DEBIAN_LIRC_PACKAGE_NAME tavoctl-lirc)
  # The driver sends to the controllers that tavoctl's udev rule names under
  # /dev/tavo/, the same way tavoctl does.
  set(CPACK_DEBIAN_LIRC_PACKAGE_DEPENDS "lirc, tavoctl (= ${PROJECT_VERSION})")
  set(CPACK_DEBIAN_LIRC_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_LIRC_PACKAGE_CONTROL_EXTRA ${packaging_dir}/lirc/conffiles)
  string(CONCAT CPACK_DEBIAN_LIRC_DESCRIPTION
      "lircd driver for the Tavo USB controller\n"
      "The lircd driver tavo lets every LIRC client (irsend, lirc_client\n"
      "programs, lircd's TCP port) send keys to the TV set-top boxes on the two\n"
      "outputs of a Tavo USB controller, one transmitter each, taking turns with\n"
      "tavoctl runs for the same output. It comes with remotes for the keys of\n"
      "Tavo and Tavo+ boxes. The driver links LIRC's library and is therefore\n"
      "distributed under the GNU GPL, version 2 or later.")
  set(CPACK_DEBIAN_MQTT_PACKAGE_NAME tavoctl-mqtt)
  # The service sends to the controllers that tavoctl's udev rule gives
  # group plugdev, the same way tavoctl does.
  set(CPACK_DEBIAN_MQTT_PACKAGE_DEPENDS "tavoctl (= ${PROJECT_VERSION})")
  set(CPACK_DEBIAN_MQTT_PACKAGE_SECTION net)
  set(CPACK_DEBIAN_MQTT_PACKAGE_CONTROL_EXTRA ${packaging_dir}/mqtt/conffiles ${packaging_dir}/mqtt/postinst
      ${packaging_dir}/mqtt/prerm ${packaging_dir}/mqtt/postrm)
  string(CONCAT CPACK_DEBIAN_MQTT_DESCRIPTION
      "MQTT service for the Tavo USB controller, with Home Assistant discovery\n"
      "tavoctl-mqtt keeps a connection to an MQTT broker and sends the keys,\n"
      "channel changes and setup uploads that the broker's clients publish to the\n"
      "TV set-top boxes on the two outputs of each Tavo USB controller plugged\n"
      "in, taking turns with tavoctl runs for the same output. Home Assistant\n"
      "finds every controller through MQTT discovery. A systemd unit runs it as\n"
      "a user of its own; it is enabled once its configuration names the broker.")
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
  # Debian's layout inside the staged trees: the copyright file in place of
  # LICENSE, the changelog, the manual page compressed.
  set(CPACK_TAVOCTL_PACKAGING_DIR ${packaging_dir})
  set(CPACK_PRE_BUILD_SCRIPTS ${packaging_dir}/deb/stage.cmake)
  # lintian 2.116 (Debian 12) on the results, which tools/check runs, reports
  # neither errors nor warnings, for amd64, arm64 and armhf alike. Its
  # informational tags about hardening go away with cmake/hardening.cmake;
  # what remains with --info is binary-has-unneeded-section .comment: cpack
  # strips with plain `strip` (the cross builds with the target's), which
  # keeps the compiler's version note.
endif()

include(CPack)
