# Tests that only the Windows build has.

# run_process() quotes each argument into one command line; a child that
# shows what it received checks that every argument comes back unchanged.
add_executable(show_args ${CMAKE_CURRENT_LIST_DIR}/show_args.cpp)
target_link_libraries(show_args PRIVATE tavoctl_warnings)
target_sources(process_tests PRIVATE ${CMAKE_CURRENT_LIST_DIR}/run_process_test.cpp)
target_compile_definitions(process_tests PRIVATE SHOW_ARGS="$<TARGET_FILE:show_args>")
add_dependencies(process_tests show_args)

# The real backend's write, whose wait is bounded, against pipes that take,
# refuse or stall it.
add_executable(windows_backend_tests ${CMAKE_CURRENT_LIST_DIR}/hid_write_test.cpp)
target_link_libraries(windows_backend_tests PRIVATE hid_backend platform_backend GTest::gtest_main)
target_include_directories(windows_backend_tests PRIVATE ${PROJECT_SOURCE_DIR}/usb)
gtest_discover_tests(windows_backend_tests DISCOVERY_MODE PRE_TEST ${gtest_platform_args})

if(CMAKE_CROSSCOMPILING)
  # tavoctl.exe has to run on a Windows machine with nothing installed.
  add_test(NAME tavoctl_imports_only_system_dlls
           COMMAND ${CMAKE_CURRENT_LIST_DIR}/imports_test ${CMAKE_OBJDUMP} $<TARGET_FILE:tavoctl>)
  # Not a Wine test, but test discovery leaves a wineserver up (see
  # tests/windows/wine) that only the fixture's end stops, whatever is run.
  set_tests_properties(tavoctl_imports_only_system_dlls PROPERTIES FIXTURES_REQUIRED wine)
endif()

# A Windows set up for Czech, as Wine takes it from the locale: ANSI code page
# 1250, OEM code page 852 on a console, the system's own texts in Czech.
# There a console must show every character, pipes must get UTF-8, and the
# program's messages must carry the system's texts in UTF-8.
# The console's writer is tried on its own too, with memory refused.
add_executable(czech_windows_tests
  ${CMAKE_CURRENT_LIST_DIR}/console_test.cpp ${CMAKE_CURRENT_LIST_DIR}/hold_test.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/process_harness.cpp ${CMAKE_CURRENT_SOURCE_DIR}/run_process.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/refused_allocations.cpp)
target_include_directories(czech_windows_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/usb)
target_link_libraries(czech_windows_tests PRIVATE platform_backend GTest::gtest_main)
target_compile_definitions(czech_windows_tests PRIVATE TAVOCTL_FAKE="$<TARGET_FILE:tavoctl_fake>")
add_dependencies(czech_windows_tests tavoctl_fake)
# The fake's device paths name the same holds as the process tests' runs.
gtest_discover_tests(czech_windows_tests DISCOVERY_MODE PRE_TEST ${process_test_args}
                     ENVIRONMENT TAVOCTL_WINE_LOCALE=cs_CZ.UTF-8)

# The MSI of this build, installed, found on PATH by a new process, and
# uninstalled without a trace, in a copy of the tests' prefix as made.
if(CMAKE_CROSSCOMPILING AND WIXL AND MSIBUILD AND MSIINFO)
  add_custom_target(msi_for_tests ALL)
  add_dependencies(msi_for_tests msi)
  add_test(NAME msi_install_and_uninstall
           COMMAND ${CMAKE_CURRENT_LIST_DIR}/installer_test ${wine} ${wine_prefix_as_made} ${TAVOCTL_MSI}
                   $<TARGET_FILE:tavoctl> ${TAVOCTL_MANUAL_HTML} ${PROJECT_VERSION})
  set_tests_properties(msi_install_and_uninstall PROPERTIES FIXTURES_REQUIRED wine)
else()
  message(STATUS "MSI test: left out (no wixl and msitools; tools/install-deps windows)")
endif()
