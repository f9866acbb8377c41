// Unbuffered POSIX file access for the tools: an owning descriptor, and reads
// and writes that either move every byte or report how far they got.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace dsd {

// Owns one open descriptor; closes it on destruction unless close() was
// called, whose result is the one a writer must check.
class FileHandle {
  public:
    FileHandle() = default;
    explicit FileHandle(int fd) : fd_(fd) {}
    FileHandle(FileHandle&& other) noexcept : fd_(other.release()) {}
    FileHandle& operator=(FileHandle&& other) noexcept;
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    ~FileHandle();

    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    int release();
    // Closes the descriptor; false when the close reported an error.
    bool close();

  private:
    int fd_ = -1;
};

// Which file a descriptor or name refers to, whatever name reached it.
struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    bool operator==(const FileIdentity&) const = default;
};
std::optional<FileIdentity> identity_of(int fd);

// Opens an existing regular file for reading only. Anything else (a
// directory, a FIFO, a device) is refused without blocking on it.
std::optional<FileHandle> open_for_reading(const std::string& name);

// Opens an existing regular file for reading and writing in place, with the
// same refusals.
std::optional<FileHandle> open_for_update(const std::string& name);

// Reads until the span is full, end of file or an error; returns the count.
std::size_t read_full(int fd, std::span<std::uint8_t> buffer);
std::size_t read_full_at(int fd, std::span<std::uint8_t> buffer, std::uint64_t offset);

// Writes the whole span; false on any error or short write.
bool write_full(int fd, std::span<const std::uint8_t> data);
bool write_full_at(int fd, std::span<const std::uint8_t> data, std::uint64_t offset);

// The descriptor's current offset, as a position for messages.
std::int64_t current_position(int fd);
std::optional<std::uint64_t> file_size(int fd);
bool seek_to(int fd, std::uint64_t offset);

}  // namespace dsd

// The staged output, built on these, has its own header; callers have always
// found it here.
#include "staged_output.hpp"  // IWYU pragma: export
