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
trap 'rm -rf "$work"' EXIT
trap 'exit 130' INT TERM

echo "== machine"
echo "cpu: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ //'), nproc $(nproc)"
echo "kernel: $(uname -r); work dir: $(df -h --output=fstype,size "$work" | tail -1 | xargs)"
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"

echo "== conversion vs dd, $mib MiB of sound data, $pairs alternating pairs"
big=$work/big.dsf
# 1-bit stereo: one byte per channel holds 8 samples.
"$gen" --rate 2822400 --samples $((mib * 1024 * 1024 / 2 * 8)) "$big" >/dev/null
echo "input: $(stat -c %s "$big") bytes"

# The loop runs in one Python process: a monotonic clock around each run,
# and the CPU time (user + system) the run used, which other load on the
# machine disturbs far less than wall time.
python3 - "$pairs" "$conv" "$big" "$work" <<'PY'
import os, resource, statistics, subprocess, sys, time

pairs, conv, big, work = int(sys.argv[1]), sys.argv[2], sys.argv[3], sys.argv[4]
commands = {
    "convert": ([conv, big, f"{work}/out.dff"], f"{work}/out.dff"),
    "dd": (["dd", f"if={big}", f"of={work}/out.copy", "bs=1M", "status=none"],
           f"{work}/out.copy"),
}

def run(name):
    argv, out = commands[name]
    for _, old in commands.values():
        if os.path.exists(old):
            os.remove(old)
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    t0 = time.perf_counter_ns()
    subprocess.run(argv, stdout=subprocess.DEVNULL, check=True)
    wall = time.perf_counter_ns() - t0
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    return wall / 1e6, cpu * 1e3

for _ in range(2):
    run("convert"), run("dd")
wall = {"convert": [], "dd": []}
cpu = {"convert": [], "dd": []}
for i in range(pairs):
    # Alternate which goes first so that neither always follows the other.
    order = ("convert", "dd") if i % 2 == 0 else ("dd", "convert")
    for name in order:
        w, c = run(name)
        wall[name].append(w)
        cpu[name].append(c)
for _, old in commands.values():
    if os.path.exists(old):
        os.remove(old)

med = statistics.median
for name, label in (("convert", "dsf-dff-convert"), ("dd", "dd bs=1M")):
    print(f"{label + ' median:':24}{med(wall[name]):7.1f} ms wall (min {min(wall[name]):.1f}, "
          f"max {max(wall[name]):.1f}); {med(cpu[name]):.1f} ms CPU")
ratios = [c / d for c, d in zip(wall["convert"], wall["dd"])]
cpu_ratios = [c / d for c, d in zip(cpu["convert"], cpu["dd"]) if d > 0]
print(f"ratio converter/dd, median of pairs: {med(ratios):.3f} wall (target <= 1.15), "
      f"{med(cpu_ratios):.3f} CPU time")
print("wall ratios of the pairs: " + " ".join(f"{r:.3f}" for r in ratios))
PY

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
    local tool=$1 ext=$2 offset=$3 tiny=$work/tiny.$2 huge=$work/huge.$2
    if [[ ! -x $tool ]]; then
        echo "skipped $(basename "$tool"): not built in $build"
        return
    fi
    local tiny_before huge_before
    tiny_before=$(field "$tiny" "$offset" 8)
    huge_before=$(field "$huge" "$offset" 8)
    # Small and large alternate, so that a burst of other load hits both.
    # The rewrite is idempotent: every run does the same work.
    python3 - "$tool" "$tiny" "$huge" <<'PY'
import os, statistics, subprocess, sys, time

tool, files = sys.argv[1], sys.argv[2:]
def run(f):
    t0 = time.perf_counter_ns()
    subprocess.run([tool, f], stdout=subprocess.DEVNULL, check=True)
    return (time.perf_counter_ns() - t0) / 1e6
for _ in range(5):
    run(files[0]), run(files[1])
times = [[], []]
for i in range(300):
    for k in ((0, 1) if i % 2 == 0 else (1, 0)):
        times[k].append(run(files[k]))
name = os.path.basename(tool)
for k, f in enumerate(files):
    print(f"{name:16} {os.path.getsize(f):10} bytes: median {statistics.median(times[k]):.3f} ms, "
          f"min {min(times[k]):.3f} ms, 300 runs")
ratios = [h / t for t, h in zip(*times)]
print(f"    large / small, median of pairs: {statistics.median(ratios):.2f} (target: about 1)")
PY
    echo "    bytes $offset..$((offset + 7)) of the small file: $tiny_before -> $(field "$tiny" "$offset" 8)"
    echo "    bytes $offset..$((offset + 7)) of the large file: $huge_before -> $(field "$huge" "$offset" 8)"
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
