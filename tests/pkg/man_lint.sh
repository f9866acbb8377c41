#!/usr/bin/env bash
# Every man page passes mandoc's lint at warning level, has the sections a
# user looks for, and reads cleanly as rendered by mandoc and by groff (what
# man-db runs), when installed: a lint-clean page can still render nested
# quotes as garbage. Usage: man_lint.sh MAN_SOURCE_DIR
set -euo pipefail
man_dir=$1
export LC_ALL=C.UTF-8

# render_problems NAME: what is wrong with the rendered text on standard
# input; nothing when it reads cleanly.
render_problems() {
    local name=$1 text quotes
    text=$(cat)
    # Quotes open and close in turn, never nested: mdoc's quoting macros
    # take everything after them on their line.
    for pair in "‘’" "“”"; do
        quotes=$(grep -o "[$pair]" <<<"$text" | tr -d '\n' || true)
        if [[ ! $quotes =~ ^(${pair})*$ ]]; then
            echo "$name: unbalanced or nested ${pair:0:1}${pair:1:1}:"
            grep -n "${pair:0:1}[^${pair:1:1}]*\(${pair:0:1}\|\$\)\|^[^${pair:0:1}]*${pair:1:1}" \
                <<<"$text" | head -5 || true
        fi
    done
    # Escapes and macro names that should have been interpreted.
    grep -n '\\[f&(*[se-]' <<<"$text" | sed "s|^|$name: escape shown: |" || true
    grep -nw 'Ql\|Pq\|Dq\|Sq\|Qq\|Fl\|Ar\|Xr\|Nm\|Pa\|Li\|Dv\|Ns' <<<"$text" |
        sed "s|^|$name: macro name shown: |" || true
}

if ! command -v mandoc >/dev/null; then
    echo "SKIP: mandoc is not installed (Debian package mandoc)"
    exit 77
fi

warnings=$(mktemp)
trap 'rm -f "$warnings"' EXIT
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
    # A quoting macro followed by another macro on its line quotes that one
    # too: '.Ql CMPR No chunk' renders as a quoted "CMPR chunk".
    if grep -nE '(^\.|[[:space:]])(Ql|Dq|Sq|Qq)[[:space:]].*[[:space:]](No|Ns|Ql|Dq|Sq|Qq|Pq|Ar|Fl|Pa|Li|Xr|Dv|Ev|Cm|Nm|Sy|Em)([[:space:]]|$)' \
        "$page"; then
        echo "$page: a quoting macro encloses another macro (above)"
        status=1
    fi
    problems=$(
        mandoc -T utf8 "$page" | sed "s/.\x08//g" | render_problems "$page (mandoc)"
        if command -v groff >/dev/null; then
            groff -mandoc -T utf8 -P -cbou -ww "$page" 2>"$warnings" |
                render_problems "$page (groff)"
            sed "s|^|$page (groff): |" "$warnings"
        fi
    )
    if [[ -n $problems ]]; then
        echo "$problems"
        status=1
    fi
done
exit $status
