// Helpers for tests that run the built programs: a scratch directory, whole-
// file reads and writes, and a runner that captures both output streams and
// the exit status.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace dsd::test {

using Bytes = std::vector<std::uint8_t>;

// A fresh directory, removed with everything in it on destruction. It is
// world-writable so that cases run as an unprivileged user can use it.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }
    // Names in the directory, sorted (no "." or "..").
    std::vector<std::string> entries() const;

  private:
    std::string path_;
};

Bytes read_file(const std::string& path);
void write_file(const std::string& path, const Bytes& data);
bool file_exists(const std::string& path);

struct RunOptions {
    std::string cwd;                               // default: inherit
    std::optional<uid_t> run_as;                   // drop to this uid (and its gid) before exec
    std::optional<std::uint64_t> file_size_limit;  // RLIMIT_FSIZE in bytes
    bool ignore_sigxfsz = false;
    std::vector<int> ignored_signals;  // as nohup or a background job leaves them
    std::optional<mode_t> umask;
    std::optional<std::string> argv0;  // default: the program path
    // Standard output: a file (such as /dev/full) instead of a capture, or a
    // pipe whose reading end is already closed.
    std::optional<std::string> stdout_path;
    bool stdout_closed_pipe = false;
    // Standard error: a pseudo-terminal in raw mode (no newline translation),
    // read as the program writes it.
    bool stderr_terminal = false;
    // Opening unnamed files (O_TMPFILE) fails with EOPNOTSUPP, as on file
    // systems without them: a seccomp filter on the program itself. The run
    // ends with status 124 where the filter cannot be installed.
    bool no_unnamed_files = false;
    // Called in the parent once the program runs; may send it signals.
    std::function<void(pid_t)> while_running;
    // Traces the program until it returns without error from the first
    // system call this picks (by number and arguments), runs
    // `while_stopped`, and lets it go on; so at each of the first `stops`
    // calls it picks.
    std::function<bool(long, const std::array<std::uint64_t, 6>&)> stop_after_syscall;
    std::function<void()> while_stopped;
    unsigned stops = 1;
};

inline constexpr int status_no_seccomp = 124;

struct RunResult {
    int status = -1;  // exit status, or 128 + signal number
    std::string out;
    std::string err;
    bool stopped = false;  // the program stopped there `stops` times
};

RunResult run_program(const std::string& program, const std::vector<std::string>& args,
                      const RunOptions& options = {});

using SyscallArguments = std::array<std::uint64_t, 6>;
// Whether this process may trace the programs it starts, natively run.
bool tracing_available();
// Stops for stop_after_syscall: a positioned read, one of at least 64 KiB,
// an open that creates a new file (O_CREAT | O_EXCL), a hard link.
bool is_pread(long number, const SyscallArguments& arguments);
bool is_large_pread(long number, const SyscallArguments& arguments);
bool is_exclusive_create(long number, const SyscallArguments& arguments);
bool is_link(long number, const SyscallArguments& arguments);

// An exFAT file system on a loop device, mounted through FUSE for the
// lifetime of the object: a file system without unnamed files (O_TMPFILE)
// that keeps names as UTF-16, as on USB drives and SD cards. Needs root,
// /dev/fuse, losetup, mkfs.exfat and mount.exfat-fuse (Debian packages
// exfatprogs and exfat-fuse); path() is empty and why_not() says why when
// it could not be mounted.
class ExfatMount {
  public:
    ExfatMount(const TempDir& scratch, std::uint64_t size);
    ~ExfatMount();
    ExfatMount(const ExfatMount&) = delete;
    ExfatMount& operator=(const ExfatMount&) = delete;

    const std::string& path() const { return path_; }
    const std::string& why_not() const { return why_not_; }

  private:
    std::string device_;
    std::string path_;
    std::string why_not_;
};

// The first executable `name` on PATH, if any.
std::optional<std::string> find_on_path(const std::string& name);

// A Python that can import mutagen's DSDIFF reader. Debian's python3-mutagen
// belongs to /usr/bin/python3, which need not be the first python3 on PATH.
std::optional<std::string> python_with_mutagen();

// The uid of "nobody", for cases that must not run as root.
uid_t unprivileged_uid();

}  // namespace dsd::test
