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
