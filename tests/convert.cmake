add_executable(convert_test convert_test.cpp)
target_link_libraries(convert_test PRIVATE dsd_convert dsd_testgen dsd_test_support GTest::gtest_main)
gtest_discover_tests(convert_test)

add_executable(convert_cli_test convert_cli_test.cpp)
target_link_libraries(convert_cli_test PRIVATE dsd_testgen dsd_test_support GTest::gtest_main)
target_compile_definitions(convert_cli_test PRIVATE
  DSF_DFF_CONVERT="$<TARGET_FILE:dsf-dff-convert>"
  DSF_DFF256_DUMMY="$<TARGET_FILE:dsf-dff256-dummy>")
add_dependencies(convert_cli_test dsf-dff-convert dsf-dff256-dummy)
gtest_discover_tests(convert_cli_test PROPERTIES TIMEOUT 600)
