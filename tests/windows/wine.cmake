# Cross-built for Windows, the test programs run under Wine (through
# CMAKE_CROSSCOMPILING_EMULATOR), in a throwaway prefix this build owns.
set(wine ${CMAKE_CURRENT_LIST_DIR}/wine)
set(wine_prefix ${CMAKE_BINARY_DIR}/wine-prefix)
set(CMAKE_CROSSCOMPILING_EMULATOR ${wine} ${wine_prefix} run)

# Creating a prefix takes several seconds and prints lines nothing silences:
# do it once, at build time, outside every test's time. A copy of it as made,
# which no program ever runs in, is where a test that needs a prefix of its
# own copies one from: the tests' prefix changes under a copy while they run.
set(wine_prefix_as_made ${CMAKE_BINARY_DIR}/wine-prefix-as-made)
add_custom_command(
  OUTPUT ${wine_prefix}/.created
  COMMAND ${wine} ${wine_prefix} create
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${wine_prefix_as_made}
  COMMAND cp -a ${wine_prefix} ${wine_prefix_as_made}
  COMMAND ${CMAKE_COMMAND} -E touch ${wine_prefix}/.created
  DEPENDS ${wine} ${CMAKE_CURRENT_LIST_FILE}
  COMMENT "Creating the Wine prefix for the tests"
  VERBATIM)
add_custom_target(wine_prefix ALL DEPENDS ${wine_prefix}/.created)

# One wineserver, with the prefix's services up, for the whole test run:
# without it every program would wait for Wine to start again.
add_test(NAME wine_start COMMAND ${wine} ${wine_prefix} start)
set_tests_properties(wine_start PROPERTIES FIXTURES_SETUP wine)
add_test(NAME wine_stop COMMAND ${wine} ${wine_prefix} stop)
set_tests_properties(wine_stop PROPERTIES FIXTURES_CLEANUP wine)

# Test discovery runs before the fixture, on a cold Wine.
# PROPERTIES last, so that a caller can add properties of its own.
set(gtest_platform_args DISCOVERY_TIMEOUT 60 PROPERTIES FIXTURES_REQUIRED wine)
