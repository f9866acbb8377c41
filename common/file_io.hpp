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

// A new file that only ever appears under its final name complete and on
// stable storage. It is written as an unnamed file in the final name's
// directory, linked in and renamed over any existing file by commit(), after
// which the directory is synced; a crash or SIGKILL before that leaves
// nothing. Where the file system has no unnamed files it is written under a
// hidden temporary name instead, removed on failure and on every catchable
// terminating signal. All names are taken relative to the directory's
// descriptor, so a final name close to PATH_MAX still works. A final name
// that is a symbolic link replaces the file the link leads to and keeps the
// link. The file gets the permissions a newly created file gets under the
// umask. Staged outputs of several threads may be open at once.
class StagedOutput {
  public:
    // Most staged outputs open at once in one process.
    static constexpr std::size_t max_at_once = 64;

    // What commit() does with a file or link that has the final name:
    // replace it, or keep it (and the new file is dropped).
    enum class Existing { replace, keep };

    // Refuses (nullopt) when the final name is a directory, a non-regular
    // file, a dangling or looping link, an existing file the user may not
    // write, or the file `input` (the same file through any name). With
    // Existing::keep whatever has the final name is never looked into:
    // commit() then reports Commit::exists.
    static std::optional<StagedOutput> create(const std::string& final_name,
                                              std::optional<FileIdentity> input = {},
                                              Existing at_name = Existing::replace);

    StagedOutput(StagedOutput&& other) noexcept;
    StagedOutput& operator=(StagedOutput&&) = delete;
    StagedOutput(const StagedOutput&) = delete;
    StagedOutput& operator=(const StagedOutput&) = delete;
    ~StagedOutput();

    int fd() const { return file_.get(); }

    enum class Commit {
        done,
        write_failed,  // the data could not be flushed or closed
        name_failed,   // it could not be given its name; error() says why
        exists,        // Existing::keep, and the name was taken: nothing changed
    };
    // Syncs the data, names the file, syncs the directory. On failure
    // nothing is left behind and any file at the final name is unchanged.
    Commit commit();
    // The errno of a failed naming.
    int error() const { return error_; }
    // Drops the file now (also done by the destructor).
    void discard();

  private:
    StagedOutput(FileHandle directory, FileHandle file, std::string base, std::string temp_name);
    Commit link_and_rename();
    Commit link_where_free();

    FileHandle directory_;
    FileHandle file_;
    std::string base_;       // the final name within the directory
    std::string temp_name_;  // a named temporary within it; empty while unnamed
    bool unnamed_ = false;
    bool keep_existing_ = false;
    bool done_ = false;
    int error_ = 0;
};

}  // namespace dsd
