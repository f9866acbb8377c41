#include "file_io.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

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

}  // namespace dsd
