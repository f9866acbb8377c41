# ctest's console says only "***Skipped" for a skipped test; the reason is in
# the run's log. Every ctest run in this build tree ends with each skipped
# test's reason (report_skips.sh, run by ctest after the tests): the README's
# test command, the other presets and any `ctest -R` alike.
function(dsd_report_skipped_tests)
  set(script ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/report_skips.sh)
  # ctest reads CTestCustom.cmake at the top of the build tree.
  file(WRITE ${CMAKE_BINARY_DIR}/CTestCustom.cmake
    "set(CTEST_CUSTOM_POST_TEST \"bash \\\"${script}\\\"\")\n")
endfunction()
