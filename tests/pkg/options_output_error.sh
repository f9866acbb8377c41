#!/usr/bin/env bash
# --help and --version report a failed write of their text: with standard
# output on a full device they exit 1, not 0.  Usage: options_output_error.sh PROGRAM...
set -uo pipefail
if [[ ! -w /dev/full ]]; then
    echo "SKIP: no /dev/full"
    exit 77
fi
# A cross build's programs run through its emulator (DSD_EMULATOR).
read -ra emulator <<<"${DSD_EMULATOR:-}"
status=0
for program in "$@"; do
    for option in --help --version; do
        "${emulator[@]}" "$program" "$option" >/dev/full 2>/dev/null
        rc=$?
        if ((rc != 1)); then
            echo "FAIL: $program $option >/dev/full exited $rc"
            status=1
        fi
        out=$("${emulator[@]}" "$program" "$option")
        rc=$?
        if ((rc != 0)) || [[ -z $out ]]; then
            echo "FAIL: $program $option exited $rc"
            status=1
        fi
    done
done
exit $status
