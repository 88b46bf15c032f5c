enable_testing()
include(GoogleTest)

# lumra_test(<target> <sources…>): a GoogleTest executable run by CTest.
function(lumra_test target)
  add_executable(${target} ${ARGN})
  target_link_libraries(${target} PRIVATE TestSupport GTest::gtest_main GTest::gmock)
  gtest_discover_tests(${target} TEST_PREFIX "${target}." DISCOVERY_TIMEOUT 30)
endfunction()

# lumra_scenario_test(<target> <sources…>): like lumra_test, for slow
# scenarios that run many real processes on a simulated machine. Their tests
# carry the label "scenario", which the sanitizer runs leave out: they add no
# threads of their own, and the plain run covers them.
function(lumra_scenario_test target)
  add_executable(${target} ${ARGN})
  target_link_libraries(${target} PRIVATE TestSupport GTest::gtest_main GTest::gmock)
  gtest_discover_tests(${target} TEST_PREFIX "${target}." DISCOVERY_TIMEOUT 30
    PROPERTIES LABELS scenario)
endfunction()
