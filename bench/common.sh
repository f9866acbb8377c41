# Shared by the benchmark scripts, sourced after they have chosen their
# scratch directory: `work`, and `mounted` when it is a tmpfs they mounted
# (`where` says which, for the machine lines).

# Removes the scratch directory, or the tmpfs, however the script ends.
bench_clean_up_on_exit() {
    bench_clean_up() {
        if [[ -n $mounted ]]; then
            umount "$mounted" && rmdir "$mounted"
        else
            rm -rf "$work"
        fi
    }
    trap bench_clean_up EXIT
    trap 'exit 130' INT TERM
}

# The machine the figures come from.
bench_print_machine() {
    echo "== machine"
    echo "cpu: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ //'), nproc $(nproc)"
    echo "kernel: $(uname -r); load average: $(cut -d' ' -f1-3 /proc/loadavg)"
    echo "work dir: $where: $(df -h --output=fstype,size "$work" | tail -1 | xargs)"
}
