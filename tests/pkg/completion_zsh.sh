#!/usr/bin/env zsh
# The zsh completion offers each tool the names the bash one offers: the
# function is run with zsh's _files and compadd replaced by recorders, and
# _files's pattern is expanded as zsh would, under NO_CASE_GLOB too.
# Usage: completion_zsh.sh COMPLETION_FILE
emulate -L zsh
setopt extendedglob
completion_file=${1:A}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
mkdir sub dir.dsf
touch a.dsf b.DSF c.Dsf d.dff e.DFF f.Dff g.wav h.WAV i.Wav j.txt k.cue l.CUE m.Cue noext \
    "with space.dsf" "x.dsf.bak" sub/in.dsf sub/out.dff sub/s.wav sub/t.txt

typeset -a offers
compadd() {
    while [[ $1 != -- ]]; do shift; done
    shift
    local word
    for word in "$@"; do [[ $word == $PREFIX* ]] && offers+=("$word"); done
}
_files() {
    setopt localoptions nullglob
    local found
    if [[ $1 == -/ ]]; then
        found=(${~PREFIX}*(N-/))
        offers+=($found)
        ((${#found} > 0))
        return
    fi
    [[ $1 == -g ]] || { print "unexpected _files $*"; return 1; }
    found=(${~PREFIX}*(N-/) ${~PREFIX}${~2})
    offers+=($found)
    ((${#found} > 0))
}
# Only as the function uses it: the value after a long option's first '='.
compset() {
    [[ $1 == -P && $2 == 1 && $3 == '*=' ]] || { print "unexpected compset $*"; return 1; }
    [[ $PREFIX == *=* ]] || return 1
    IPREFIX+=${PREFIX%%=*}=
    PREFIX=${PREFIX#*=}
}
functions[_dsdtools]=$(<"$completion_file")

status_=0
# expect TOOL WORD... :: EXPECTED...: completes the last word (the words
# before it are typed already) and compares the sorted offers.
expect() {
    local service=$1 args=() expected=()
    shift
    while [[ $1 != :: ]]; do args+=("$1"); shift; done
    shift
    expected=("$@")
    # As zsh sets them: the command line's words, the command first.
    local -a words=("$service" "${args[@]}")
    local CURRENT=${#words} PREFIX=${args[-1]} IPREFIX=
    offers=()
    _dsdtools
    local got=${(j:|:)${(o)offers}} want=${(j:|:)${(o)expected}}
    if [[ $got != "$want" ]]; then
        print -r -- "FAIL: $service ${(q)args}: offered '$got', expected '$want'"
        status_=1
    fi
}

batch_options=(--target-directory --parents --no-clobber --quiet --jobs)
for option in case_glob no_case_glob; do
    setopt $option
    for tool in dsf-dff-convert dsf-dff256-dummy; do
        expect $tool "" :: a.dsf b.DSF "with space.dsf" dir.dsf sub
        expect $tool a :: a.dsf
        expect $tool sub/ :: sub/in.dsf
        expect $tool a.dsf "" :: d.dff e.DFF dir.dsf sub
        expect $tool a.dsf sub/ :: sub/out.dff
        expect $tool a.dsf d.dff "" ::
        expect $tool -- :: --help --version $batch_options
        expect $tool a.dsf -- ::
        expect $tool -n -- :: $batch_options
        expect $tool -nq a.dsf "" :: d.dff e.DFF dir.dsf sub
        expect $tool -t "" :: dir.dsf sub
        expect $tool -nqt d :: dir.dsf
        expect $tool -j "" ::
        expect $tool -t sub a.dsf b.DSF "" :: a.dsf b.DSF "with space.dsf" dir.dsf sub
        expect $tool --target-directory=sub -j 2 a.dsf "" :: a.dsf b.DSF "with space.dsf" dir.dsf sub
        expect $tool --target-directory= :: dir.dsf sub
        expect $tool -n --tar=s :: sub
        expect $tool --jobs= ::
        expect $tool --jobs=2 -t "" :: dir.dsf sub
        expect $tool --jobs=2 -t sub -- :: $batch_options
        expect $tool -t sub a.dsf -- ::
        # After "--", the words count as they would without it.
        expect $tool -- "" :: a.dsf b.DSF "with space.dsf" dir.dsf sub
        expect $tool -- a.dsf "" :: d.dff e.DFF dir.dsf sub
        expect $tool a.dsf -- "" :: d.dff e.DFF dir.dsf sub
        expect $tool -- a.dsf d.dff "" ::
        expect $tool -- --h ::
    done
    expect dff-dsf-convert "" :: d.dff e.DFF dir.dsf sub
    expect dff-dsf-convert sub/ :: sub/out.dff
    expect dff-dsf-convert d.dff "" :: a.dsf b.DSF "with space.dsf" dir.dsf sub
    expect dff-dsf-convert d.dff a.dsf "" ::
    expect dff-dsf-convert -- "" :: d.dff e.DFF dir.dsf sub
    expect dff-dsf-convert -- d.dff "" :: a.dsf b.DSF "with space.dsf" dir.dsf sub
    expect dff-dsf-convert -- d.dff a.dsf "" ::
    expect dff-dst-decode "" :: d.dff e.DFF dir.dsf sub
    expect dff-dst-decode d.dff "" :: d.dff e.DFF dir.dsf sub
    expect dff-dst-decode d.dff e.DFF "" ::
    expect dff-dst-decode -- :: --help --version $batch_options
    expect dff-dst-decode -n -- d.dff "" :: d.dff e.DFF dir.dsf sub
    expect dff-dst-decode -t "" :: dir.dsf sub
    expect dff-dst-decode --target-directory=s :: sub
    expect dff-dst-decode -qt sub d.dff e.DFF "" :: d.dff e.DFF dir.dsf sub
    expect dff-dsf-convert -t sub d.dff "" :: d.dff e.DFF dir.dsf sub
    for tool in dff-rate-set-64 dff-rate-set-128 dff-rate-set-256; do
        expect $tool "" :: d.dff e.DFF dir.dsf sub
        expect $tool d.dff e.DFF "" :: d.dff e.DFF dir.dsf sub
        expect $tool --h :: --help
        expect $tool -- "" :: d.dff e.DFF dir.dsf sub
        expect $tool -- d.dff "" :: d.dff e.DFF dir.dsf sub
        expect $tool -- --h ::
    done
    expect dff-dsf-split "" :: d.dff e.DFF dir.dsf sub
    expect dff-dsf-split - :: --cue --no-clobber --quiet --help --version -n -q
    expect dff-dsf-split --cue "" :: k.cue l.CUE dir.dsf sub
    expect dff-dsf-split --cue= :: k.cue l.CUE dir.dsf sub
    expect dff-dsf-split -n --cue=k :: k.cue
    expect dff-dsf-split --cue=k.cue d.dff "" :: dir.dsf sub
    expect dff-dsf-split -n --cue k.cue "" :: d.dff e.DFF dir.dsf sub
    expect dff-dsf-split -nq d.dff "" :: dir.dsf sub
    expect dff-dsf-split d.dff s :: sub
    expect dff-dsf-split d.dff sub "" ::
    expect dff-dsf-split -- - ::
    expect wav-rate-set "" :: g.wav h.WAV dir.dsf sub
    expect wav-rate-set g.wav sub/ :: sub/s.wav
    expect wav-rate-set -- "" :: g.wav h.WAV dir.dsf sub
    expect /usr/bin/wav-rate-set "" :: g.wav h.WAV dir.dsf sub
done

# After "--", a name that starts with "-" is a file like any other.
mkdir dashes
cd dashes
touch -- -odd.dsf -odd.dff
expect dsf-dff-convert -- - :: -odd.dsf
expect dsf-dff-convert -- -odd.dsf - :: -odd.dff
expect dff-dsf-convert -- - :: -odd.dff
expect dff-rate-set-64 -- -odd.dff - :: -odd.dff
exit $status_
