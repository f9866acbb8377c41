add_executable(split_test split_test.cpp)
target_link_libraries(split_test PRIVATE dsd_convert dsd_testgen GTest::gtest_main)
gtest_discover_tests(split_test)
