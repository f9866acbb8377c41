#!/usr/bin/env bash
# With the bash-completion package, completing an installed tool's name
# loads its completion from PREFIX/share/bash-completion/completions (found
# through XDG_DATA_DIRS, as /usr/share is for the package) and offers the
# right names. Usage: completion_loader.sh PREFIX TOOL...
set -uo pipefail
prefix=$(realpath "$1")
shift
loader=/usr/share/bash-completion/bash_completion
if [[ ! -r $loader ]]; then
    echo "SKIP: bash-completion is not installed (Debian package bash-completion)"
    exit 77
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
mkdir sub
touch a.dsf b.DSF c.Dsf d.dff e.DFF g.wav h.WAV j.txt

status=0
for tool in "$@"; do
    case $tool in
    dsf-dff-convert | dsf-dff256-dummy) want="a.dsf|b.DSF|sub" ;;
    dff-dsf-convert | dff-dst-decode | dff-dsf-split | dff-rate-set-*) want="d.dff|e.DFF|sub" ;;
    wav-rate-set) want="g.wav|h.WAV|sub" ;;
    *) echo "FAIL: unknown tool $tool"; status=1; continue ;;
    esac
    # A fresh interactive-like shell per tool, as a user's would be.
    got=$(XDG_DATA_DIRS=$prefix/share BASH_COMPLETION_USER_DIR=$work/none \
        bash --norc --noprofile -c '
        source "$1" || exit 3
        tool=$2
        __load_completion "$tool" || { echo "not loaded"; exit 0; }
        spec=$(complete -p "$tool") || exit 4
        [[ $spec == *"-F _dsdtools_complete"* ]] || { echo "spec: $spec"; exit 0; }
        COMP_WORDS=("$tool" "")
        COMP_CWORD=1
        COMP_LINE="$tool "
        COMP_POINT=${#COMP_LINE}
        _dsdtools_complete "$tool" "" "$tool"
        printf "%s\n" "${COMPREPLY[@]}" | LC_ALL=C sort | paste -sd"|"
    ' bash "$loader" "$tool" 2>&1)
    if [[ $got != "$want" ]]; then
        echo "FAIL: $tool: '$got', expected '$want'"
        status=1
    fi
done
exit $status
