# Test helpers shared by every test folder.

if(PASOTUNE_WINE)
  # Each run of the suite makes the Wine prefix afresh, then every test that
  # runs under Wine uses it; test discovery at build time makes it if missing.
  set(PASOTUNE_WINEPREFIX ${CMAKE_BINARY_DIR}/wine-prefix)
  add_test(NAME wine.prefix.make
    COMMAND ${PROJECT_SOURCE_DIR}/cmake/wine-prefix.sh ${PASOTUNE_WINEPREFIX})
  set_tests_properties(wine.prefix.make PROPERTIES FIXTURES_SETUP wine_prefix TIMEOUT 300)
  add_test(NAME wine.prefix.stop
    COMMAND ${PROJECT_SOURCE_DIR}/cmake/wine-prefix.sh ${PASOTUNE_WINEPREFIX} --stop)
  set_tests_properties(wine.prefix.stop PROPERTIES FIXTURES_CLEANUP wine_prefix)
endif()

# Every test name once: CTest finds a fixture's tests by name.
add_test(NAME tests.names.unique
  COMMAND ${CMAKE_COMMAND} -DBUILD_DIR=${CMAKE_BINARY_DIR}
    -P ${PROJECT_SOURCE_DIR}/cmake/unique-test-names.cmake)

# gtest_discover_tests, plus the fresh Wine prefix for the Windows build.
# Values of PROPERTIES must not hold semicolons.
function(pasotune_discover_tests target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "DISCOVERY_TIMEOUT" "PROPERTIES")
  set(properties ${arg_PROPERTIES})
  set(timeout ${arg_DISCOVERY_TIMEOUT})
  if(NOT timeout)
    set(timeout 60)
  endif()
  if(PASOTUNE_WINE)
    list(APPEND properties FIXTURES_REQUIRED wine_prefix)
    # The first discovery makes the Wine prefix.
    set(timeout 300)
  endif()
  if(properties)
    gtest_discover_tests(${target} ${arg_UNPARSED_ARGUMENTS} DISCOVERY_TIMEOUT ${timeout}
      PROPERTIES ${properties})
  else()
    gtest_discover_tests(${target} ${arg_UNPARSED_ARGUMENTS} DISCOVERY_TIMEOUT ${timeout})
  endif()
endfunction()

# For a test added with add_test that runs a Windows program.
function(pasotune_wine_test name)
  if(PASOTUNE_WINE)
    set_property(TEST ${name} APPEND PROPERTY FIXTURES_REQUIRED wine_prefix)
  endif()
endfunction()

# Tests that start pasotune or Velkor.exe on port 9000 run in private PID,
# mount and network namespaces (scripts/private-world.sh), so they can
# neither end nor be ended by another run's engine, nor a user's. Where the
# machine gives no namespaces they share CTest's resource lock instead.
if(NOT PASOTUNE_WINE AND NOT DEFINED PASOTUNE_PRIVATE_WORLD)
  execute_process(COMMAND ${PROJECT_SOURCE_DIR}/scripts/private-world.sh --check
    RESULT_VARIABLE private_world_rc OUTPUT_QUIET ERROR_QUIET)
  if(private_world_rc EQUAL 0)
    set(PASOTUNE_PRIVATE_WORLD ${PROJECT_SOURCE_DIR}/scripts/private-world.sh)
    message(STATUS "Engine tests run in private namespaces")
  else()
    set(PASOTUNE_PRIVATE_WORLD "")
    message(STATUS "No namespaces here: engine tests take turns under a resource lock")
  endif()
endif()

# The command prefix for such a test, and what it needs beside it:
#   add_test(NAME x COMMAND ${PASOTUNE_IN_PRIVATE_WORLD} prog ...)
#   pasotune_engine_test(x)
set(PASOTUNE_IN_PRIVATE_WORLD ${PASOTUNE_PRIVATE_WORLD})
function(pasotune_engine_test)
  if(NOT PASOTUNE_PRIVATE_WORLD)
    set_tests_properties(${ARGN} PROPERTIES RESOURCE_LOCK velkor_engine)
  endif()
endfunction()
# The same for every test discovered in a GoogleTest executable.
function(pasotune_engine_test_target target)
  if(PASOTUNE_PRIVATE_WORLD)
    set_target_properties(${target} PROPERTIES CROSSCOMPILING_EMULATOR ${PASOTUNE_PRIVATE_WORLD})
  endif()
endfunction()
