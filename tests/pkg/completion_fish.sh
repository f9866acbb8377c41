#!/usr/bin/env bash
# The fish completion offers each tool the names the bash one offers (fish
# marks directories with a trailing /). Asked through fish's own
# `complete -C`. Usage: completion_fish.sh COMPLETION_FILE
set -uo pipefail
completion_file=$(realpath "$1")
if ! command -v fish >/dev/null; then
    echo "SKIP: fish is not installed (Debian package fish)"
    exit 77
fi

work=$(mktemp -d)
home=$(mktemp -d)
trap 'rm -rf "$work" "$home"' EXIT
cd "$work"
mkdir sub dir.dsf
touch a.dsf b.DSF c.Dsf d.dff e.DFF f.Dff g.wav h.WAV i.Wav j.txt k.cue l.CUE m.Cue noext \
    "with space.dsf" "x.dsf.bak" sub/in.dsf sub/out.dff sub/s.wav sub/t.txt

status=0
# expect LINE :: EXPECTED...: completes the end of the command line.
expect() {
    local line=$1 expected=()
    shift 2
    expected=("$@")
    local got want
    got=$(HOME=$home XDG_CONFIG_HOME=$home/config XDG_DATA_HOME=$home/data fish --no-config -c \
        'source $argv[1]; complete -C $argv[2]' "$completion_file" "$line" |
        cut -f1 | LC_ALL=C sort | paste -sd'|')
    want=$(printf '%s\n' "${expected[@]}" | LC_ALL=C sort | paste -sd'|')
    if [[ $got != "$want" ]]; then
        echo "FAIL: '$line': offered '$got', expected '$want'"
        status=1
    fi
}

batch_options=(--target-directory --parents --no-clobber --quiet --jobs)
for tool in dsf-dff-convert dsf-dff256-dummy; do
    expect "$tool " :: a.dsf b.DSF "with space.dsf" dir.dsf/ sub/
    expect "$tool a" :: a.dsf
    expect "$tool sub/" :: sub/in.dsf
    expect "$tool a.dsf " :: d.dff e.DFF dir.dsf/ sub/
    expect "$tool a.dsf sub/" :: sub/out.dff
    expect "$tool a.dsf d.dff " ::
    expect "$tool --" :: --help --version "${batch_options[@]}"
    expect "$tool a.dsf --" ::
    expect "$tool -n --" :: "${batch_options[@]}"
    expect "$tool -nq a.dsf " :: d.dff e.DFF dir.dsf/ sub/
    expect "$tool -t " :: dir.dsf/ sub/
    expect "$tool -nqt d" :: dir.dsf/
    expect "$tool --target-directory=s" :: --target-directory=sub/
    expect "$tool -j " ::
    expect "$tool -t sub a.dsf b.DSF " :: a.dsf b.DSF "with space.dsf" dir.dsf/ sub/
    expect "$tool --target-directory=sub -j 2 a.dsf " :: a.dsf b.DSF "with space.dsf" dir.dsf/ sub/
    expect "$tool -t sub a.dsf --" ::
    # After "--", the words count as they would without it.
    expect "$tool -- " :: a.dsf b.DSF "with space.dsf" dir.dsf/ sub/
    expect "$tool -- a.dsf " :: d.dff e.DFF dir.dsf/ sub/
    expect "$tool a.dsf -- " :: d.dff e.DFF dir.dsf/ sub/
    expect "$tool -- a.dsf d.dff " ::
    expect "$tool -- --h" ::
done
expect "dff-dsf-convert " :: d.dff e.DFF dir.dsf/ sub/
expect "dff-dsf-convert sub/" :: sub/out.dff
expect "dff-dsf-convert d.dff " :: a.dsf b.DSF "with space.dsf" dir.dsf/ sub/
expect "dff-dsf-convert d.dff a.dsf " ::
expect "dff-dsf-convert -t sub d.dff " :: d.dff e.DFF dir.dsf/ sub/
expect "dff-dsf-convert -- " :: d.dff e.DFF dir.dsf/ sub/
expect "dff-dsf-convert -- d.dff " :: a.dsf b.DSF "with space.dsf" dir.dsf/ sub/
expect "dff-dsf-convert -- d.dff a.dsf " ::
expect "dff-dst-decode " :: d.dff e.DFF dir.dsf/ sub/
expect "dff-dst-decode d.dff " :: d.dff e.DFF dir.dsf/ sub/
expect "dff-dst-decode d.dff sub/" :: sub/out.dff
expect "dff-dst-decode d.dff e.DFF " ::
expect "dff-dst-decode --" :: --help --version "${batch_options[@]}"
expect "dff-dst-decode -n -- d.dff " :: d.dff e.DFF dir.dsf/ sub/
expect "dff-dst-decode -t " :: dir.dsf/ sub/
expect "dff-dst-decode -qt sub d.dff e.DFF " :: d.dff e.DFF dir.dsf/ sub/
for tool in dff-rate-set-64 dff-rate-set-128 dff-rate-set-256; do
    expect "$tool " :: d.dff e.DFF dir.dsf/ sub/
    expect "$tool d.dff e.DFF " :: d.dff e.DFF dir.dsf/ sub/
    expect "$tool d.dff sub/" :: sub/out.dff
    expect "$tool --h" :: --help
    expect "$tool -- " :: d.dff e.DFF dir.dsf/ sub/
    expect "$tool -- --h" ::
done
expect "dff-dsf-split " :: d.dff e.DFF dir.dsf/ sub/
expect "dff-dsf-split -" :: -h -n -q -V --cue --help --no-clobber --quiet --version
expect "dff-dsf-split --cue " :: k.cue l.CUE dir.dsf/ sub/
expect "dff-dsf-split --cue=" :: --cue=k.cue --cue=l.CUE --cue=dir.dsf/ --cue=sub/
expect "dff-dsf-split -n --cue k.cue " :: d.dff e.DFF dir.dsf/ sub/
expect "dff-dsf-split -nq d.dff " :: dir.dsf/ sub/
expect "dff-dsf-split d.dff s" :: sub/
expect "dff-dsf-split d.dff sub " ::
expect "dff-dsf-split -- -" ::
expect "wav-rate-set " :: g.wav h.WAV dir.dsf/ sub/
expect "wav-rate-set g.wav " :: g.wav h.WAV dir.dsf/ sub/
expect "wav-rate-set sub/" :: sub/s.wav
expect "wav-rate-set -- " :: g.wav h.WAV dir.dsf/ sub/

# After "--", a name that starts with "-" is a file like any other.
mkdir dashes
cd dashes
touch -- -odd.dsf -odd.dff
expect "dsf-dff-convert -- -" :: -odd.dsf
expect "dsf-dff-convert -- -odd.dsf -" :: -odd.dff
expect "dff-dsf-convert -- -" :: -odd.dff
expect "dff-rate-set-64 -- -odd.dff -" :: -odd.dff
exit $status
