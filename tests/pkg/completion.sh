#!/usr/bin/env bash
# The bash completion offers each tool only the names it accepts, and
# directories. Sourced directly: it needs nothing from bash-completion.
# Usage: completion.sh COMPLETION_FILE
set -euo pipefail
completion_file=$(realpath "$1")

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
mkdir sub dir.dsf
touch a.dsf b.DSF c.Dsf d.dff e.DFF f.Dff g.wav h.WAV i.Wav j.txt k.cue l.CUE m.Cue noext \
    "with space.dsf" "x.dsf.bak" sub/in.dsf sub/out.dff sub/s.wav sub/t.txt

# shellcheck source=/dev/null
source "$completion_file"

status=0
# expect TOOL WORD... :: EXPECTED...: completes the last word of the line
# (the words before it are typed already) and compares the sorted offers.
expect() {
    local tool=$1 words=() expected=()
    shift
    while [[ $1 != :: ]]; do words+=("$1"); shift; done
    shift
    expected=("$@")
    COMP_WORDS=("$tool" "${words[@]}")
    COMP_CWORD=${#words[@]}
    COMP_LINE="${COMP_WORDS[*]}"
    COMP_POINT=${#COMP_LINE}
    COMPREPLY=()
    local spec
    spec=$(complete -p "$tool") || { echo "FAIL: no completion for $tool"; status=1; return; }
    [[ $spec == *"-F _dsdtools_complete"* ]] || { echo "FAIL: $spec"; status=1; return; }
    _dsdtools_complete "$tool" "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD-1]}"
    local got want
    got=$(printf '%s\n' "${COMPREPLY[@]}" | LC_ALL=C sort | paste -sd'|')
    want=$(printf '%s\n' "${expected[@]}" | LC_ALL=C sort | paste -sd'|')
    if [[ $got != "$want" ]]; then
        echo "FAIL: $tool ${words[*]@Q}: offered '$got', expected '$want'"
        status=1
    fi
}

batch_options=(--target-directory --parents --no-clobber --quiet --jobs)
for tool in dsf-dff-convert dsf-dff256-dummy; do
    expect $tool "" :: a.dsf b.DSF "with space.dsf" dir.dsf sub
    expect $tool a :: a.dsf
    expect $tool w :: "with space.dsf"
    expect $tool sub/ :: sub/in.dsf
    expect $tool a.dsf "" :: d.dff e.DFF dir.dsf sub
    expect $tool a.dsf sub/ :: sub/out.dff
    expect $tool a.dsf d.dff "" ::
    expect $tool -- :: --help --version "${batch_options[@]}"
    expect $tool --v :: --version
    expect $tool a.dsf -- ::
    # Options before the names; with -t every name is an input.
    expect $tool -n -- :: "${batch_options[@]}"
    expect $tool -q --p :: --parents
    expect $tool -n "" :: a.dsf b.DSF "with space.dsf" dir.dsf sub
    expect $tool -nq a.dsf "" :: d.dff e.DFF dir.dsf sub
    expect $tool -t "" :: dir.dsf sub
    expect $tool -nqt "" :: dir.dsf sub
    expect $tool --target-directory d :: dir.dsf
    expect $tool -j "" ::
    expect $tool -t sub a.dsf b.DSF "" :: a.dsf b.DSF "with space.dsf" dir.dsf sub
    expect $tool --target-directory=sub -j 2 a.dsf "" :: a.dsf b.DSF "with space.dsf" dir.dsf sub
    expect $tool -tsub -- a.dsf "" :: a.dsf b.DSF "with space.dsf" dir.dsf sub
    # bash makes a word of the '=' after a long option and one of its value.
    expect $tool --target-directory = :: dir.dsf sub
    expect $tool --tar = s :: sub
    expect $tool --target-directory = sub a.dsf "" :: a.dsf b.DSF "with space.dsf" dir.dsf sub
    expect $tool --jobs = ::
    expect $tool --jobs = 2 ::
    expect $tool --jobs = 2 -t "" :: dir.dsf sub
    expect $tool --jobs = 2 -t sub -- :: "${batch_options[@]}"
    expect $tool -n --jobs = 2 a.dsf "" :: d.dff e.DFF dir.dsf sub
    expect $tool -- --jobs = 2.dsf "" :: d.dff e.DFF dir.dsf sub
    expect $tool -t sub a.dsf -- ::
    # After "--", the words count as they would without it.
    expect $tool -- "" :: a.dsf b.DSF "with space.dsf" dir.dsf sub
    expect $tool -- a.dsf "" :: d.dff e.DFF dir.dsf sub
    expect $tool a.dsf -- "" :: d.dff e.DFF dir.dsf sub
    expect $tool -- a.dsf d.dff "" ::
    expect $tool -- --h ::
done
expect dff-dsf-convert "" :: d.dff e.DFF dir.dsf sub
expect dff-dsf-convert d :: d.dff dir.dsf
expect dff-dsf-convert sub/ :: sub/out.dff
expect dff-dsf-convert d.dff "" :: a.dsf b.DSF "with space.dsf" dir.dsf sub
expect dff-dsf-convert d.dff sub/ :: sub/in.dsf
expect dff-dsf-convert d.dff a.dsf "" ::
expect dff-dsf-convert -- :: --help --version "${batch_options[@]}"
expect dff-dsf-convert -t sub d.dff "" :: d.dff e.DFF dir.dsf sub
expect dff-dsf-convert d.dff -- ::
expect dff-dsf-convert --target-directory = :: dir.dsf sub
expect dff-dsf-convert --jobs = 2 -t sub "" :: d.dff e.DFF dir.dsf sub
expect dff-dsf-convert -- "" :: d.dff e.DFF dir.dsf sub
expect dff-dsf-convert -- d.dff "" :: a.dsf b.DSF "with space.dsf" dir.dsf sub
expect dff-dsf-convert -- d.dff a.dsf "" ::
expect dff-dst-decode "" :: d.dff e.DFF dir.dsf sub
expect dff-dst-decode d.dff "" :: d.dff e.DFF dir.dsf sub
expect dff-dst-decode d.dff sub/ :: sub/out.dff
expect dff-dst-decode d.dff e.DFF "" ::
expect dff-dst-decode -- :: --help --version "${batch_options[@]}"
expect dff-dst-decode -n -- d.dff "" :: d.dff e.DFF dir.dsf sub
expect dff-dst-decode -t "" :: dir.dsf sub
expect dff-dst-decode -qt sub d.dff e.DFF "" :: d.dff e.DFF dir.dsf sub
expect dff-dst-decode --target-directory = s :: sub
expect dff-dst-decode --jobs = 2 -t sub d.dff "" :: d.dff e.DFF dir.dsf sub
for tool in dff-rate-set-64 dff-rate-set-128 dff-rate-set-256; do
    expect $tool "" :: d.dff e.DFF dir.dsf sub
    expect $tool d.dff e.DFF "" :: d.dff e.DFF dir.dsf sub
    expect $tool d.dff sub/ :: sub/out.dff
    expect $tool --h :: --help
    expect $tool -- "" :: d.dff e.DFF dir.dsf sub
    expect $tool -- d.dff "" :: d.dff e.DFF dir.dsf sub
    expect $tool -- --h ::
done
expect dff-dsf-split "" :: d.dff e.DFF dir.dsf sub
expect dff-dsf-split - :: --cue --no-clobber --quiet --help --version -n -q
expect dff-dsf-split --c :: --cue
expect dff-dsf-split --cue "" :: k.cue l.CUE dir.dsf sub
# bash makes '=' a word of its own.
expect dff-dsf-split --cue = "" :: k.cue l.CUE dir.dsf sub
expect dff-dsf-split --cue = :: k.cue l.CUE dir.dsf sub
expect dff-dsf-split --cue = k :: k.cue
expect dff-dsf-split --cue = k.cue d.dff "" :: dir.dsf sub
expect dff-dsf-split -n --cue k.cue "" :: d.dff e.DFF dir.dsf sub
expect dff-dsf-split -nq d.dff "" :: dir.dsf sub
expect dff-dsf-split d.dff s :: sub
expect dff-dsf-split d.dff sub "" ::
expect dff-dsf-split -- - ::
expect wav-rate-set "" :: g.wav h.WAV dir.dsf sub
expect wav-rate-set g.wav "" :: g.wav h.WAV dir.dsf sub
expect wav-rate-set sub/ :: sub/s.wav
expect wav-rate-set - :: --help --version
expect wav-rate-set g.wav - ::
expect wav-rate-set -- "" :: g.wav h.WAV dir.dsf sub

# Called by another path to the program, the name alone decides.
COMP_WORDS=(/usr/bin/wav-rate-set "")
COMP_CWORD=1
_dsdtools_complete /usr/bin/wav-rate-set "" /usr/bin/wav-rate-set
got=$(printf '%s\n' "${COMPREPLY[@]}" | LC_ALL=C sort | paste -sd'|')
[[ $got == "dir.dsf|g.wav|h.WAV|sub" ]] || { echo "FAIL: by path: '$got'"; status=1; }

# After "--", a name that starts with "-" is a file like any other.
mkdir dashes
cd dashes
touch -- -odd.dsf -odd.dff
expect dsf-dff-convert -- - :: -odd.dsf
expect dsf-dff-convert -- -odd.dsf - :: -odd.dff
expect dff-dsf-convert -- - :: -odd.dff
expect dff-rate-set-64 -- -odd.dff - :: -odd.dff
exit $status
