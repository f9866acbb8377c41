# Proofs against outside readers and bad input: the interoperability tests
# (skipped per reader that is not installed) and the truncation and
# corruption sweeps, all run against the built programs.
set(DSD_PROGRAM_PATHS
  DSF_DFF_CONVERT="$<TARGET_FILE:dsf-dff-convert>"
  DSF_DFF256_DUMMY="$<TARGET_FILE:dsf-dff256-dummy>"
  DFF_RATE_SET_64="$<TARGET_FILE:dff-rate-set-64>"
  DFF_RATE_SET_128="$<TARGET_FILE:dff-rate-set-128>"
  DFF_RATE_SET_256="$<TARGET_FILE:dff-rate-set-256>"
  WAV_RATE_SET="$<TARGET_FILE:wav-rate-set>")

foreach(name interop_test sweep_test)
  add_executable(${name} ${name}.cpp)
  target_link_libraries(${name} PRIVATE dsd_testgen dsd_test_support GTest::gtest_main)
  target_compile_definitions(${name} PRIVATE ${DSD_PROGRAM_PATHS})
  add_dependencies(${name} dsf-dff-convert dsf-dff256-dummy
    dff-rate-set-64 dff-rate-set-128 dff-rate-set-256 wav-rate-set)
  gtest_discover_tests(${name} PROPERTIES TIMEOUT 600)
endforeach()
