# Proofs against outside readers and bad input: the interoperability tests
# (skipped per reader that is not installed) and the truncation and
# corruption sweeps, all run against the built programs.
set(DSD_PROGRAM_PATHS
  DSF_DFF_CONVERT="$<TARGET_FILE:dsf-dff-convert>"
  DSF_DFF256_DUMMY="$<TARGET_FILE:dsf-dff256-dummy>")

foreach(name interop_test sweep_test)
  add_executable(${name} ${name}.cpp)
  target_link_libraries(${name} PRIVATE dsd_testgen dsd_test_support GTest::gtest_main)
  target_compile_definitions(${name} PRIVATE ${DSD_PROGRAM_PATHS})
  add_dependencies(${name} dsf-dff-convert dsf-dff256-dummy)
  gtest_discover_tests(${name} PROPERTIES TIMEOUT 600)
endforeach()
