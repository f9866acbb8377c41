# Tests of the rate rewriters: the chunk walks in memory, and the four
# programs run on real files. The time limit only turns a walk that loops
# into a failure instead of a stalled run.
add_executable(rate_walk_test rate_walk_test.cpp)
target_link_libraries(rate_walk_test PRIVATE dsd_rate dsd_testgen GTest::gtest_main)
gtest_discover_tests(rate_walk_test PROPERTIES TIMEOUT 60)

add_executable(rate_cli_test rate_cli_test.cpp)
target_link_libraries(rate_cli_test PRIVATE dsd_testgen dsd_test_support GTest::gtest_main)
dsd_test_uses_programs(rate_cli_test)
gtest_discover_tests(rate_cli_test PROPERTIES TIMEOUT 60)

# Files written by the converter itself.
add_executable(rate_converter_test rate_converter_test.cpp)
target_link_libraries(rate_converter_test PRIVATE dsd_testgen dsd_test_support GTest::gtest_main)
dsd_test_uses_programs(rate_converter_test)
gtest_discover_tests(rate_converter_test PROPERTIES TIMEOUT 60)
