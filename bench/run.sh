#!/usr/bin/env bash
# Times dsf-dff-convert against a plain copy of the same file, reports the
# converter's peak memory and times the rate rewriters on a tiny and a huge
# file. Usage: bench/run.sh [BUILD_DIR]   (default build/release)
# BENCH_PAIRS (default 21) and BENCH_MIB (default 128) change the run.
set -euo pipefail

build=${1:-build/release}
pairs=${BENCH_PAIRS:-21}
mib=${BENCH_MIB:-128}
gen=$build/tests/generator/dsf-gen
conv=$build/convert/dsf-dff-convert
dff_rate=$build/rate/dff-rate-set-64
wav_rate=$build/rate/wav-rate-set

for tool in "$gen" "$conv"; do
    if [[ ! -x $tool ]]; then
        echo "missing $tool: build first (cmake --build --preset release)" >&2
        exit 2
    fi
done
if ((pairs < 15 || mib < 128)); then
    echo "warning: below the reference run (15 pairs, 128 MiB)" >&2
fi

work=$(mktemp -d /dev/shm/dsd-bench.XXXXXX)
trap 'rm -rf "$work"' EXIT INT TERM

# Wall time of one command in nanoseconds; $EPOCHREALTIME needs no fork.
elapsed_ns() {
    local t0 t1
    t0=$EPOCHREALTIME
    "$@" >/dev/null
    t1=$EPOCHREALTIME
    echo $(((${t1/./} - ${t0/./}) * 1000))
}

median() { sort -g | awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }
ms() { awk -v ns="$1" 'BEGIN {printf "%.1f ms", ns / 1e6}'; }

echo "== machine"
echo "cpu: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ //'), nproc $(nproc)"
echo "kernel: $(uname -r); work dir: $(df -h --output=fstype,size "$work" | tail -1 | xargs)"
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"

echo "== conversion vs dd, $mib MiB of sound data, $pairs alternating pairs"
big=$work/big.dsf
# 1-bit stereo: one byte per channel holds 8 samples.
"$gen" --rate 2822400 --samples $((mib * 1024 * 1024 / 2 * 8)) "$big" >/dev/null
echo "input: $(stat -c %s "$big") bytes"

run_conv() { rm -f "$work/out.dff"; elapsed_ns "$conv" "$big" "$work/out.dff"; }
run_dd() { rm -f "$work/out.copy"; elapsed_ns dd if="$big" of="$work/out.copy" bs=1M status=none; }

for _ in 1 2; do
    run_conv >/dev/null
    run_dd >/dev/null
done
conv_times=() dd_times=() ratios=()
for ((i = 0; i < pairs; i++)); do
    # Alternate which goes first so neither always runs on a warmer cache.
    if ((i % 2 == 0)); then
        c=$(run_conv)
        d=$(run_dd)
    else
        d=$(run_dd)
        c=$(run_conv)
    fi
    conv_times+=("$c") dd_times+=("$d")
    ratios+=("$(awk -v c="$c" -v d="$d" 'BEGIN {printf "%.4f", c / d}')")
done
conv_median=$(printf '%s\n' "${conv_times[@]}" | median)
dd_median=$(printf '%s\n' "${dd_times[@]}" | median)
ratio_median=$(printf '%s\n' "${ratios[@]}" | median)
printf 'dsf-dff-convert median: %s (min %s, max %s)\n' "$(ms "$conv_median")" \
    "$(ms "$(printf '%s\n' "${conv_times[@]}" | sort -g | head -1)")" \
    "$(ms "$(printf '%s\n' "${conv_times[@]}" | sort -g | tail -1)")"
printf 'dd bs=1M median:        %s (min %s, max %s)\n' "$(ms "$dd_median")" \
    "$(ms "$(printf '%s\n' "${dd_times[@]}" | sort -g | head -1)")" \
    "$(ms "$(printf '%s\n' "${dd_times[@]}" | sort -g | tail -1)")"
printf 'ratio converter/dd, median of pairs: %.3f (target <= 1.15; pairs: %s)\n' \
    "$ratio_median" "$(printf '%s ' "${ratios[@]}" | sed 's/ $//')"
rm -f "$work/out.dff" "$work/out.copy"

echo "== peak resident memory of dsf-dff-convert"
small=$work/small.dsf
"$gen" --rate 2822400 --samples $((1024 * 1024 / 2 * 8)) "$small" >/dev/null
peak_kib() {
    local best="" kib
    for _ in 1 2 3; do
        rm -f "$work/peak.dff"
        kib=$(/usr/bin/time -f %M "$conv" "$1" "$work/peak.dff" 2>&1 >/dev/null | tail -1)
        if [[ -z $best ]] || ((kib < best)); then best=$kib; fi
    done
    rm -f "$work/peak.dff"
    echo "$best"
}
rss_small=$(peak_kib "$small")
rss_big=$(peak_kib "$big")
echo "1 MiB input: $rss_small KiB; $mib MiB input: $rss_big KiB;" \
    "difference $((rss_big - rss_small)) KiB (target <= 1024)"
rm -f "$big"

echo "== rate rewriters, 1 KiB file vs 4 GiB sparse file"
# Big-endian or little-endian bytes of a number as printf escapes.
be_bytes() { local s="" i; for ((i = ($2 - 1) * 8; i >= 0; i -= 8)); do s+=$(printf '\\x%02x' $((($1 >> i) & 255))); done; echo "$s"; }
le_bytes() { local s="" i; for ((i = 0; i < $2 * 8; i += 8)); do s+=$(printf '\\x%02x' $((($1 >> i) & 255))); done; echo "$s"; }
patch() { printf "$3" | dd of="$1" bs=1 seek="$2" conv=notrunc status=none; }
field() { od -An -tx1 -j "$2" -N "$3" "$1" | xargs; }
four_gib=$((4 * 1024 * 1024 * 1024))

time_rewriter() {
    local tool=$1 ext=$2 offset=$3
    if [[ ! -x $tool ]]; then
        echo "skipped $(basename "$tool"): not built in $build"
        return
    fi
    local f medians=()
    for f in "$work/tiny.$ext" "$work/huge.$ext"; do
        local before after
        before=$(field "$f" "$offset" 8)
        # The rewrite is idempotent, so every run does the same work.
        hyperfine -N --style none --warmup 5 --runs 300 \
            --export-json "$work/h.json" "$tool $f" >/dev/null 2>"$work/h.err"
        after=$(field "$f" "$offset" 8)
        medians+=("$(python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))["results"][0]["median"])' "$work/h.json")")
        python3 -c 'import json,sys; r=json.load(open(sys.argv[1]))["results"][0]; print("%-16s %10s bytes: median %.3f ms, min %.3f ms, %d runs" % (sys.argv[2], sys.argv[3], r["median"]*1e3, r["min"]*1e3, len(r["times"])))' \
            "$work/h.json" "$(basename "$tool")" "$(stat -c %s "$f")"
        echo "    bytes $offset..$((offset + 7)): $before -> $after"
    done
    awk -v t="${medians[0]}" -v h="${medians[1]}" \
        'BEGIN {printf "    4 GiB / 1 KiB median time: %.2f (target: about 1)\n", h / t}'
}

# DFF: a converted file at 5644800 Hz (rewritten to 2822400), 1 KiB long,
# and a copy of its header declaring 4 GiB, followed by a hole.
"$gen" --rate 5644800 --samples $(((1024 - 130) / 2 * 8)) "$work/tiny.dsf" >/dev/null
"$conv" "$work/tiny.dsf" "$work/tiny.dff" >/dev/null
head -c 130 "$work/tiny.dff" >"$work/huge.dff"
patch "$work/huge.dff" 4 "$(be_bytes $((four_gib - 12)) 8)"
patch "$work/huge.dff" 122 "$(be_bytes $((four_gib - 130)) 8)"
truncate -s $four_gib "$work/huge.dff"
time_rewriter "$dff_rate" dff 56

# WAV: canonical 44-byte header, 48000 Hz, 16-bit stereo, data to the end.
wav_header() {
    local data=$1
    printf 'RIFF'; printf "$(le_bytes $((data + 36)) 4)"; printf 'WAVEfmt '
    printf "$(le_bytes 16 4)$(le_bytes 1 2)$(le_bytes 2 2)$(le_bytes 48000 4)"
    printf "$(le_bytes 192000 4)$(le_bytes 4 2)$(le_bytes 16 2)"
    printf 'data'; printf "$(le_bytes "$data" 4)"
}
{ wav_header 980; head -c 980 /dev/zero; } >"$work/tiny.wav"
wav_header $((four_gib - 44)) >"$work/huge.wav"
truncate -s $four_gib "$work/huge.wav"
time_rewriter "$wav_rate" wav 24
