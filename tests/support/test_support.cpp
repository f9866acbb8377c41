#include "test_support.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <pwd.h>
#include <signal.h>
#include <stddef.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/ptrace.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "test_emulator.hpp"

namespace dsd::test {

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "dsdtest.XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    path_ = pattern;
    ::chmod(path_.c_str(), 0777);
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

std::vector<std::string> TempDir::entries() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(path_)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

Bytes read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot read " + path);
    }
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void write_file(const std::string& path, const Bytes& data) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data.data()),
              static_cast<std::streamsize>(data.size()));
    if (!out.flush()) {
        throw std::runtime_error("cannot write " + path);
    }
}

bool file_exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

namespace {

std::string drain(int fd) {
    std::string text;
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(fd, buffer, sizeof buffer)) > 0) {
        text.append(buffer, static_cast<std::size_t>(n));
    }
    return text;
}

// Makes every open or openat that asks for an unnamed file fail with
// EOPNOTSUPP; everything else passes. openat2 hides its flags in memory, so
// it is refused as unknown and the C library falls back to openat.
bool refuse_unnamed_files() {
    constexpr std::uint32_t flag = __O_TMPFILE & ~O_DIRECTORY;
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    constexpr std::uint32_t low_word = 0;
#else
    constexpr std::uint32_t low_word = 4;
#endif
    const auto arg = [](int i) {
        return static_cast<std::uint32_t>(offsetof(seccomp_data, args) + 8 * i + low_word);
    };
    std::vector<sock_filter> program{
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
    };
    const auto check_flags_of = [&](long nr, int flags_arg) {
        program.push_back(
            BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, static_cast<std::uint32_t>(nr), 0, 3));
        program.push_back(BPF_STMT(BPF_LD | BPF_W | BPF_ABS, arg(flags_arg)));
        program.push_back(BPF_JUMP(BPF_JMP | BPF_JSET | BPF_K, flag, 0, 1));
        program.push_back(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EOPNOTSUPP));
        program.push_back(BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)));
    };
    check_flags_of(SYS_openat, 2);
#ifdef SYS_open
    check_flags_of(SYS_open, 1);
#endif
#ifdef SYS_openat2
    program.push_back(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_openat2, 0, 1));
    program.push_back(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | ENOSYS));
#endif
    program.push_back(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW));
    const sock_fprog fprog{static_cast<unsigned short>(program.size()), program.data()};
    return ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
           ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &fprog) == 0;
}

// Follows a child that stopped at its exec until the syscall the options pick
// has returned as many times as they say; false when the child ended first
// (its wait status in `wstatus`) or cannot be traced (then detached and
// running).
bool trace_to_stop(pid_t pid, const RunOptions& options, int& wstatus) {
    if (::waitpid(pid, &wstatus, 0) != pid || !WIFSTOPPED(wstatus)) {
        return false;
    }
    ::ptrace(PTRACE_SETOPTIONS, pid, 0, PTRACE_O_TRACESYSGOOD | PTRACE_O_EXITKILL);
    std::optional<long> number;
    SyscallArguments arguments{};
    int signal = 0;
    unsigned stops = 0;
    for (;;) {
        ::ptrace(PTRACE_SYSCALL, pid, 0, signal);
        signal = 0;
        if (::waitpid(pid, &wstatus, 0) != pid || !WIFSTOPPED(wstatus)) {
            return false;
        }
        if (WSTOPSIG(wstatus) != (SIGTRAP | 0x80)) {
            signal = WSTOPSIG(wstatus);
            continue;
        }
        __ptrace_syscall_info info{};
        if (::ptrace(PTRACE_GET_SYSCALL_INFO, pid, sizeof info, &info) <= 0) {
            ::ptrace(PTRACE_DETACH, pid, 0, 0);
            return false;
        }
        if (info.op == PTRACE_SYSCALL_INFO_ENTRY) {
            number = static_cast<long>(info.entry.nr);
            std::copy(std::begin(info.entry.args), std::end(info.entry.args), arguments.begin());
        } else if (info.op == PTRACE_SYSCALL_INFO_EXIT && number && info.exit.is_error == 0 &&
                   options.stop_after_syscall(*number, arguments)) {
            options.while_stopped();
            if (++stops >= options.stops) {
                ::ptrace(PTRACE_DETACH, pid, 0, 0);
                return true;
            }
        }
    }
}

}  // namespace

namespace {

// Programs of this build run through the emulator when it is a cross build;
// everything else (Python, ffprobe, mandoc) is a program of this machine.
bool is_built_program(const std::string& program) {
    const std::string build_dir = built_programs_dir;
    return !emulator.empty() && program.compare(0, build_dir.size() + 1, build_dir + "/") == 0;
}

// The emulator's own path: after privileges are dropped a search of PATH may
// find nothing, and before fork it is found once.
const std::string& emulator_path() {
    static const std::string path = [] {
        const std::string& name = emulator.front();
        if (name.find('/') != std::string::npos) {
            return name;
        }
        return find_on_path(name).value_or(name);
    }();
    return path;
}

}  // namespace

RunResult run_program(const std::string& program, const std::vector<std::string>& args,
                      const RunOptions& options) {
    // Output goes to files rather than pipes so a chatty child can never block.
    char out_name[] = "/tmp/dsdrun-out.XXXXXX";
    char err_name[] = "/tmp/dsdrun-err.XXXXXX";
    const int out_fd = ::mkstemp(out_name);
    const int err_fd = ::mkstemp(err_name);
    ::unlink(out_name);
    ::unlink(err_name);

    // Opened before privileges are dropped: an unprivileged user may not be
    // able to reach the build tree by its path.
    const bool emulated = is_built_program(program);
    const int program_fd = ::open(program.c_str(), O_RDONLY | (emulated ? 0 : O_CLOEXEC));

    std::vector<std::string> argv_strings;
    if (emulated) {
        // The emulator reads the program through the inherited descriptor
        // and hands it the argv[0] it would have had.
        argv_strings.push_back(emulator_path());
        argv_strings.insert(argv_strings.end(), emulator.begin() + 1, emulator.end());
        argv_strings.push_back("-0");
        argv_strings.push_back(options.argv0.value_or(program));
        argv_strings.push_back("/proc/self/fd/" + std::to_string(program_fd));
    } else {
        argv_strings.push_back(options.argv0.value_or(program));
    }
    argv_strings.insert(argv_strings.end(), args.begin(), args.end());
    std::vector<char*> argv;
    argv.reserve(argv_strings.size() + 1);
    for (auto& s : argv_strings) {
        argv.push_back(s.data());
    }
    argv.push_back(nullptr);
    int closed_pipe[2] = {-1, -1};
    if (options.stdout_closed_pipe && ::pipe(closed_pipe) == 0) {
        ::close(closed_pipe[0]);
    }
    // Only the child opens the terminal's other side, so reading this one
    // ends (EIO) once the child is gone.
    int terminal = -1;
    std::string terminal_name;
    if (options.stderr_terminal) {
        terminal = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (terminal < 0 || ::grantpt(terminal) != 0 || ::unlockpt(terminal) != 0) {
            throw std::runtime_error("no pseudo-terminal");
        }
        terminal_name = ::ptsname(terminal);
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(out_fd, STDOUT_FILENO);
        if (options.stdout_path) {
            const int fd = ::open(options.stdout_path->c_str(), O_WRONLY);
            ::dup2(fd, STDOUT_FILENO);
        }
        if (options.stdout_closed_pipe) {
            ::dup2(closed_pipe[1], STDOUT_FILENO);
        }
        // No core files in the directories the tests compare.
        const struct rlimit no_core { 0, 0 };
        ::setrlimit(RLIMIT_CORE, &no_core);
        ::dup2(err_fd, STDERR_FILENO);
        if (terminal >= 0) {
            const int fd = ::open(terminal_name.c_str(), O_RDWR | O_NOCTTY);
            struct termios mode {};
            ::tcgetattr(fd, &mode);
            ::cfmakeraw(&mode);
            ::tcsetattr(fd, TCSANOW, &mode);
            ::dup2(fd, STDERR_FILENO);
        }
        const int null_fd = ::open("/dev/null", O_RDONLY);
        ::dup2(null_fd, STDIN_FILENO);
        if (!options.cwd.empty() && ::chdir(options.cwd.c_str()) != 0) {
            ::_exit(126);
        }
        if (options.file_size_limit) {
            struct rlimit limit {
                *options.file_size_limit, *options.file_size_limit
            };
            ::setrlimit(RLIMIT_FSIZE, &limit);
        }
        if (options.umask) {
            ::umask(*options.umask);
        }
        ::signal(SIGXFSZ, options.ignore_sigxfsz ? SIG_IGN : SIG_DFL);
        for (const int sig : options.ignored_signals) {
            ::signal(sig, SIG_IGN);
        }
        if (options.run_as) {
            const struct passwd* pw = ::getpwuid(*options.run_as);
            const gid_t gid = pw != nullptr ? pw->pw_gid : *options.run_as;
            if (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 ||
                ::setuid(*options.run_as) != 0) {
                ::_exit(125);
            }
        }
        if (options.no_unnamed_files && !refuse_unnamed_files()) {
            ::_exit(status_no_seccomp);
        }
        if (options.stop_after_syscall) {
            ::ptrace(PTRACE_TRACEME, 0, 0, 0);
        }
        if (emulated) {
            ::execve(argv[0], argv.data(), environ);
        } else {
            ::fexecve(program_fd, argv.data(), environ);
        }
        ::_exit(127);
    }
    ::close(program_fd);
    if (closed_pipe[1] >= 0) {
        ::close(closed_pipe[1]);
    }
    // Read as it comes: a terminal holds only a few KiB unread.
    std::string terminal_text;
    std::thread terminal_reader;
    if (terminal >= 0) {
        terminal_reader = std::thread([&] { terminal_text = drain(terminal); });
    }
    if (options.while_running) {
        options.while_running(pid);
    }
    int wstatus = 0;
    bool ended = false;
    bool stopped = false;
    if (options.stop_after_syscall) {
        stopped = trace_to_stop(pid, options, wstatus);
        ended = !stopped && (WIFEXITED(wstatus) || WIFSIGNALED(wstatus));
    }
    if (!ended) {
        ::waitpid(pid, &wstatus, 0);
    }

    RunResult result;
    result.stopped = stopped;
    result.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
    ::lseek(out_fd, 0, SEEK_SET);
    ::lseek(err_fd, 0, SEEK_SET);
    result.out = drain(out_fd);
    result.err = drain(err_fd);
    ::close(out_fd);
    ::close(err_fd);
    if (terminal_reader.joinable()) {
        terminal_reader.join();
        ::close(terminal);
        result.err = std::move(terminal_text);
    }
    return result;
}

bool tracing_available() {
    // Under an emulator the system calls seen are the emulator's own.
    static const bool available = emulator.empty() && [] {
        RunOptions options;
        options.stop_after_syscall = [](long, const SyscallArguments&) { return true; };
        options.while_stopped = [] {};
        return run_program("/bin/true", {}, options).stopped;
    }();
    return available;
}

bool is_pread(long number, const SyscallArguments& /*arguments*/) {
    return number == SYS_pread64;
}

bool is_large_pread(long number, const SyscallArguments& arguments) {
    return is_pread(number, arguments) && arguments[2] >= 65536;
}

bool is_exclusive_create(long number, const SyscallArguments& arguments) {
    constexpr std::uint64_t flags = O_CREAT | O_EXCL;
#ifdef SYS_open
    if (number == SYS_open) {
        return (arguments[1] & flags) == flags;
    }
#endif
    return number == SYS_openat && (arguments[2] & flags) == flags;
}

bool is_link(long number, const SyscallArguments& /*arguments*/) {
    return number == SYS_linkat;
}

std::optional<std::string> find_on_path(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::istringstream dirs(path != nullptr ? path : "/usr/bin:/bin");
    for (std::string dir; std::getline(dirs, dir, ':');) {
        const std::string candidate = (dir.empty() ? "." : dir) + "/" + name;
        if (::access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
    }
    return std::nullopt;
}

std::optional<std::string> python_with_mutagen() {
    std::vector<std::string> candidates{"/usr/bin/python3"};
    if (auto other = find_on_path("python3")) {
        candidates.push_back(*other);
    }
    for (const auto& python : candidates) {
        if (file_exists(python) &&
            run_program(python, {"-c", "import mutagen.dsdiff"}).status == 0) {
            return python;
        }
    }
    return std::nullopt;
}

uid_t unprivileged_uid() {
    const struct passwd* pw = ::getpwnam("nobody");
    return pw != nullptr ? pw->pw_uid : 65534;
}

namespace {

// Administration tools live in sbin, which a PATH need not list.
std::optional<std::string> system_tool(const std::string& name) {
    if (auto found = find_on_path(name)) {
        return found;
    }
    for (const std::string dir : {"/usr/sbin/", "/sbin/"}) {
        if (::access((dir + name).c_str(), X_OK) == 0) {
            return dir + name;
        }
    }
    return std::nullopt;
}

}  // namespace

ExfatMount::ExfatMount(const TempDir& scratch, std::uint64_t size) {
    if (::geteuid() != 0 || ::access("/dev/fuse", R_OK | W_OK) != 0) {
        why_not_ = "needs root and /dev/fuse to mount an exFAT image";
        return;
    }
    const auto losetup = system_tool("losetup");
    const auto mkfs = system_tool("mkfs.exfat");
    const auto mount = system_tool("mount.exfat-fuse");
    if (!losetup || !mkfs || !mount) {
        why_not_ = "needs losetup, mkfs.exfat and mount.exfat-fuse (exfatprogs, exfat-fuse)";
        return;
    }
    const std::string image = scratch / "exfat.img";
    const std::string point = scratch / "exfat";
    std::filesystem::create_directory(point);
    write_file(image, {});
    if (::truncate(image.c_str(), static_cast<off_t>(size)) != 0) {
        why_not_ = "cannot make the image";
        return;
    }
    // The FUSE driver wants a block device, not the image file.
    const auto attached = run_program(*losetup, {"--find", "--show", image});
    if (attached.status != 0 || attached.out.empty()) {
        why_not_ = "losetup cannot attach a loop device: " + attached.err;
        return;
    }
    device_ = attached.out.substr(0, attached.out.find('\n'));
    const auto made = run_program(*mkfs, {device_});
    const auto mounted = made.status == 0 ? run_program(*mount, {device_, point}) : made;
    if (mounted.status != 0) {
        why_not_ = "cannot make or mount an exFAT file system: " + mounted.err;
        return;
    }
    path_ = point;
}

ExfatMount::~ExfatMount() {
    if (!path_.empty()) {
        // The driver may still be busy with the last close for a moment.
        for (int tries = 0; tries < 50 && ::umount2(path_.c_str(), 0) != 0; ++tries) {
            ::usleep(100000);
        }
    }
    if (!device_.empty()) {
        if (const auto losetup = system_tool("losetup")) {
            try {
                run_program(*losetup, {"--detach", device_});
            } catch (const std::exception&) {
                // No process to detach it: it stays attached, and empty.
            }
        }
    }
}

}  // namespace dsd::test
