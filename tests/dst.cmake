# The DST codec, against frames the test encoder builds.
add_library(dsd_dst_frames STATIC dst_frame_builder.cpp)
target_include_directories(dsd_dst_frames PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(dsd_dst_frames PUBLIC dsd_testgen)

add_executable(dst_decoder_test dst_decoder_test.cpp)
target_link_libraries(dst_decoder_test PRIVATE dsd_dst dsd_dst_frames GTest::gtest_main)
gtest_discover_tests(dst_decoder_test)

# The decoder's speed on realistic frames; built only when asked for
# (cmake --build build/release --target dst_bench).
add_executable(dst_bench EXCLUDE_FROM_ALL ${PROJECT_SOURCE_DIR}/bench/dst_bench.cpp)
target_link_libraries(dst_bench PRIVATE dsd_dst dsd_dst_frames)
