#!/usr/bin/env bash
# Times dff-dsf-split on a DST-compressed edited master made by the test
# generator (stereo DSD64, a tone) against dff-dst-decode and dff-dsf-convert
# of the same file: all three decode every frame once; the splitter also
# cuts and tags twelve tracks (a CUE sheet of equal tracks). Reports the
# median wall and CPU time of the rounds and the peak memory of each.
# Usage: bench/split.sh [BUILD_DIR] (default build/release).
# BENCH_SPLIT_MINUTES (default 60) sets the length, BENCH_SPLIT_ROUNDS
# (default 3) the rounds; BENCH_SPLIT_INPUT names an existing file of that
# length to use instead of generating one (which takes about half a minute
# per minute of sound).
set -euo pipefail

build=${1:-build/release}
minutes=${BENCH_SPLIT_MINUTES:-60}
rounds=${BENCH_SPLIT_ROUNDS:-3}
gen=$build/tests/generator/dsf-gen
split=$build/convert/dff-dsf-split
decode=$build/convert/dff-dst-decode
convert=$build/convert/dff-dsf-convert
for tool in "$gen" "$split" "$decode" "$convert"; do
    if [[ ! -x $tool ]]; then
        echo "missing $tool: build first (cmake --build --preset release)" >&2
        exit 2
    fi
done

# The input (about 220 KiB a second) and one output at a time (705.6 KiB a
# second), in memory when a tmpfs can be had, so that writeback does not
# decide the times.
need_kib=$((minutes * 60 * 930 + 65536))
mounted=""
if ((EUID == 0)) && mounted=$(mktemp -d /tmp/dsd-split-bench.XXXXXX) &&
    mount -t tmpfs -o "size=${need_kib}k,mode=700" dsd-split-bench "$mounted" 2>/dev/null; then
    work=$mounted
    where="a tmpfs mounted for the run"
else
    rmdir "$mounted" 2>/dev/null || true
    mounted=""
    work=$(mktemp -d "${TMPDIR:-/tmp}/dsd-split-bench.XXXXXX")
    where="$(dirname "$work") (not a tmpfs mounted for the run: needs root)"
fi
# shellcheck source=bench/common.sh
source "$(dirname "$0")/common.sh"
bench_clean_up_on_exit
bench_print_machine

input=$work/album.dff
if [[ -n ${BENCH_SPLIT_INPUT:-} ]]; then
    cp "$BENCH_SPLIT_INPUT" "$input"
else
    echo "generating $minutes minutes of DST..."
    "$gen" --dst --channels 2 --seconds $((minutes * 60)) "$input"
fi
{
    echo 'FILE "album.dff" WAVE'
    for ((t = 0; t < 12; t++)); do
        start=$((t * minutes * 60 / 12))
        printf '  TRACK %02d AUDIO\n    INDEX 01 %02d:%02d:00\n' $((t + 1)) $((start / 60)) \
            $((start % 60))
    done
} >"$work/album.cue"
echo "input: $(stat -c %s "$input") bytes"

# "wall user+system peak_kib" of one run of the command.
measure() {
    /usr/bin/time -f '%e %U %S %M' "$@" 2>&1 >/dev/null | tail -1 |
        awk '{ printf "%s %.2f %s\n", $1, $2 + $3, $4 }'
}
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

declare -A wall cpu rss med
for ((r = 1; r <= rounds; r++)); do
    for tool in decode convert split; do
        case $tool in
        decode) result=$(measure "$decode" "$input" "$work/out.dff") ;;
        convert) result=$(measure "$convert" "$input" "$work/out.dsf") ;;
        split) result=$(measure "$split" -q --cue "$work/album.cue" "$input" "$work/tracks") ;;
        esac
        rm -rf "$work/out.dff" "$work/out.dsf" "$work/tracks"
        read -r w c m <<<"$result"
        wall[$tool]+="$w "
        cpu[$tool]+="$c "
        rss[$tool]+="$m "
    done
done

echo "== $minutes minutes of stereo DSD64 DST, $rounds rounds (medians)"
for tool in decode convert split; do
    w=$(tr ' ' '\n' <<<"${wall[$tool]}" | grep . | median)
    c=$(tr ' ' '\n' <<<"${cpu[$tool]}" | grep . | median)
    m=$(tr ' ' '\n' <<<"${rss[$tool]}" | grep . | sort -n | tail -1)
    case $tool in
    decode) label="dff-dst-decode (one plain DSDIFF)" ;;
    convert) label="dff-dsf-convert (one DSF)" ;;
    split) label="dff-dsf-split (12 DSF tracks)" ;;
    esac
    printf '%-36s %8.2f s wall %8.2f s CPU  peak %6d KiB\n' "$label" "$w" "$c" "$m"
    med[$tool]=$w
done
awk -v s="${med[split]}" -v d="${med[decode]}" \
    'BEGIN { printf "split / decode, wall: %.2f\n", s / d }'
