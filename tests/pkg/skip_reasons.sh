#!/usr/bin/env bash
# A ctest run's console says why each skipped test was skipped, whichever way
# it skipped (GoogleTest's GTEST_SKIP, a shell test's status 77), and names
# no test that ran. Checked on a scratch project registered as the suite is.
# Usage: skip_reasons.sh CMAKE CTEST REPORT_SKIPS_CMAKE
set -euo pipefail
cmake=$1 ctest=$2 module=$3

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/src"
# GoogleTest's output for a skipped test, as gtest_discover_tests registers it.
cat >"$work/src/gtest_skip.sh" <<'SCRIPT'
cat <<'OUT'
[ RUN      ] Reader.ReadsTheFile
/src/reader_test.cpp:12: Skipped
frobnicate is not installed (Debian package: frob)

[  SKIPPED ] Reader.ReadsTheFile (0 ms)
[  PASSED  ] 0 tests.
[  SKIPPED ] 1 test, listed below:
[  SKIPPED ] Reader.ReadsTheFile
OUT
SCRIPT
cat >"$work/src/CMakeLists.txt" <<SCRIPT
cmake_minimum_required(VERSION 3.25)
project(skips NONE)
enable_testing()
include("$module")
dsd_report_skipped_tests()
add_test(NAME Reader.ReadsTheFile COMMAND bash "$work/src/gtest_skip.sh")
set_tests_properties(Reader.ReadsTheFile PROPERTIES SKIP_REGULAR_EXPRESSION "\\\\[  SKIPPED \\\\]")
add_test(NAME shell_skip COMMAND bash -c "echo 'SKIP: zsh is not installed (Debian package zsh)'; exit 77")
add_test(NAME shell_fails COMMAND bash -c "echo 'SKIP: not really'; exit 1")
add_test(NAME passes COMMAND bash -c "echo fine")
set_tests_properties(shell_skip shell_fails PROPERTIES SKIP_RETURN_CODE 77)
SCRIPT
"$cmake" -S "$work/src" -B "$work/build" >/dev/null

status=0
for jobs in 1 2; do
    out=$("$ctest" --test-dir "$work/build" --output-on-failure -j $jobs 2>&1) || true
    report=$(awk '/^Why the skipped tests did not run:$/ { on = 1; next } on && /^\t/' <<<"$out" |
        LC_ALL=C sort)
    want=$(printf '\t%s\n' \
        "1 - Reader.ReadsTheFile: frobnicate is not installed (Debian package: frob)" \
        "2 - shell_skip: zsh is not installed (Debian package zsh)" | LC_ALL=C sort)
    if [[ $report != "$want" ]]; then
        echo "FAIL (-j $jobs): the console says:"
        echo "$out"
        status=1
    fi
done
exit $status
