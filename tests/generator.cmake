# The test-data generator's own command line, and what readers see in the
# tags it writes.
add_executable(generator_test generator_test.cpp)
target_link_libraries(generator_test PRIVATE dsd_testgen dsd_test_support GTest::gtest_main)
target_compile_definitions(generator_test PRIVATE DSF_GEN="$<TARGET_FILE:dsf-gen>")
add_dependencies(generator_test dsf-gen)
gtest_discover_tests(generator_test)
