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
target_link_libraries(windows_backend_tests PRIVATE hid_platform tavo_usb GTest::gtest_main)
gtest_discover_tests(windows_backend_tests DISCOVERY_MODE PRE_TEST ${gtest_platform_args})

if(CMAKE_CROSSCOMPILING)
  # tavoctl.exe has to run on a Windows machine with nothing installed.
  add_test(NAME tavoctl_imports_only_system_dlls
           COMMAND ${CMAKE_CURRENT_LIST_DIR}/imports_test ${CMAKE_OBJDUMP} $<TARGET_FILE:tavoctl>)

  # The Linux build of the same sources, whose output the real tavoctl.exe
  # must match under Wine.
  include(ExternalProject)
  ExternalProject_Add(linux_tavoctl
    SOURCE_DIR ${PROJECT_SOURCE_DIR}
    BINARY_DIR ${CMAKE_BINARY_DIR}/linux-tavoctl
    CMAKE_ARGS -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DCMAKE_CXX_COMPILER=g++
               -DCMAKE_COMPILE_WARNING_AS_ERROR=${CMAKE_COMPILE_WARNING_AS_ERROR}
    BUILD_ALWAYS ON
    INSTALL_COMMAND "")
  add_test(NAME real_tavoctl_matches_linux
           COMMAND ${CMAKE_CURRENT_LIST_DIR}/real_tavoctl_test ${wine} ${wine_prefix} $<TARGET_FILE:tavoctl>
                   ${CMAKE_BINARY_DIR}/linux-tavoctl/tavoctl)
  set_tests_properties(real_tavoctl_matches_linux PROPERTIES FIXTURES_REQUIRED wine)
endif()
