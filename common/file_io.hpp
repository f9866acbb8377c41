// Unbuffered POSIX file access for the tools: an owning descriptor, reads and
// writes that either move every byte or report how far they got, and a staged
// output that only appears under its real name once it is complete.
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

// Opens an existing regular file for reading only. Directories are refused.
std::optional<FileHandle> open_for_reading(const std::string& name);

// Opens an existing regular file for reading and writing in place.
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

// A new file written under a temporary name beside its final name. commit()
// flushes it to stable storage, closes it and renames it into place; if that
// never happens the temporary file is removed, so a failure leaves any file
// already at the final name untouched. The file gets the permissions a newly
// created file gets under the umask.
class StagedOutput {
  public:
    // Refuses (nullopt) when the final name is a directory, a non-regular
    // file, or an existing file the user may not write.
    static std::optional<StagedOutput> create(const std::string& final_name);

    StagedOutput(StagedOutput&& other) noexcept;
    StagedOutput& operator=(StagedOutput&&) = delete;
    StagedOutput(const StagedOutput&) = delete;
    StagedOutput& operator=(const StagedOutput&) = delete;
    ~StagedOutput();

    int fd() const { return file_.get(); }
    const std::string& temporary_name() const { return temp_name_; }
    // Syncs, closes and renames; on failure the temporary file is removed.
    bool commit();
    // Removes the temporary file now (also done by the destructor).
    void discard();

  private:
    StagedOutput(FileHandle file, std::string temp_name, std::string target_name);

    FileHandle file_;
    std::string temp_name_;
    std::string target_name_;
    bool done_ = false;
};

}  // namespace dsd
