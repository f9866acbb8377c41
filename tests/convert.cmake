add_executable(convert_test convert_test.cpp)
target_link_libraries(convert_test PRIVATE dsd_convert dsd_testgen dsd_test_support GTest::gtest_main)
gtest_discover_tests(convert_test)

add_executable(convert_cli_test convert_cli_test.cpp)
target_link_libraries(convert_cli_test PRIVATE dsd_common dsd_testgen dsd_test_support
  GTest::gtest_main)
dsd_test_uses_programs(convert_cli_test)
gtest_discover_tests(convert_cli_test PROPERTIES TIMEOUT 600)

# Links, staging, signals, standard output and non-regular inputs.
add_executable(output_safety_test output_safety_test.cpp)
target_link_libraries(output_safety_test PRIVATE dsd_testgen dsd_test_support GTest::gtest_main)
dsd_test_uses_programs(output_safety_test)
gtest_discover_tests(output_safety_test PROPERTIES TIMEOUT 600)

# Options, batches and the progress line.
add_executable(batch_cli_test batch_cli_test.cpp)
target_link_libraries(batch_cli_test PRIVATE dsd_testgen dsd_test_support GTest::gtest_main)
dsd_test_uses_programs(batch_cli_test)
gtest_discover_tests(batch_cli_test PROPERTIES TIMEOUT 600)
