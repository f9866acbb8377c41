#include "staged_output.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>
#if defined(__linux__)
#include <linux/fs.h>
#endif

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <map>
#include <mutex>
#include <optional>
#include <random>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace dsd {

namespace {

// ".STEM.XXXXXXXX.part": at most 1 + 128 + 14 = 143 bytes, eCryptfs's
// NAME_MAX and the shortest of any Linux file system. A cut UTF-8 sequence
// is an invalid name on exFAT, FAT and others, so the stem ends before the
// character the limit falls in; a name in another encoding loses at most
// three bytes more.
constexpr std::size_t max_stem = 128;
constexpr std::size_t suffix_letters = 8;
constexpr std::string_view temp_extension = ".part";
constexpr std::size_t max_temp_name = 1 + max_stem + 1 + suffix_letters + temp_extension.size();
static_assert(max_temp_name <= NAME_MAX);  // every name the signal handlers remove fits a record

enum PendingState : int {
    entry_free,
    entry_changing,  // its file is being named, renamed or removed
    entry_named,     // its temporary name exists
};

}  // namespace

namespace detail {

// A temporary name that exists on disk, for the signal handlers to remove.
// A handler may run on any thread, while others stage outputs, and may only
// touch async-signal-safe things: the records are plain static storage
// whose state is a lock-free atomic, and a record is only changed by the
// thread that holds it, with the handled signals blocked on that thread.
struct PendingName {
    std::atomic<int> state{entry_free};
    int directory = -1;
    char name[NAME_MAX + 1] = {};
};
static_assert(std::atomic<int>::is_always_lock_free);

}  // namespace detail

namespace {

using detail::PendingName;

// One record for each output staged at once.
PendingName pending_names[StagedOutput::max_at_once];
// Directories made for outputs still to come; each holds its parent open.
PendingName made_directories[StagedOutput::max_at_once];
// Set by the first handler: no new temporary may appear after its sweep.
std::atomic<int> terminating{0};

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
    terminating.store(1);
    for (auto& entry : pending_names) {
        int state = entry.state.load();
        // Another thread, its signals blocked, is naming or removing this
        // one: it is done in a moment.
        while (state == entry_changing) {
            state = entry.state.load();
        }
        if (state == entry_named) {
            ::unlinkat(entry.directory, entry.name, 0);
        }
    }
    // Deepest first, as they empty: a pass that removes none ends it.
    for (bool removed = true; removed;) {
        removed = false;
        for (auto& entry : made_directories) {
            int state = entry.state.load();
            while (state == entry_changing) {
                state = entry.state.load();
            }
            if (state == entry_named &&
                ::unlinkat(entry.directory, entry.name, AT_REMOVEDIR) == 0) {
                entry.state.store(entry_free);
                removed = true;
            }
        }
    }
    // The signal stays blocked until the handler returns, and then ends the
    // process with its default action: status 128 + sig for the caller.
    ::signal(sig, SIG_DFL);
    ::raise(sig);
}

// Signals a caller chose to ignore (nohup, a background job) stay ignored.
void install_handlers_once() {
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

void install_handlers() {
    static std::once_flag installed;
    std::call_once(installed, install_handlers_once);
}

// Holds the handled signals back from this thread for its lifetime, so that
// a file and its record for the handlers appear and disappear together.
class SignalBlock {
  public:
    SignalBlock() {
        const sigset_t set = terminating_signal_set();
        ::pthread_sigmask(SIG_BLOCK, &set, &old_);
    }
    ~SignalBlock() { ::pthread_sigmask(SIG_SETMASK, &old_, nullptr); }
    SignalBlock(const SignalBlock&) = delete;
    SignalBlock& operator=(const SignalBlock&) = delete;

  private:
    sigset_t old_{};
};

// The record for `name`, about to appear in `directory`; null when none is
// free or a handler has begun. Call with the handled signals blocked, and
// settle it once the name is there or not.
PendingName* reserve_pending(int directory, const std::string& name,
                             std::span<PendingName> records = pending_names) {
    if (name.size() > NAME_MAX) {
        return nullptr;
    }
    for (auto& entry : records) {
        int expected = entry_free;
        if (entry.state.compare_exchange_strong(expected, entry_changing)) {
            if (terminating.load() != 0) {
                entry.state.store(entry_free);
                return nullptr;
            }
            entry.directory = directory;
            std::memcpy(entry.name, name.c_str(), name.size() + 1);
            return &entry;
        }
    }
    return nullptr;
}

// The record of an existing name, about to be renamed or removed. Call with
// the handled signals blocked, and settle it afterwards.
void change_pending(PendingName* entry) {
    if (entry != nullptr) {
        entry->state.store(entry_changing);
    }
}

// Whether the record's name exists now.
void settle_pending(PendingName* entry, bool exists) {
    if (entry != nullptr) {
        entry->state.store(exists ? entry_named : entry_free);
    }
}

// --- Temporary names ------------------------------------------------------------

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
    thread_local std::mt19937_64 engine{std::random_device{}() ^
                                        static_cast<std::uint64_t>(::getpid()) << 32};
    std::string name = ".";
    name += temp_stem(base);
    name += '.';
    for (std::size_t i = 0; i < suffix_letters; ++i) {
        name += letters[engine() % letters.size()];
    }
    name += temp_extension;
    return name;
}

// The stem of a name temp_name_for could have made, or none.
std::optional<std::string_view> stem_of_temp_name(std::string_view name) {
    constexpr std::size_t tail = 1 + suffix_letters + temp_extension.size();
    if (name.size() < 2 + tail || name[0] != '.' || !name.ends_with(temp_extension) ||
        name[name.size() - tail] != '.') {
        return std::nullopt;
    }
    const std::string_view suffix = name.substr(name.size() - tail + 1, suffix_letters);
    if (!std::all_of(suffix.begin(), suffix.end(),
                     [](char c) { return letters.find(c) != std::string_view::npos; })) {
        return std::nullopt;
    }
    return name.substr(1, name.size() - 1 - tail);
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

// The names in `dir` that temp_name_for could have made. A directory that
// cannot be listed has none.
std::vector<std::string> list_temporaries(int dir) {
    std::vector<std::string> names;
    FileHandle listing(::openat(dir, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    DIR* stream = listing ? ::fdopendir(listing.get()) : nullptr;
    if (stream == nullptr) {
        return names;
    }
    static_cast<void>(listing.release());
    while (const dirent* entry = ::readdir(stream)) {
        if (stem_of_temp_name(entry->d_name)) {
            names.emplace_back(entry->d_name);
        }
    }
    ::closedir(stream);
    return names;
}

// The temporaries found in each directory the first time this process
// stages an output there. A batch writes many outputs into one directory:
// listing it again for each would take time in the square of their number,
// and its threads would queue on the directory's lock.
class TemporariesFound {
  public:
    // Those of `base` in `dir`, each handed out once.
    std::vector<std::string> take(int dir, const std::string& base) {
        const std::string_view stem = temp_stem(base);
        const auto of_base = [&](const std::string& name) {
            return stem_of_temp_name(name) == stem;
        };
        struct stat st {};
        if (::fstat(dir, &st) != 0) {
            std::vector<std::string> names = list_temporaries(dir);
            std::erase_if(names, [&](const std::string& name) { return !of_base(name); });
            return names;
        }
        const std::lock_guard lock(mutex_);
        auto [found, first] = found_.try_emplace(
            {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)});
        if (first) {
            found->second = list_temporaries(dir);
        }
        auto& names = found->second;
        const auto mine = std::partition(names.begin(), names.end(),
                                         [&](const std::string& name) { return !of_base(name); });
        std::vector<std::string> taken(std::make_move_iterator(mine),
                                       std::make_move_iterator(names.end()));
        names.erase(mine, names.end());
        return taken;
    }

  private:
    std::mutex mutex_;
    std::map<std::pair<std::uint64_t, std::uint64_t>, std::vector<std::string>> found_;
};

// What killed conversions to `base` left in `dir`, as far as this process
// has seen it.
void remove_stale_temporaries(int dir, const std::string& base) {
    static TemporariesFound found;
    for (const auto& name : found.take(dir, base)) {
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

// The name itself in its directory, whatever has it.
std::optional<Place> place_of_name(const std::string& final_name) {
    auto [dir_name, base] = split_name(final_name);
    FileHandle dir = open_directory(AT_FDCWD, dir_name);
    if (!dir || !is_plain_entry(base)) {
        return std::nullopt;
    }
    return Place{std::move(dir), std::move(base)};
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
            return place_of_name(final_name);
        }
        // The name as given, so the kernel's protections for links in sticky
        // directories apply; a dangling or looping link fails here.
        const FileHandle probe(
            ::open(final_name.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
        if (!probe) {
            // A lookup the kernel restarts because a rename raced it counts
            // the links of both tries, so a long chain can fail once with
            // ELOOP; a real loop or dangling link fails every time.
            if ((errno == ELOOP || errno == ENOENT) && look < max_looks) {
                continue;
            }
            return std::nullopt;
        }
        if (::fstat(probe.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
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

// Renames `from` to `to` in `dir` unless `to` exists (EEXIST then). Where
// the file system cannot do that in one step, a hard link does it; where it
// has neither, the name is checked just before the rename.
bool rename_where_free(int dir, const std::string& from, const std::string& to) {
#if defined(RENAME_NOREPLACE)
    if (::renameat2(dir, from.c_str(), dir, to.c_str(), RENAME_NOREPLACE) == 0) {
        return true;
    }
    if (errno != EINVAL && errno != ENOSYS) {
        return false;
    }
#endif
    if (::linkat(dir, from.c_str(), dir, to.c_str(), 0) == 0) {
        ::unlinkat(dir, from.c_str(), 0);
        return true;
    }
    if (errno != EPERM && errno != EOPNOTSUPP) {
        return false;
    }
    struct stat st {};
    if (::fstatat(dir, to.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
        errno = EEXIST;
        return false;
    }
    return ::renameat(dir, from.c_str(), dir, to.c_str()) == 0;
}

}  // namespace

MadeDirectory::MadeDirectory(const std::string& path) {
    install_handlers();
    const std::size_t slash = path.find_last_of('/');
    const std::string parent =
        slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    if (name.empty() || name == "." || name == "..") {
        return;
    }
    const int parent_fd = ::open(parent.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (parent_fd < 0) {
        return;
    }
    const SignalBlock block;
    record_ = reserve_pending(parent_fd, name, made_directories);
    if (record_ == nullptr) {
        ::close(parent_fd);
        return;
    }
    settle_pending(record_, true);
}

MadeDirectory::~MadeDirectory() {
    if (record_ == nullptr) {
        return;
    }
    const SignalBlock block;
    change_pending(record_);
    const int parent_fd = record_->directory;
    settle_pending(record_, false);
    ::close(parent_fd);
}

sigset_t terminating_signal_set() {
    sigset_t set;
    sigemptyset(&set);
    for (const int sig : terminating_signals()) {
        sigaddset(&set, sig);
    }
    return set;
}

std::optional<StagedOutput> StagedOutput::create(const std::string& final_name,
                                                 std::optional<FileIdentity> input,
                                                 Existing at_name) {
    // What is kept is never looked into: commit() only puts the file where
    // no name is yet.
    auto place =
        at_name == Existing::keep ? place_of_name(final_name) : place_output(final_name, input);
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
        out.keep_existing_ = at_name == Existing::keep;
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
        PendingName* entry = reserve_pending(dir, temp);
        if (entry == nullptr) {
            break;
        }
        FileHandle file(
            ::openat(dir, temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666));
        const int error = errno;
        // Not ours when another process removing stale temporaries got to it
        // first: the name is then that process's to remove.
        const bool ours = file && lock_new_temporary(dir, temp, file.get());
        settle_pending(entry, ours);
        if (ours) {
            StagedOutput out(std::move(place->directory), std::move(file), std::move(place->base));
            out.temp_name_ = std::move(temp);
            out.pending_ = entry;
            out.keep_existing_ = at_name == Existing::keep;
            if (!out.lock_) {
                return std::nullopt;
            }
            return out;
        }
        if (!file && error != EEXIST) {
            break;
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
      pending_(other.pending_),
      unnamed_(other.unnamed_),
      keep_existing_(other.keep_existing_),
      done_(other.done_),
      error_(other.error_) {
    other.temp_name_.clear();
    other.pending_ = nullptr;
    other.done_ = true;
}

StagedOutput::~StagedOutput() {
    discard();
}

StagedOutput::Commit StagedOutput::link_and_rename() {
    if (keep_existing_) {
        return link_where_free();
    }
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
            PendingName* entry = reserve_pending(dir, temp);
            const bool linked = entry != nullptr && link_unnamed(file_.get(), dir, temp);
            const int error = entry != nullptr ? errno : EAGAIN;
            settle_pending(entry, linked);
            if (linked) {
                temp_name_ = std::move(temp);
                pending_ = entry;
            } else if (error != EEXIST || attempt == 100) {
                error_ = error;
                return Commit::name_failed;
            }
        }
    }
    const SignalBlock block;
    change_pending(pending_);
    const bool renamed = ::renameat(dir, temp_name_.c_str(), dir, base_.c_str()) == 0;
    const int error = errno;
    settle_pending(pending_, !renamed);
    if (!renamed) {
        error_ = error;
        return Commit::name_failed;
    }
    temp_name_.clear();
    pending_ = nullptr;
    return Commit::done;
}

// Gives the file its name only where no file or link has that name: one
// atomic step, so that nothing that appeared meanwhile is replaced.
StagedOutput::Commit StagedOutput::link_where_free() {
    const int dir = directory_.get();
    bool named = false;
    int error = 0;
    if (unnamed_) {
        named = link_unnamed(file_.get(), dir, base_);
        error = errno;
    } else {
        const SignalBlock block;
        change_pending(pending_);
        named = rename_where_free(dir, temp_name_, base_);
        error = errno;
        settle_pending(pending_, !named);
        if (named) {
            temp_name_.clear();
            pending_ = nullptr;
        }
    }
    if (named) {
        return Commit::done;
    }
    if (error == EEXIST) {
        return Commit::exists;
    }
    error_ = error;
    return Commit::name_failed;
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
        change_pending(pending_);
        ::unlinkat(directory_.get(), temp_name_.c_str(), 0);
        settle_pending(pending_, false);
        temp_name_.clear();
        pending_ = nullptr;
    }
    lock_.close();
    done_ = true;
}

}  // namespace dsd
