#include "staged_output.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>
#if defined(__linux__)
#include <linux/fs.h>
#endif

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <random>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace dsd {

namespace detail {

// A temporary name that exists on disk, for the signal handlers to remove.
// Records are only linked in and out while the handled signals are blocked,
// so a handler never sees one half-changed.
struct PendingName {
    int directory = -1;
    std::string name;
    PendingName* previous = nullptr;
    PendingName* next = nullptr;
};

}  // namespace detail

namespace {

using detail::PendingName;

PendingName* pending_names = nullptr;

// Every signal whose default action ends the process and that can be caught.
// SIGPIPE and SIGXFSZ are not among them: the converters ignore both, so
// that a failed write is reported like any other.
std::vector<int> terminating_signals() {
    std::vector<int> signals = {SIGHUP,  SIGINT,  SIGQUIT, SIGILL,    SIGTRAP, SIGABRT,
                                SIGBUS,  SIGFPE,  SIGUSR1, SIGSEGV,   SIGUSR2, SIGALRM,
                                SIGTERM, SIGXCPU, SIGSYS,  SIGVTALRM, SIGPROF};
#ifdef SIGSTKFLT
    signals.push_back(SIGSTKFLT);
#endif
#ifdef SIGIO
    signals.push_back(SIGIO);
#endif
#ifdef SIGPWR
    signals.push_back(SIGPWR);
#endif
#ifdef SIGRTMIN
    for (int sig = SIGRTMIN; sig <= SIGRTMAX; ++sig) {
        signals.push_back(sig);
    }
#endif
    return signals;
}

void remove_pending_and_reraise(int sig) {
    for (const PendingName* p = pending_names; p != nullptr; p = p->next) {
        ::unlinkat(p->directory, p->name.c_str(), 0);
    }
    // The signal stays blocked until the handler returns, and then ends the
    // process with its default action: status 128 + sig for the caller.
    ::signal(sig, SIG_DFL);
    ::raise(sig);
}

// Signals a caller chose to ignore (nohup, a background job) stay ignored.
void install_handlers() {
    static bool installed = false;
    if (installed) {
        return;
    }
    installed = true;
    for (const int sig : terminating_signals()) {
        struct sigaction old {};
        if (::sigaction(sig, nullptr, &old) != 0 || old.sa_handler == SIG_IGN) {
            continue;
        }
        struct sigaction action {};
        action.sa_handler = remove_pending_and_reraise;
        sigemptyset(&action.sa_mask);
        ::sigaction(sig, &action, nullptr);
    }
}

// Holds the handled signals back for its lifetime, so that a file and its
// record for the handlers appear and disappear together.
class SignalBlock {
  public:
    SignalBlock() {
        const sigset_t set = terminating_signal_set();
        ::sigprocmask(SIG_BLOCK, &set, &old_);
    }
    ~SignalBlock() { ::sigprocmask(SIG_SETMASK, &old_, nullptr); }
    SignalBlock(const SignalBlock&) = delete;
    SignalBlock& operator=(const SignalBlock&) = delete;

  private:
    sigset_t old_{};
};

// --- Temporary names ------------------------------------------------------------

// ".STEM.XXXXXXXX.part": at most 1 + 128 + 14 = 143 bytes, eCryptfs's
// NAME_MAX and the shortest of any Linux file system. A cut UTF-8 sequence
// is an invalid name on exFAT, FAT and others, so the stem ends before the
// character the limit falls in; a name in another encoding loses at most
// three bytes more.
constexpr std::size_t max_stem = 128;
constexpr std::size_t suffix_letters = 8;
constexpr std::string_view temp_extension = ".part";

std::string_view temp_stem(std::string_view base) {
    if (base.size() <= max_stem) {
        return base;
    }
    std::size_t cut = max_stem;
    const auto continues = [&](std::size_t at) {
        return (static_cast<unsigned char>(base[at]) & 0xC0) == 0x80;
    };
    for (int back = 0; back < 3 && cut > 0 && continues(cut); ++back) {
        --cut;
    }
    return base.substr(0, cut);
}

constexpr std::string_view letters =
    "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";

std::string temp_name_for(const std::string& base) {
    static std::mt19937_64 engine{std::random_device{}() ^ static_cast<std::uint64_t>(::getpid())
                                                               << 32};
    std::string name = ".";
    name += temp_stem(base);
    name += '.';
    for (std::size_t i = 0; i < suffix_letters; ++i) {
        name += letters[engine() % letters.size()];
    }
    name += temp_extension;
    return name;
}

// Whether `name` is one that temp_name_for(base) could have made.
bool is_temp_name_of(std::string_view name, const std::string& base) {
    const std::string_view stem = temp_stem(base);
    if (name.size() != 1 + stem.size() + 1 + suffix_letters + temp_extension.size() ||
        name[0] != '.' || name.substr(1, stem.size()) != stem || name[1 + stem.size()] != '.' ||
        !name.ends_with(temp_extension)) {
        return false;
    }
    const std::string_view suffix = name.substr(2 + stem.size(), suffix_letters);
    return std::all_of(suffix.begin(), suffix.end(),
                       [](char c) { return letters.find(c) != std::string_view::npos; });
}

bool same_file(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Whether `name` in `dir` is still the file open on `fd`.
bool names_file(int dir, const std::string& name, int fd) {
    struct stat by_name {};
    struct stat by_fd {};
    return ::fstatat(dir, name.c_str(), &by_name, AT_SYMLINK_NOFOLLOW) == 0 &&
           ::fstat(fd, &by_fd) == 0 && same_file(by_name, by_fd);
}

// Removes `name` if no process holds its lock. Only the holder of a
// temporary's lock ever renames or removes its name, so once the lock is
// taken and the name still leads to the file locked, the name is ours to
// remove. Where the file system has no locks nothing is removed.
void remove_if_unheld(int dir, const std::string& name) {
    // Written to, as its owner opened it: NFS locks only what a descriptor
    // may write.
    constexpr int flags = O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    FileHandle file(::openat(dir, name.c_str(), O_WRONLY | flags));
    if (!file && errno == EACCES) {
        file = FileHandle(::openat(dir, name.c_str(), O_RDONLY | flags));
    }
    struct stat st {};
    if (!file || ::fstat(file.get(), &st) != 0 || !S_ISREG(st.st_mode) ||
        ::flock(file.get(), LOCK_EX | LOCK_NB) != 0) {
        return;
    }
    if (names_file(dir, name, file.get())) {
        ::unlinkat(dir, name.c_str(), 0);
    }
}

// What killed conversions to `base` left in `dir`. A directory that cannot
// be listed keeps them.
void remove_stale_temporaries(int dir, const std::string& base) {
    FileHandle listing(::openat(dir, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    DIR* stream = listing ? ::fdopendir(listing.get()) : nullptr;
    if (stream == nullptr) {
        return;
    }
    static_cast<void>(listing.release());
    std::vector<std::string> stale;
    while (const dirent* entry = ::readdir(stream)) {
        if (is_temp_name_of(entry->d_name, base)) {
            stale.emplace_back(entry->d_name);
        }
    }
    ::closedir(stream);
    for (const auto& name : stale) {
        remove_if_unheld(dir, name);
    }
}

// Locks a temporary just created under `name`. False when a process
// removing stale temporaries got to it first: the name is that process's
// to remove, and the caller must take another.
bool lock_new_temporary(int dir, const std::string& name, int fd) {
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        // No locks on this file system: nobody removes it either.
        return errno != EWOULDBLOCK;
    }
    return names_file(dir, name, fd);
}

// --- Where the output goes -------------------------------------------------------

// A directory to create names in. A directory that may be searched but not
// read still works through O_PATH, only without the final sync.
FileHandle open_directory(int at, const std::string& name) {
    FileHandle dir(::openat(at, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dir && errno == EACCES) {
        dir = FileHandle(::openat(at, name.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    }
    return dir;
}

// The directory part of a name, "." when it has none; "/" stays "/".
std::pair<std::string, std::string> split_name(const std::string& name) {
    const auto slash = name.rfind('/');
    if (slash == std::string::npos) {
        return {".", name};
    }
    return {name.substr(0, slash + 1), name.substr(slash + 1)};
}

bool is_plain_entry(const std::string& base) {
    return !base.empty() && base != "." && base != "..";
}

std::optional<std::string> read_link_at(int dir, const std::string& name) {
    std::string target(256, '\0');
    for (;;) {
        const ssize_t n = ::readlinkat(dir, name.c_str(), target.data(), target.size());
        if (n < 0) {
            return std::nullopt;
        }
        if (static_cast<std::size_t>(n) < target.size()) {
            target.resize(static_cast<std::size_t>(n));
            return target;
        }
        target.resize(target.size() * 2);
    }
}

// The directory and entry of the file `name` finally refers to, following
// symbolic links one by one, each relative to the directory it is in.
struct Place {
    FileHandle directory;
    std::string base;
};

std::optional<Place> resolve(const std::string& name) {
    constexpr int max_links = 40;  // as the kernel allows
    auto [dir_name, base] = split_name(name);
    FileHandle dir = open_directory(AT_FDCWD, dir_name);
    for (int links = 0; dir && is_plain_entry(base); ++links) {
        struct stat st {};
        if (::fstatat(dir.get(), base.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            return std::nullopt;
        }
        if (!S_ISLNK(st.st_mode)) {
            return Place{std::move(dir), std::move(base)};
        }
        const auto target = read_link_at(dir.get(), base);
        if (!target || links == max_links) {
            return std::nullopt;
        }
        auto [target_dir, target_base] = split_name(*target);
        if (target->find('/') != std::string::npos) {
            dir = open_directory((*target)[0] == '/' ? AT_FDCWD : dir.get(), target_dir);
        }
        base = std::move(target_base);
    }
    return std::nullopt;
}

// Where the final name puts the file, checked as the name is given. Another
// conversion to the same name may replace the file between the checks: the
// name is then looked at again, and only the input refuses it.
std::optional<Place> place_output(const std::string& final_name,
                                  const std::optional<FileIdentity>& input) {
    constexpr int max_looks = 16;
    for (int look = 1;; ++look) {
        struct stat st {};
        if (::lstat(final_name.c_str(), &st) != 0) {
            if (errno != ENOENT) {
                return std::nullopt;
            }
            auto [dir_name, base] = split_name(final_name);
            FileHandle dir = open_directory(AT_FDCWD, dir_name);
            if (!dir || !is_plain_entry(base)) {
                return std::nullopt;
            }
            return Place{std::move(dir), std::move(base)};
        }
        // The name as given, so the kernel's protections for links in sticky
        // directories apply; a dangling or looping link fails here.
        const FileHandle probe(
            ::open(final_name.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
        if (!probe || ::fstat(probe.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
            return std::nullopt;
        }
        const auto existing = identity_of(probe.get());
        if (!existing || existing == input) {
            return std::nullopt;
        }
        // The chain of links should still lead to the file just checked.
        auto place = resolve(final_name);
        if (place &&
            ::fstatat(place->directory.get(), place->base.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
            const FileIdentity now{static_cast<std::uint64_t>(st.st_dev),
                                   static_cast<std::uint64_t>(st.st_ino)};
            if (now == input || !S_ISREG(st.st_mode)) {
                return std::nullopt;
            }
            if (now == *existing || look == max_looks) {
                return place;
            }
        } else if (look == max_looks) {
            return std::nullopt;
        }
    }
}

// --- Naming ----------------------------------------------------------------------

// A file system that refuses unnamed files; any other error is final.
bool unnamed_files_unsupported(int error) {
    return error == EOPNOTSUPP || error == EISDIR || error == EINVAL || error == ENOSYS;
}

// Where renames and removals are not allowed, a temporary name could never
// be taken back.
bool is_append_only(int dir) {
#if defined(FS_IOC_GETFLAGS)
    int flags = 0;
    return ::ioctl(dir, FS_IOC_GETFLAGS, &flags) == 0 &&
           (flags & (FS_APPEND_FL | FS_IMMUTABLE_FL)) != 0;
#else
    (void)dir;
    return false;
#endif
}

// Gives the unnamed file open on fd the name `name` in `dir`. Linking by
// descriptor needs a privilege; /proc/self/fd does the same for anyone.
bool link_unnamed(int fd, int dir, const std::string& name) {
#if defined(AT_EMPTY_PATH)
    if (::linkat(fd, "", dir, name.c_str(), AT_EMPTY_PATH) == 0) {
        return true;
    }
    if (errno != EPERM && errno != ENOENT && errno != EINVAL) {
        return false;
    }
#endif
    const std::string proc = "/proc/self/fd/" + std::to_string(fd);
    return ::linkat(AT_FDCWD, proc.c_str(), dir, name.c_str(), AT_SYMLINK_FOLLOW) == 0;
}

// Directories that cannot be synced (file systems without it, an O_PATH
// descriptor) are no error.
bool sync_directory(int dir) {
    return ::fsync(dir) == 0 || errno == EINVAL || errno == EBADF || errno == EROFS;
}

// A second descriptor of the same open file, which keeps its lock once the
// first is closed.
FileHandle lock_holder(int fd) {
    return FileHandle(::fcntl(fd, F_DUPFD_CLOEXEC, 0));
}

}  // namespace

sigset_t terminating_signal_set() {
    sigset_t set;
    sigemptyset(&set);
    for (const int sig : terminating_signals()) {
        sigaddset(&set, sig);
    }
    return set;
}

std::optional<StagedOutput> StagedOutput::create(const std::string& final_name,
                                                 std::optional<FileIdentity> input) {
    auto place = place_output(final_name, input);
    if (!place) {
        return std::nullopt;
    }

    install_handlers();
    const int dir = place->directory.get();
    remove_stale_temporaries(dir, place->base);
#if defined(O_TMPFILE)
    FileHandle unnamed(::openat(dir, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666));
    if (unnamed) {
        // Locked before it can have a name: held whenever it has one.
        ::flock(unnamed.get(), LOCK_EX | LOCK_NB);
        StagedOutput out(std::move(place->directory), std::move(unnamed), std::move(place->base));
        out.unnamed_ = true;
        return out;
    }
    if (!unnamed_files_unsupported(errno)) {
        return std::nullopt;
    }
#endif
    if (is_append_only(dir)) {
        return std::nullopt;
    }
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string temp = temp_name_for(place->base);
        const SignalBlock block;
        FileHandle file(
            ::openat(dir, temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666));
        if (!file) {
            if (errno != EEXIST) {
                break;
            }
            continue;
        }
        if (lock_new_temporary(dir, temp, file.get())) {
            StagedOutput out(std::move(place->directory), std::move(file), std::move(place->base));
            out.name_temporary(std::move(temp));
            if (!out.lock_) {
                return std::nullopt;
            }
            return out;
        }
    }
    return std::nullopt;
}

StagedOutput::StagedOutput(FileHandle directory, FileHandle file, std::string base)
    : directory_(std::move(directory)),
      file_(std::move(file)),
      lock_(lock_holder(file_.get())),
      base_(std::move(base)) {}

StagedOutput::StagedOutput(StagedOutput&& other) noexcept
    : directory_(std::move(other.directory_)),
      file_(std::move(other.file_)),
      lock_(std::move(other.lock_)),
      base_(std::move(other.base_)),
      temp_name_(std::move(other.temp_name_)),
      pending_(std::move(other.pending_)),
      unnamed_(other.unnamed_),
      done_(other.done_),
      error_(other.error_) {
    other.temp_name_.clear();
    other.done_ = true;
}

StagedOutput::~StagedOutput() {
    discard();
}

// Call with the handled signals blocked, right after the name appeared.
void StagedOutput::name_temporary(std::string temp) {
    temp_name_ = std::move(temp);
    pending_ = std::make_unique<PendingName>();
    pending_->directory = directory_.get();
    pending_->name = temp_name_;
    pending_->next = pending_names;
    if (pending_names != nullptr) {
        pending_names->previous = pending_.get();
    }
    pending_names = pending_.get();
}

// Call with the handled signals blocked, right after the name went.
void StagedOutput::forget_temporary() {
    temp_name_.clear();
    if (!pending_) {
        return;
    }
    PendingName* const p = pending_.get();
    (p->previous != nullptr ? p->previous->next : pending_names) = p->next;
    if (p->next != nullptr) {
        p->next->previous = p->previous;
    }
    pending_.reset();
}

StagedOutput::Commit StagedOutput::link_and_rename() {
    const int dir = directory_.get();
    struct stat st {};
    const bool replacing = ::fstatat(dir, base_.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
    if (unnamed_ && !replacing) {
        // Nothing to replace: one link puts the complete file in place.
        if (link_unnamed(file_.get(), dir, base_)) {
            return Commit::done;
        }
        if (errno != EEXIST) {
            error_ = errno;
            return Commit::name_failed;
        }
    }
    if (unnamed_) {
        if (is_append_only(dir)) {
            error_ = EPERM;
            return Commit::name_failed;
        }
        for (int attempt = 0; temp_name_.empty(); ++attempt) {
            std::string temp = temp_name_for(base_);
            const SignalBlock block;
            if (link_unnamed(file_.get(), dir, temp)) {
                name_temporary(std::move(temp));
            } else if (errno != EEXIST || attempt == 100) {
                error_ = errno;
                return Commit::name_failed;
            }
        }
    }
    if (::renameat(dir, temp_name_.c_str(), dir, base_.c_str()) != 0) {
        error_ = errno;
        return Commit::name_failed;
    }
    const SignalBlock block;
    forget_temporary();
    return Commit::done;
}

StagedOutput::Commit StagedOutput::commit() {
    if (done_) {
        return Commit::write_failed;
    }
    // The data must be on disk before any name can lead to it. The lock
    // stays with the second descriptor.
    if (::fsync(file_.get()) != 0 || (!unnamed_ && !file_.close())) {
        discard();
        return Commit::write_failed;
    }
    const Commit named = link_and_rename();
    if (named != Commit::done) {
        discard();
        return named;
    }
    file_.close();
    lock_.close();
    done_ = true;
    if (!sync_directory(directory_.get())) {
        error_ = errno;
        return Commit::name_failed;
    }
    return Commit::done;
}

void StagedOutput::discard() {
    if (done_) {
        return;
    }
    file_.close();
    if (!temp_name_.empty()) {
        const SignalBlock block;
        ::unlinkat(directory_.get(), temp_name_.c_str(), 0);
        forget_temporary();
    }
    lock_.close();
    done_ = true;
}

}  // namespace dsd
