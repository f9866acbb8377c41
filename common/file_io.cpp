#include "file_io.hpp"

#include <fcntl.h>
#include <pthread.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>
#if defined(__linux__)
#include <linux/fs.h>
#endif

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace dsd {

// A 32-bit off_t would refuse files over 2 GiB and wrap positions past them.
static_assert(sizeof(off_t) == 8, "file offsets must be 64-bit (_FILE_OFFSET_BITS=64)");

FileHandle& FileHandle::operator=(FileHandle&& other) noexcept {
    if (this != &other) {
        close();
        fd_ = other.release();
    }
    return *this;
}

FileHandle::~FileHandle() {
    close();
}

int FileHandle::release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
}

bool FileHandle::close() {
    if (fd_ < 0) {
        return true;
    }
    // Linux releases the descriptor even when close() fails; never retry.
    const int rc = ::close(release());
    return rc == 0;
}

std::optional<FileIdentity> identity_of(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        return std::nullopt;
    }
    return FileIdentity{static_cast<std::uint64_t>(st.st_dev),
                        static_cast<std::uint64_t>(st.st_ino)};
}

namespace {

// O_NONBLOCK so that a FIFO or a device is refused rather than waited on;
// cleared again so that reads of a regular file behave normally.
std::optional<FileHandle> open_regular(const std::string& name, int flags) {
    FileHandle file(::open(name.c_str(), flags | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (!file) {
        return std::nullopt;
    }
    struct stat st {};
    if (::fstat(file.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        return std::nullopt;
    }
    const int status = ::fcntl(file.get(), F_GETFL);
    if (status == -1 || ::fcntl(file.get(), F_SETFL, status & ~O_NONBLOCK) == -1) {
        return std::nullopt;
    }
    return file;
}

}  // namespace

std::optional<FileHandle> open_for_reading(const std::string& name) {
    return open_regular(name, O_RDONLY);
}

std::optional<FileHandle> open_for_update(const std::string& name) {
    return open_regular(name, O_RDWR);
}

namespace {

// Repeats a read or write until it has moved `size` bytes, reached end of
// file or failed; returns how many bytes it moved.
template <typename Call>
std::size_t transfer(std::size_t size, Call call) {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = call(done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    return done;
}

}  // namespace

std::size_t read_full(int fd, std::span<std::uint8_t> buffer) {
    return transfer(buffer.size(), [&](std::size_t done) {
        return ::read(fd, buffer.data() + done, buffer.size() - done);
    });
}

std::size_t read_full_at(int fd, std::span<std::uint8_t> buffer, std::uint64_t offset) {
    return transfer(buffer.size(), [&](std::size_t done) {
        return ::pread(fd, buffer.data() + done, buffer.size() - done,
                       static_cast<off_t>(offset + done));
    });
}

bool write_full(int fd, std::span<const std::uint8_t> data) {
    return transfer(data.size(), [&](std::size_t done) {
               return ::write(fd, data.data() + done, data.size() - done);
           }) == data.size();
}

bool write_full_at(int fd, std::span<const std::uint8_t> data, std::uint64_t offset) {
    return transfer(data.size(), [&](std::size_t done) {
               return ::pwrite(fd, data.data() + done, data.size() - done,
                               static_cast<off_t>(offset + done));
           }) == data.size();
}

std::int64_t current_position(int fd) {
    return static_cast<std::int64_t>(::lseek(fd, 0, SEEK_CUR));
}

std::optional<std::uint64_t> file_size(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(st.st_size);
}

bool seek_to(int fd, std::uint64_t offset) {
    return ::lseek(fd, static_cast<off_t>(offset), SEEK_SET) == static_cast<off_t>(offset);
}

namespace {

// The named temporary files that exist on disk, for the signal handlers to
// remove: one entry for each staged output of the conversions running at
// once. Plain static storage and lock-free atomics: a handler may only touch
// async-signal-safe things. Temporary names are short, whatever the final
// name's length.
constexpr std::size_t temp_name_capacity = 256;
enum PendingState : int {
    entry_free,
    entry_changing,  // its file is being created or removed
    entry_named,     // its file exists
};
struct PendingName {
    std::atomic<int> state{entry_free};
    int directory = -1;
    char name[temp_name_capacity] = {};
};
static_assert(std::atomic<int>::is_always_lock_free);
PendingName pending[StagedOutput::max_at_once];
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
    for (auto& entry : pending) {
        int state = entry.state.load();
        // Another thread, its signals blocked, is creating or removing this
        // one: it is done in a moment.
        while (state == entry_changing) {
            state = entry.state.load();
        }
        if (state == entry_named) {
            ::unlinkat(entry.directory, entry.name, 0);
        }
    }
    // The signal stays blocked until the handler returns, and then ends the
    // process with its default action: status 128 + sig for the caller.
    ::signal(sig, SIG_DFL);
    ::raise(sig);
}

sigset_t handled_signals() {
    sigset_t set;
    sigemptyset(&set);
    for (const int sig : terminating_signals()) {
        sigaddset(&set, sig);
    }
    return set;
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
        const sigset_t set = handled_signals();
        ::pthread_sigmask(SIG_BLOCK, &set, &old_);
    }
    ~SignalBlock() { ::pthread_sigmask(SIG_SETMASK, &old_, nullptr); }
    SignalBlock(const SignalBlock&) = delete;
    SignalBlock& operator=(const SignalBlock&) = delete;

  private:
    sigset_t old_{};
};

// The entry for `name`, about to be created in `directory`; null when none
// is free or a handler has begun. Called with the signals blocked.
PendingName* reserve_pending(int directory, const std::string& name) {
    for (auto& entry : pending) {
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

// The entry of an existing temporary, about to be renamed or removed.
PendingName* take_pending(int directory, const std::string& name) {
    for (auto& entry : pending) {
        if (entry.state.load() == entry_named && entry.directory == directory &&
            std::strcmp(entry.name, name.c_str()) == 0) {
            entry.state.store(entry_changing);
            return &entry;
        }
    }
    return nullptr;
}

// Whether the entry's file exists now.
void settle_pending(PendingName* entry, bool exists) {
    if (entry != nullptr) {
        entry->state.store(exists ? entry_named : entry_free);
    }
}

// Long enough to stay unique, short enough that ".base.XXXXXXXX.part" fits
// in a directory entry whatever the final name.
constexpr std::size_t max_base_in_temp_name = 200;
static_assert(max_base_in_temp_name + 15 < temp_name_capacity);

std::string temp_name_for(const std::string& base) {
    thread_local std::mt19937_64 engine{std::random_device{}() ^
                                        static_cast<std::uint64_t>(::getpid()) << 32};
    static constexpr char letters[] =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::string suffix(8, 'x');
    for (auto& c : suffix) {
        c = letters[engine() % (sizeof letters - 1)];
    }
    std::string name = ".";
    name.append(base, 0, max_base_in_temp_name);
    name += '.';
    name += suffix;
    name += ".part";
    return name;
}

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

std::optional<StagedOutput> StagedOutput::create(const std::string& final_name,
                                                 std::optional<FileIdentity> input,
                                                 Existing at_name) {
    std::optional<Place> place;
    struct stat st {};
    // What is kept is never looked into: commit() only puts the file where
    // no name is yet.
    if (at_name == Existing::replace && ::lstat(final_name.c_str(), &st) == 0) {
        // The name as given, so the kernel's protections for links in sticky
        // directories apply; a dangling or looping link fails here.
        FileHandle probe(::open(final_name.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
        if (!probe || ::fstat(probe.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
            return std::nullopt;
        }
        const auto existing = identity_of(probe.get());
        if (!existing || existing == input) {
            return std::nullopt;
        }
        place = resolve(final_name);
        // The chain of links must still lead to the file just checked.
        if (!place ||
            ::fstatat(place->directory.get(), place->base.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 ||
            FileIdentity{static_cast<std::uint64_t>(st.st_dev),
                         static_cast<std::uint64_t>(st.st_ino)} != *existing) {
            return std::nullopt;
        }
    } else if (at_name == Existing::keep || errno == ENOENT) {
        auto [dir_name, base] = split_name(final_name);
        FileHandle dir = open_directory(AT_FDCWD, dir_name);
        if (!dir || !is_plain_entry(base)) {
            return std::nullopt;
        }
        place = Place{std::move(dir), std::move(base)};
    } else {
        return std::nullopt;
    }

    install_handlers();
    const int dir = place->directory.get();
#if defined(O_TMPFILE)
    FileHandle unnamed(::openat(dir, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666));
    if (unnamed) {
        StagedOutput out(std::move(place->directory), std::move(unnamed), std::move(place->base),
                         {});
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
        settle_pending(entry, static_cast<bool>(file));
        if (file) {
            StagedOutput out(std::move(place->directory), std::move(file), std::move(place->base),
                             std::move(temp));
            out.keep_existing_ = at_name == Existing::keep;
            return out;
        }
        if (error != EEXIST) {
            break;
        }
    }
    return std::nullopt;
}

StagedOutput::StagedOutput(FileHandle directory, FileHandle file, std::string base,
                           std::string temp_name)
    : directory_(std::move(directory)),
      file_(std::move(file)),
      base_(std::move(base)),
      temp_name_(std::move(temp_name)) {}

StagedOutput::StagedOutput(StagedOutput&& other) noexcept
    : directory_(std::move(other.directory_)),
      file_(std::move(other.file_)),
      base_(std::move(other.base_)),
      temp_name_(std::move(other.temp_name_)),
      unnamed_(other.unnamed_),
      keep_existing_(other.keep_existing_),
      done_(other.done_),
      error_(other.error_) {
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
            } else if (error != EEXIST || attempt == 100) {
                error_ = error;
                return Commit::name_failed;
            }
        }
    }
    const SignalBlock block;
    PendingName* entry = take_pending(dir, temp_name_);
    const bool renamed = ::renameat(dir, temp_name_.c_str(), dir, base_.c_str()) == 0;
    const int error = errno;
    settle_pending(entry, !renamed);
    if (!renamed) {
        error_ = error;
        return Commit::name_failed;
    }
    temp_name_.clear();
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
        PendingName* entry = take_pending(dir, temp_name_);
        named = rename_where_free(dir, temp_name_, base_);
        error = errno;
        settle_pending(entry, !named);
        if (named) {
            temp_name_.clear();
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
    // The data must be on disk before any name can lead to it.
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
        PendingName* entry = take_pending(directory_.get(), temp_name_);
        ::unlinkat(directory_.get(), temp_name_.c_str(), 0);
        settle_pending(entry, false);
        temp_name_.clear();
    }
    done_ = true;
}

}  // namespace dsd
