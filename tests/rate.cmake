# Tests of the rate rewriters: the chunk walks in memory, and the four
# programs run on real files. The time limit only turns a walk that loops
# into a failure instead of a stalled run.
add_executable(rate_walk_test rate_walk_test.cpp)
target_link_libraries(rate_walk_test PRIVATE dsd_rate dsd_testgen GTest::gtest_main)
gtest_discover_tests(rate_walk_test PROPERTIES TIMEOUT 60)

add_executable(rate_cli_test rate_cli_test.cpp)
target_link_libraries(rate_cli_test PRIVATE dsd_testgen dsd_test_support GTest::gtest_main)
target_compile_definitions(rate_cli_test PRIVATE
  DFF_RATE_SET_64="$<TARGET_FILE:dff-rate-set-64>"
  DFF_RATE_SET_128="$<TARGET_FILE:dff-rate-set-128>"
  DFF_RATE_SET_256="$<TARGET_FILE:dff-rate-set-256>"
  WAV_RATE_SET="$<TARGET_FILE:wav-rate-set>")
add_dependencies(rate_cli_test dff-rate-set-64 dff-rate-set-128 dff-rate-set-256 wav-rate-set)
gtest_discover_tests(rate_cli_test PROPERTIES TIMEOUT 60)

# Files written by the converter itself.
add_executable(rate_converter_test rate_converter_test.cpp)
target_link_libraries(rate_converter_test PRIVATE dsd_testgen dsd_test_support GTest::gtest_main)
target_compile_definitions(rate_converter_test PRIVATE
  DSF_DFF_CONVERT="$<TARGET_FILE:dsf-dff-convert>"
  DFF_RATE_SET_64="$<TARGET_FILE:dff-rate-set-64>"
  DFF_RATE_SET_128="$<TARGET_FILE:dff-rate-set-128>"
  DFF_RATE_SET_256="$<TARGET_FILE:dff-rate-set-256>")
add_dependencies(rate_converter_test dsf-dff-convert dff-rate-set-64 dff-rate-set-128
  dff-rate-set-256)
gtest_discover_tests(rate_converter_test PROPERTIES TIMEOUT 60)
