enable_testing()
include(GoogleTest)

# lumra_test(<target> <sources…>): a GoogleTest executable run by CTest.
function(lumra_test target)
  add_executable(${target} ${ARGN})
  target_link_libraries(${target} PRIVATE TestSupport GTest::gtest_main GTest::gmock)
  gtest_discover_tests(${target} TEST_PREFIX "${target}." DISCOVERY_TIMEOUT 30)
endfunction()
