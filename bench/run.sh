#!/usr/bin/env bash
# Times the converters against plain copies of the same file (dd bs=1M and
# cp), reports their peak memory at two input sizes, times the rate
# rewriters on a tiny and a huge file, and times DST decoding against
# FFmpeg's. Usage: bench/run.sh [BUILD_DIR] (default build/release).
# BENCH_PAIRS (default 21), BENCH_MIB (default 128) and BENCH_DST_ROUNDS
# (default 5) change the run; BENCH_ONLY=dst runs the DST part alone.
# BENCH_BASELINE=OTHER_BUILD_DIR times that build's converters in the same
# rounds too, for a before/after comparison.
set -euo pipefail

build=${1:-build/release}
pairs=${BENCH_PAIRS:-21}
mib=${BENCH_MIB:-128}
baseline=${BENCH_BASELINE:-}
gen=$build/tests/generator/dsf-gen
conv=$build/convert/dsf-dff-convert
dummy=$build/convert/dsf-dff256-dummy
back=$build/convert/dff-dsf-convert
dff_rate=$build/rate/dff-rate-set-64
wav_rate=$build/rate/wav-rate-set
decode=$build/convert/dff-dst-decode
dst_rounds=${BENCH_DST_ROUNDS:-5}
only=${BENCH_ONLY:-}

for tool in "$gen" "$conv" "$dummy"; do
    if [[ ! -x $tool ]]; then
        echo "missing $tool: build first (cmake --build --preset release)" >&2
        exit 2
    fi
done
if ((pairs < 15 || mib < 128)); then
    echo "warning: below the reference run (15 pairs, 128 MiB)" >&2
fi

# Everything runs in memory, so that disk writeback does not drown the
# comparison. The large input, its DFF form and one output at a time, plus
# the rewriters' small files (their 4 GiB files are sparse).
need_kib=$(((3 * mib + 64) * 1024))
# The DST part's files (a DST file, its plain twin and one output at a time)
# need about 448 MiB whatever BENCH_MIB says.
if ((need_kib < 448 * 1024)); then
    need_kib=$((448 * 1024))
fi
tmpfs_with_room() {
    [[ -d $1 && $(stat -f -c %T "$1" 2>/dev/null) == tmpfs ]] &&
        (($(df -k --output=avail "$1" | tail -1) >= need_kib))
}
mounted=""
if [[ -n ${TMPDIR:-} ]] && tmpfs_with_room "$TMPDIR"; then
    work=$(mktemp -d "$TMPDIR/dsd-bench.XXXXXX")
    where="TMPDIR ($TMPDIR)"
elif ((EUID == 0)) && mounted=$(mktemp -d /tmp/dsd-bench-mnt.XXXXXX) &&
    mount -t tmpfs -o "size=$((need_kib + 65536))k,mode=700" dsd-bench "$mounted" 2>/dev/null; then
    work=$mounted
    where="a tmpfs mounted for the run at $mounted"
elif tmpfs_with_room /dev/shm; then
    rmdir "$mounted" 2>/dev/null || true
    mounted=""
    work=$(mktemp -d /dev/shm/dsd-bench.XXXXXX)
    where="/dev/shm"
else
    rmdir "$mounted" 2>/dev/null || true
    echo "no tmpfs with $((need_kib / 1024)) MiB free: set TMPDIR to one, or run as root" >&2
    exit 2
fi
# shellcheck source=bench/common.sh
source "$(dirname "$0")/common.sh"
bench_clean_up_on_exit
bench_print_machine

# Peak RSS of `TOOL IN $work/peak.EXT`, lowest of three runs.
peak_kib() {
    local best="" kib
    for _ in 1 2 3; do
        rm -f "$work/peak.dff" "$work/peak.dsf"
        kib=$(/usr/bin/time -f %M "$1" "$2" "$work/peak.$3" 2>&1 >/dev/null | tail -1)
        if [[ -z $best ]] || ((kib < best)); then best=$kib; fi
    done
    rm -f "$work/peak.dff" "$work/peak.dsf"
    echo "$best"
}

if [[ $only != dst ]]; then

echo "== converters vs dd bs=1M and cp, $mib MiB of sound data, $pairs rounds"
big=$work/big.dsf
# 1-bit stereo: one byte per channel holds 8 samples.
"$gen" --rate 2822400 --samples $((mib * 1024 * 1024 / 2 * 8)) "$big" >/dev/null
"$conv" "$big" "$work/big.dff" >/dev/null
echo "input: $(stat -c %s "$big") bytes (DSF), $(stat -c %s "$work/big.dff") bytes (DFF)"
if [[ ! -x $back ]]; then
    echo "skipped dff-dsf-convert: not built in $build"
    back=""
fi

# One Python process runs the loop: a monotonic clock around each run, and
# the CPU time (user + system) the run used, which other load on the machine
# disturbs far less than wall time.
if [[ -n $baseline ]]; then
    echo "baseline: the converters of $baseline, marked (base)"
fi
python3 - "$pairs" "$work" "$conv" "$dummy" "$back" "$baseline" <<'PY'
import os, resource, statistics, subprocess, sys, time

rounds, work, conv, dummy, back, baseline = int(sys.argv[1]), *sys.argv[2:]
big, big_dff = f"{work}/big.dsf", f"{work}/big.dff"
commands = {
    "dd bs=1M": ["dd", f"if={big}", f"of={work}/out.copy", "bs=1M", "status=none"],
    "cp": ["cp", big, f"{work}/out.copy"],
}
if back or baseline:
    # dff-dsf-convert is compared with a copy of its own input.
    commands["dd bs=1M, DFF"] = ["dd", f"if={big_dff}", f"of={work}/out.copy", "bs=1M",
                                 "status=none"]
for tag, directory in [("", os.path.dirname(conv))] + ([(" (base)", f"{baseline}/convert")]
                                                       if baseline else []):
    for tool, source, ext in [("dsf-dff-convert", big, "dff"), ("dsf-dff256-dummy", big, "dff"),
                              ("dff-dsf-convert", big_dff, "dsf")]:
        program = f"{directory}/{tool}"
        if os.access(program, os.X_OK) and (tool != "dff-dsf-convert" or back or tag):
            commands[tool + tag] = [program, source, f"{work}/out.{ext}"]
outputs = [f"{work}/out.{ext}" for ext in ("copy", "dff", "dsf")]

def run(name):
    for old in outputs:
        if os.path.exists(old):
            os.remove(old)
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    t0 = time.perf_counter_ns()
    subprocess.run(commands[name], stdout=subprocess.DEVNULL, check=True)
    wall = time.perf_counter_ns() - t0
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    return wall / 1e6, cpu * 1e3

names = list(commands)
for _ in range(2):
    for name in names:
        run(name)
wall = {name: [] for name in names}
cpu = {name: [] for name in names}
for i in range(rounds):
    # Rotate the order so that no program always follows the same one.
    k = i % len(names)
    for name in names[k:] + names[:k]:
        w, c = run(name)
        wall[name].append(w)
        cpu[name].append(c)
for old in outputs:
    if os.path.exists(old):
        os.remove(old)

med = statistics.median
def ratio(name, base, times):
    return med([a / b for a, b in zip(times[name], times[base]) if b > 0])
print(f"{'':25}{'median wall':>14}{'min':>9}{'CPU':>9}{'/ dd':>8}{'/ cp':>8}{'CPU / dd':>10}")
for name in names:
    dd = "dd bs=1M, DFF" if name.startswith("dff-dsf-convert") else "dd bs=1M"
    print(f"{name:25}{med(wall[name]):11.1f} ms{min(wall[name]):9.1f}{med(cpu[name]):9.1f}"
          f"{ratio(name, dd, wall):8.3f}{ratio(name, 'cp', wall):8.3f}"
          f"{ratio(name, dd, cpu):10.3f}")
print("ratios: medians of the per-round ratios of wall time (target: each converter <= 1.05 "
      "to dd of its own input); CPU: user + system")
PY

echo "== peak resident memory (KiB, lowest of three runs)"
small=$work/small.dsf
"$gen" --rate 2822400 --samples $((1024 * 1024 / 2 * 8)) "$small" >/dev/null
"$conv" "$small" "$work/small.dff" >/dev/null
rss_line() {
    local tool=$1 small_in=$2 big_in=$3 ext=$4 rss_small rss_big
    rss_small=$(peak_kib "$tool" "$small_in" "$ext")
    rss_big=$(peak_kib "$tool" "$big_in" "$ext")
    printf '%-18s 1 MiB: %6s; %d MiB: %6s; difference %5d (target <= 1024)\n' \
        "$(basename "$tool")" "$rss_small" "$mib" "$rss_big" $((rss_big - rss_small))
}
rss_line "$conv" "$small" "$big" dff
rss_line "$dummy" "$small" "$big" dff
if [[ -n $back ]]; then
    rss_line "$back" "$work/small.dff" "$work/big.dff" dsf
fi
rm -f "$big" "$work/big.dff"

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
fi

echo "== DST: dff-dst-decode on 1 and on all threads against FFmpeg, $dst_rounds rounds"
if [[ ! -x $decode ]]; then
    echo "skipped: dff-dst-decode is not built in $build"
    exit 0
fi
ffmpeg=$(command -v ffmpeg || true)
[[ -n $ffmpeg ]] || echo "ffmpeg is not installed (Debian package ffmpeg): its lines are left out"
# The generator's sigma-delta tones, encoded as an encoder would (filters
# fitted per channel, a stored frame where that is shorter), each with its
# uncompressed twin; 10 s and 60 s of stereo for the memory comparison.
"$gen" --dst --channels 2 --seconds 60 --plain "$work/stereo60.plain.dff" "$work/stereo60.dff"
"$gen" --dst --channels 6 --seconds 20 --plain "$work/surround20.plain.dff" "$work/surround20.dff"
"$gen" --dst --channels 2 --seconds 10 "$work/stereo10.dff"
python3 - "$dst_rounds" "$work" "$decode" "$ffmpeg" "$(nproc)" <<'PY'
import filecmp, os, resource, statistics, subprocess, sys, time

rounds, work, decode, ffmpeg, threads = int(sys.argv[1]), sys.argv[2], sys.argv[3], sys.argv[4], int(sys.argv[5])
med = statistics.median

def run(command, env=None):
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    t0 = time.perf_counter_ns()
    subprocess.run(command, stdout=subprocess.DEVNULL, check=True, env=env)
    wall = (time.perf_counter_ns() - t0) / 1e9
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    return wall, (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)

for name, seconds, label in (("stereo60", 60, "stereo DSD64, 60 s"), ("surround20", 20, "5.1 DSD64, 20 s")):
    dst, plain, out = f"{work}/{name}.dff", f"{work}/{name}.plain.dff", f"{work}/out.dff"
    env_one = dict(os.environ, DSD_THREADS="1")
    env_all = {k: v for k, v in os.environ.items() if k != "DSD_THREADS"}
    commands = {
        "dff-dst-decode, 1 thread": ([decode, dst, out], env_one),
        f"dff-dst-decode, {threads} threads": ([decode, dst, out], env_all),
    }
    if ffmpeg:
        commands["ffmpeg, DST file"] = ([ffmpeg, "-v", "error", "-i", dst, "-f", "null", "-"], None)
        commands["ffmpeg, decoded file"] = ([ffmpeg, "-v", "error", "-i", plain, "-f", "null", "-"], None)
    run(*commands["dff-dst-decode, 1 thread"])
    same = filecmp.cmp(out, plain, shallow=False)
    names = list(commands)
    for name_ in names:
        run(*commands[name_])
    wall = {n: [] for n in names}
    cpu = {n: [] for n in names}
    for i in range(rounds):
        k = i % len(names)
        for n in names[k:] + names[:k]:
            w, c = run(*commands[n])
            wall[n].append(w)
            cpu[n].append(c)
    one, many = names[0], names[1]
    print(f"-- {label}: {os.path.getsize(dst)} bytes DST, {os.path.getsize(plain)} bytes decoded; "
          f"output = the generator's plain twin: {'yes' if same else 'NO'}")
    print(f"{'':28}{'median wall':>12}{'min':>8}{'CPU':>8}{'sound s / wall s':>18}{'/ CPU s':>9}")
    for n in names:
        print(f"{n:28}{med(wall[n]):10.3f} s{min(wall[n]):8.3f}{med(cpu[n]):8.3f}"
              f"{seconds / med(wall[n]):18.1f}{seconds / med(cpu[n]):9.1f}")
    print(f"per thread: 1 thread {seconds / med(wall[one]):.1f}, {threads} threads "
          f"{seconds / med(wall[many]) / threads:.1f} s of sound per second")
    scaling = med([a / b for a, b in zip(wall[one], wall[many])])
    print(f"thread scaling (wall, 1 thread / {threads} threads, median of rounds): {scaling:.2f} "
          f"(target >= {0.8 * threads:.1f})")
    if ffmpeg:
        dst_wall = med([a - b for a, b in zip(wall["ffmpeg, DST file"], wall["ffmpeg, decoded file"])])
        dst_cpu = med([a - b for a, b in zip(cpu["ffmpeg, DST file"], cpu["ffmpeg, decoded file"])])
        print(f"FFmpeg's DST decoding alone (DST file less decoded file, median of rounds): "
              f"{dst_wall:.3f} s wall, {dst_cpu:.3f} s CPU = {seconds / dst_cpu:.1f} s of sound per CPU s")
        print(f"1 thread against it: {dst_wall / med(wall[one]):.2f} x in wall time, "
              f"{dst_cpu / med(cpu[one]):.2f} x in CPU time (target >= 2)")
    os.remove(out)
PY
for kind in 10 60; do
    rss[$kind]=$(peak_kib "$decode" "$work/stereo$kind.dff" dff)
done
printf '%-18s peak RSS, stereo 10 s: %6s; 60 s: %6s KiB; difference %5d (target <= 1024)\n' \
    dff-dst-decode "${rss[10]}" "${rss[60]}" $((rss[60] - rss[10]))
if [[ -x $back ]]; then
    for kind in 10 60; do
        rss[$kind]=$(peak_kib "$back" "$work/stereo$kind.dff" dsf)
    done
    printf '%-18s peak RSS, stereo 10 s: %6s; 60 s: %6s KiB; difference %5d (target <= 1024)\n' \
        dff-dsf-convert "${rss[10]}" "${rss[60]}" $((rss[60] - rss[10]))
fi
