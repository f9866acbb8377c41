#include "file_io.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <random>

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

namespace {

std::optional<FileHandle> open_regular(const std::string& name, int flags) {
    FileHandle file(::open(name.c_str(), flags | O_CLOEXEC | O_NOCTTY));
    if (!file) {
        return std::nullopt;
    }
    struct stat st {};
    if (::fstat(file.get(), &st) != 0 || S_ISDIR(st.st_mode)) {
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

// The temporary file being written, for the signal handlers to remove. A
// plain heap copy: the handler may only touch async-signal-safe things.
namespace {

char* volatile pending_temp = nullptr;

void remove_pending_and_reraise(int sig) {
    if (char* name = pending_temp) {
        ::unlink(name);
    }
    std::signal(sig, SIG_DFL);
    std::raise(sig);
}

void set_pending_temp(const std::string& name) {
    static bool handlers_installed = false;
    if (!handlers_installed) {
        for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) {
            struct sigaction old {};
            if (::sigaction(sig, nullptr, &old) == 0 && old.sa_handler != SIG_IGN) {
                std::signal(sig, remove_pending_and_reraise);
            }
        }
        handlers_installed = true;
    }
    char* copy = new char[name.size() + 1];
    std::memcpy(copy, name.c_str(), name.size() + 1);
    pending_temp = copy;
}

void clear_pending_temp() {
    char* old = pending_temp;
    pending_temp = nullptr;
    delete[] old;
}

// Long enough to stay unique, short enough that the temporary name still fits
// in a directory entry when the final name is close to the limit.
constexpr std::size_t max_base_in_temp_name = 200;

std::string random_suffix() {
    static std::mt19937_64 engine{std::random_device{}() ^ static_cast<std::uint64_t>(::getpid())
                                                               << 32};
    static constexpr char letters[] =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::string s(8, 'x');
    for (auto& c : s) {
        c = letters[engine() % (sizeof letters - 1)];
    }
    return s;
}

}  // namespace

std::optional<StagedOutput> StagedOutput::create(const std::string& final_name) {
    std::string target = final_name;
    struct stat st {};
    if (::lstat(final_name.c_str(), &st) == 0) {
        if (S_ISLNK(st.st_mode) && ::stat(final_name.c_str(), &st) == 0) {
            // Replace what the link points at, and keep the link.
            if (char* resolved = ::realpath(final_name.c_str(), nullptr)) {
                target = resolved;
                std::free(resolved);
            }
        }
        if (!S_ISLNK(st.st_mode)) {
            if (!S_ISREG(st.st_mode)) {
                return std::nullopt;
            }
            FileHandle probe(::open(target.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
            if (!probe) {
                return std::nullopt;
            }
        }
    }

    const auto slash = target.rfind('/');
    const std::string dir =
        slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
    const std::string base =
        target.substr(slash == std::string::npos ? 0 : slash + 1).substr(0, max_base_in_temp_name);
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string temp = dir + "." + base + "." + random_suffix() + ".part";
        FileHandle file(
            ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666));
        if (file) {
            set_pending_temp(temp);
            return StagedOutput(std::move(file), std::move(temp), std::move(target));
        }
        if (errno != EEXIST) {
            break;
        }
    }
    return std::nullopt;
}

StagedOutput::StagedOutput(FileHandle file, std::string temp_name, std::string target_name)
    : file_(std::move(file)),
      temp_name_(std::move(temp_name)),
      target_name_(std::move(target_name)) {}

StagedOutput::StagedOutput(StagedOutput&& other) noexcept
    : file_(std::move(other.file_)),
      temp_name_(std::move(other.temp_name_)),
      target_name_(std::move(other.target_name_)),
      done_(other.done_) {
    other.done_ = true;
}

StagedOutput::~StagedOutput() {
    discard();
}

bool StagedOutput::commit() {
    if (done_) {
        return false;
    }
    const bool synced = ::fsync(file_.get()) == 0;
    const bool closed = file_.close();
    if (!synced || !closed || ::rename(temp_name_.c_str(), target_name_.c_str()) != 0) {
        discard();
        return false;
    }
    done_ = true;
    clear_pending_temp();
    return true;
}

void StagedOutput::discard() {
    if (done_) {
        return;
    }
    file_.close();
    ::unlink(temp_name_.c_str());
    done_ = true;
    clear_pending_temp();
}

}  // namespace dsd
