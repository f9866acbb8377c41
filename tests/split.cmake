add_executable(split_test split_test.cpp)
target_link_libraries(split_test PRIVATE dsd_convert dsd_testgen GTest::gtest_main)
gtest_discover_tests(split_test)

add_executable(split_cli_test split_cli_test.cpp)
target_link_libraries(split_cli_test PRIVATE dsd_testgen dsd_test_support GTest::gtest_main)
dsd_test_uses_programs(split_cli_test)
gtest_discover_tests(split_cli_test PROPERTIES TIMEOUT 900)
