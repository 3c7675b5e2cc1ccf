# Fails when two tests of a build tree share a name. CTest ties a fixture's
# cleanup to the names of the tests that need it, so with a twin it can end
# the Wine prefix while the other twin still runs.
#   cmake -DBUILD_DIR=<build tree> -P unique-test-names.cmake
# Reads the tree's CTestTestfile.cmake files the way CTest does, without
# running CTest (which would overwrite the log of the run it sits in).

cmake_minimum_required(VERSION 3.25)

# Global, since the testfiles nest through functions; one property per name,
# since a name may hold what a CMake list would split on or join across.
set_property(GLOBAL PROPERTY test_count 0)
set_property(GLOBAL PROPERTY test_twins "")

function(add_test name)
  get_property(seen GLOBAL PROPERTY "test:${name}" SET)
  if(seen)
    set_property(GLOBAL APPEND_STRING PROPERTY test_twins "  ${name}\n")
  endif()
  set_property(GLOBAL PROPERTY "test:${name}" 1)
  get_property(count GLOBAL PROPERTY test_count)
  math(EXPR count "${count} + 1")
  set_property(GLOBAL PROPERTY test_count ${count})
endfunction()

function(set_tests_properties)
endfunction()

function(subdirs)
  set(parent "${current_dir}")
  foreach(sub ${ARGV})
    set(current_dir "${parent}/${sub}")
    if(EXISTS "${current_dir}/CTestTestfile.cmake")
      include("${current_dir}/CTestTestfile.cmake")
    endif()
  endforeach()
endfunction()

if(NOT BUILD_DIR OR NOT EXISTS "${BUILD_DIR}/CTestTestfile.cmake")
  message(FATAL_ERROR "usage: cmake -DBUILD_DIR=<build tree> -P unique-test-names.cmake")
endif()
set(current_dir "${BUILD_DIR}")
include("${BUILD_DIR}/CTestTestfile.cmake")

get_property(count GLOBAL PROPERTY test_count)
get_property(twins GLOBAL PROPERTY test_twins)
if(twins)
  message(FATAL_ERROR "Tests that share a name:\n${twins}")
endif()
message(STATUS "${count} tests, each with a name of its own")
