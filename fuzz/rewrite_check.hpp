// What the DFF and WAV chunk-walk fuzzers share: the input as a file (a
// memfd) and the check that a rewrite touched nothing but its field.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace dsd::fuzz {

inline void require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

// A memfd holding exactly `data`, created once and refilled per input.
inline int file_with(const std::uint8_t* data, std::size_t size) {
    static const int fd = ::memfd_create("fuzz-input", MFD_CLOEXEC);
    require(fd >= 0 && ::ftruncate(fd, 0) == 0);
    for (std::size_t done = 0; done < size;) {
        const ssize_t n = ::pwrite(fd, data + done, size - done, static_cast<off_t>(done));
        require(n > 0);
        done += static_cast<std::size_t>(n);
    }
    require(::lseek(fd, 0, SEEK_SET) == 0);
    return fd;
}

inline std::vector<std::uint8_t> contents(int fd) {
    const off_t size = ::lseek(fd, 0, SEEK_END);
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
    require(::pread(fd, bytes.data(), bytes.size(), 0) == static_cast<ssize_t>(bytes.size()));
    return bytes;
}

// The file after a rewrite: the same length, `field` at `offset`, and every
// other byte as it was.
inline void require_only_field_changed(const std::uint8_t* data, std::size_t size, int fd,
                                       std::uint64_t offset,
                                       const std::vector<std::uint8_t>& field) {
    const auto after = contents(fd);
    require(after.size() == size && offset <= size && field.size() <= size - offset);
    const std::size_t tail = offset + field.size();
    require(std::equal(data, data + offset, after.begin()));
    require(std::equal(field.begin(), field.end(),
                       after.begin() + static_cast<std::ptrdiff_t>(offset)));
    require(
        std::equal(data + tail, data + size, after.begin() + static_cast<std::ptrdiff_t>(tail)));
}

inline void require_unchanged(const std::uint8_t* data, std::size_t size, int fd) {
    const auto after = contents(fd);
    require(after.size() == size && std::equal(data, data + size, after.begin()));
}

}  // namespace dsd::fuzz
