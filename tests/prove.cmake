# Proofs against outside readers and bad input: the interoperability tests
# (skipped per reader that is not installed) and the truncation and
# corruption sweeps, all run against the built programs.
foreach(name interop_test sweep_test)
  add_executable(${name} ${name}.cpp)
  target_link_libraries(${name} PRIVATE dsd_testgen dsd_test_support GTest::gtest_main)
  dsd_test_uses_programs(${name})
  gtest_discover_tests(${name} PROPERTIES TIMEOUT 600)
endforeach()
