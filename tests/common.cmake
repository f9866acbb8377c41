add_executable(common_test common_test.cpp)
target_link_libraries(common_test PRIVATE dsd_common dsd_test_support GTest::gtest_main)
gtest_discover_tests(common_test)
