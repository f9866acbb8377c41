#!/usr/bin/env bash
# Times a batch of small files converted three ways: a shell loop that runs
# dsf-dff-convert once per file, and one run of it with -t, -j 1 and -j 2.
# Usage: bench/batch.sh [BUILD_DIR] [WORK_PARENT] (default build/release and
# $TMPDIR or /tmp; the parent's file system decides what each file's fsync
# costs). BATCH_FILES (default 1000), BATCH_SAMPLES (default 282240: 0.1 s
# of DSD64, 72 KiB) and BATCH_RUNS (default 10) change the run. Uses
# hyperfine when installed, else bash's time.
set -euo pipefail

build=$(realpath "${1:-build/release}")
parent=${2:-${TMPDIR:-/tmp}}
files=${BATCH_FILES:-1000}
samples=${BATCH_SAMPLES:-282240}
runs=${BATCH_RUNS:-10}
gen=$build/tests/generator/dsf-gen
conv=$build/convert/dsf-dff-convert
for tool in "$gen" "$conv"; do
    if [[ ! -x $tool ]]; then
        echo "missing $tool: build first (cmake --build --preset release)" >&2
        exit 2
    fi
done

work=$(mktemp -d "$parent/dsd-batch.XXXXXX")
trap 'rm -rf "$work"' EXIT
trap 'exit 130' INT TERM
cd "$work"
mkdir rips
for ((i = 0; i < files; i++)); do
    "$gen" --samples "$samples" --left $((100 + i % 1000)) "rips/t$(printf %05d "$i").dsf" >/dev/null
done
cat >loop.sh <<LOOP
for f in rips/*.dsf; do b=\${f##*/}; "$conv" "\$f" "out/\${b%.dsf}.dff" || exit 1; done
LOOP

echo "cpu: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ //'), nproc $(nproc)"
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "work dir: $work: $(df -h --output=fstype "$work" | tail -1 | xargs)"
echo "$files files of $(stat -c %s rips/t00000.dsf) bytes"

names=("shell loop, one run per file" "one run, -j 1" "one run, -j 2")
commands=("bash loop.sh >/dev/null"
    "$conv -t out rips/*.dsf >/dev/null"
    "$conv -j 2 -t out rips/*.dsf >/dev/null")
if command -v hyperfine >/dev/null; then
    args=()
    for k in "${!names[@]}"; do
        args+=(-n "${names[k]}" "${commands[k]}")
    done
    hyperfine --warmup 1 --runs "$runs" --prepare 'rm -rf out && mkdir out && sync' "${args[@]}"
else
    for k in "${!names[@]}"; do
        times=()
        for ((r = 0; r < runs; r++)); do
            rm -rf out && mkdir out && sync
            start=$(date +%s%N)
            bash -c "${commands[k]}"
            times+=($((($(date +%s%N) - start) / 1000000)))
        done
        sorted=$(printf '%s\n' "${times[@]}" | sort -n | paste -sd' ')
        echo "${names[k]}: ms, sorted: $sorted"
    done
fi
