#!/usr/bin/env bash
# Every man page passes mandoc's lint at warning level and has the sections
# a user looks for. Usage: man_lint.sh MAN_SOURCE_DIR
set -euo pipefail
man_dir=$1

if ! command -v mandoc >/dev/null; then
    echo "SKIP: mandoc is not installed (Debian package mandoc)"
    exit 77
fi

status=0
pages=("$man_dir"/*.1)
((${#pages[@]} > 0)) || { echo "no man pages in $man_dir"; exit 1; }
for page in "${pages[@]}"; do
    if ! report=$(mandoc -T lint -W warning "$page" 2>&1) || [[ -n $report ]]; then
        echo "$page: mandoc lint:"
        echo "$report"
        status=1
    fi
    for section in NAME SYNOPSIS DESCRIPTION "EXIT STATUS" EXAMPLES DIAGNOSTICS "SEE ALSO"; do
        if ! grep -qx "\.Sh $section" "$page"; then
            echo "$page: no $section section"
            status=1
        fi
    done
    if ! grep -qx '\.Dt [A-Z0-9-]* 1' "$page"; then
        echo "$page: not a section 1 page"
        status=1
    fi
done
exit $status
