#!/usr/bin/env bash
# Prints why each test of the run that just ended was skipped: ctest's console
# shows only "***Skipped", and the reason is in the run's log. ctest runs this
# after the tests, in the build directory (CTEST_CUSTOM_POST_TEST); it never
# fails the run. A test counts as skipped when ctest matched its skip
# expression (GoogleTest's "[  SKIPPED ]") or, having passed, it printed a
# "SKIP: REASON" line (the shell tests' convention with SKIP_RETURN_CODE 77,
# which the log does not tell apart from a pass).
log_dir=${1:-Testing/Temporary}

# The running log is renamed when ctest ends; take whichever is newer.
log=
for candidate in "$log_dir"/LastTest.log.tmp "$log_dir"/LastTest.log; do
    if [[ -f $candidate && ( -z $log || $candidate -nt $log ) ]]; then
        log=$candidate
    fi
done
[[ -n $log ]] || exit 0

reasons=$(awk '
    function finish() {
        if (name != "" && skipped) {
            print number " - " name ": " (reason != "" ? reason : "(no reason given)")
        }
        name = ""
    }
    /^[0-9]+\/[0-9]+ Test: / {
        finish()
        number = $1; sub(/\/.*/, "", number)
        name = $0; sub(/^[0-9]+\/[0-9]+ Test: /, "", name)
        reason = ""; marker = 0; skipped = 0; in_output = 0; collecting = 0; why = 0
        next
    }
    name == "" { next }
    /^Output:$/ && !in_output { in_output = 1; getline; next }
    in_output {
        if ($0 == "<end of output>") { in_output = 0; next }
        if (collecting) {
            if (index($0, "[  SKIPPED ]") == 1) { collecting = 0; marker = 1 }
            else if ($0 != "") { reason = reason (reason != "" ? " " : "") $0 }
        } else if ($0 ~ /: Skipped$/) {
            collecting = 1
        } else if (index($0, "SKIP: ") == 1) {
            reason = reason (reason != "" ? " " : "") substr($0, 7); marker = 1
        }
        next
    }
    $0 == "Test Pass Reason:" { why = 1; next }
    why { why = 0; if ($0 ~ /[Ss]kip/) skipped = 1; next }
    $0 == "Test Passed." { if (marker) skipped = 1; next }
    /^"[^"]*" end time: / { finish() }
    END { finish() }
' "$log" | sort -n) || exit 0
if [[ -n $reasons ]]; then
    echo "Why the skipped tests did not run:"
    while IFS= read -r line; do
        printf '\t%s\n' "$line"
    done <<<"$reasons"
fi
exit 0
