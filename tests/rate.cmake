# Tests of the rate rewriters: the chunk walks in memory, and the four
# programs run on real files. The time limit only turns a walk that loops
# into a failure instead of a stalled run.
add_executable(rate_walk_test rate_walk_test.cpp)
target_link_libraries(rate_walk_test PRIVATE dsd_rate dsd_testgen GTest::gtest_main)
gtest_discover_tests(rate_walk_test PROPERTIES TIMEOUT 60)
