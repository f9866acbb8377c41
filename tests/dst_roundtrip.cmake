# The DST decoder against the test generator's encoder, and FFmpeg against
# the generated DST files (skipped without ffmpeg).
add_executable(dst_roundtrip_test dst_roundtrip_test.cpp)
target_link_libraries(dst_roundtrip_test PRIVATE dsd_dst dsd_testgen dsd_test_support
  GTest::gtest_main)
gtest_discover_tests(dst_roundtrip_test PROPERTIES TIMEOUT 600)
