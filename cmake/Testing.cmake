enable_testing()
include(GoogleTest)

# lumra_test_code(<target>): a test executable's own sources are compiled
# for a quick build, not for speed: in an optimised build they take half the
# compile time at -Og, and without debug information (GoogleTest names the
# file and line of a failure itself) about a third less again, while the
# code they test keeps the build's optimisation and debug information.
function(lumra_test_code target)
  target_compile_options(${target} PRIVATE "$<$<CONFIG:RelWithDebInfo,Release,MinSizeRel>:-Og;-g0>")
endfunction()

# lumra_test(<target> [SINGLE_THREADED] <sources…>): a GoogleTest executable
# run by CTest. SINGLE_THREADED says that neither the tests nor the code they
# drive start a thread: ThreadSanitizer would find nothing there, so its build
# neither builds nor runs them.
function(lumra_test target)
  cmake_parse_arguments(PARSE_ARGV 1 test "SINGLE_THREADED" "" "")
  if(test_SINGLE_THREADED AND LUMRA_SANITIZE STREQUAL "thread")
    add_executable(${target} EXCLUDE_FROM_ALL ${test_UNPARSED_ARGUMENTS})
  else()
    add_executable(${target} ${test_UNPARSED_ARGUMENTS})
  endif()
  target_link_libraries(${target} PRIVATE TestSupport GTest::gtest_main GTest::gmock)
  lumra_test_code(${target})
  if(NOT (test_SINGLE_THREADED AND LUMRA_SANITIZE STREQUAL "thread"))
    gtest_discover_tests(${target} TEST_PREFIX "${target}." DISCOVERY_TIMEOUT 30)
  endif()
endfunction()

# lumra_scenario_test(<target> <sources…>): like lumra_test, for slow
# scenarios that run many real processes on a simulated machine. Their tests
# carry the label "scenario". They add no threads of their own and the plain
# run covers them, so sanitizer builds neither build nor run them.
function(lumra_scenario_test target)
  if(LUMRA_SANITIZE)
    add_executable(${target} EXCLUDE_FROM_ALL ${ARGN})
  else()
    add_executable(${target} ${ARGN})
  endif()
  target_link_libraries(${target} PRIVATE TestSupport GTest::gtest_main GTest::gmock)
  lumra_test_code(${target})
  if(NOT LUMRA_SANITIZE)
    gtest_discover_tests(${target} TEST_PREFIX "${target}." DISCOVERY_TIMEOUT 30
      PROPERTIES LABELS scenario)
  endif()
endfunction()
