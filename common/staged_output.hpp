// A new file that only ever appears under its final name complete and on
// stable storage.
#pragma once

#include <csignal>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>

#include "file_io.hpp"

namespace dsd {

// Every catchable signal whose default action ends the process, less
// SIGPIPE and SIGXFSZ (which the tools ignore): those whose handlers remove
// staged temporaries, and those a program that must undo more than its
// staged files holds back while it works.
sigset_t terminating_signal_set();

namespace detail {
struct PendingName;  // what the signal handlers read to remove a temporary name
}  // namespace detail

// A directory made for outputs still to come. Until it is forgotten (the
// object's end), a signal that ends the process removes it after the staged
// temporaries, if it is empty by then, deepest directories first. Best
// effort: nothing is kept when its parent cannot be opened or every record
// is taken.
class MadeDirectory {
  public:
    explicit MadeDirectory(const std::string& path);
    MadeDirectory(const MadeDirectory&) = delete;
    MadeDirectory& operator=(const MadeDirectory&) = delete;
    ~MadeDirectory();

  private:
    detail::PendingName* record_ = nullptr;
};

// Written as an unnamed file (O_TMPFILE) in the final name's directory,
// linked in and renamed over any existing file by commit(), after which the
// directory is synced. Until then no name leads to it, so a crash or SIGKILL
// leaves nothing; only a SIGKILL, crash or power loss in the instant between
// linking it under a hidden temporary name and renaming that over an
// existing file can leave that name.
//
// Where the file system has no unnamed files (exFAT, FAT, many FUSE file
// systems) it is written under a hidden temporary name from the start:
// ".NAME.XXXXXXXX.part", NAME being the final name cut to at most 128 bytes
// at a character boundary, so that the temporary's name is valid wherever
// the final one is and fits in 143 bytes, the shortest NAME_MAX of a Linux
// file system. It is removed on failure and on every catchable terminating
// signal; SIGKILL, a crash or a power loss leave it.
//
// A temporary name is locked (flock) for as long as its file is staged, and
// create() first removes the temporaries of the same final name that no
// process holds: whatever a killed conversion left is gone once the next one
// to that name starts. A name another process holds is never touched. Each
// directory is searched once per process, when it first gets an output, so
// that a batch of many outputs in one directory pays for one listing.
//
// All names are taken relative to the directory's descriptor, so a final
// name close to PATH_MAX still works. A final name that is a symbolic link
// replaces the file the link leads to and keeps the link. The file gets the
// permissions a newly created file gets under the umask. Several outputs may
// be staged at once, by several threads too; each commits or is dropped on
// its own.
class StagedOutput {
  public:
    // Most staged outputs open at once in one process.
    static constexpr std::size_t max_at_once = 64;

    // What commit() does with a file or link that has the final name:
    // replace it, or keep it (and the new file is dropped).
    enum class Existing { replace, keep };

    // Refuses (nullopt) when the final name is a directory, a non-regular
    // file, a dangling or looping link, an existing file the user may not
    // write, or the file `input` (the same file through any name). Another
    // file replacing the existing one meanwhile (a concurrent conversion to
    // the same name) is no reason to refuse. With Existing::keep whatever
    // has the final name is never looked into: commit() then reports
    // Commit::exists.
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
    StagedOutput(FileHandle directory, FileHandle file, std::string base);
    Commit link_and_rename();
    Commit link_where_free();

    FileHandle directory_;
    FileHandle file_;
    FileHandle lock_;                         // holds the flock until no temporary name is left
    std::string base_;                        // the final name within the directory
    std::string temp_name_;                   // a named temporary within it; empty while unnamed
    detail::PendingName* pending_ = nullptr;  // the handlers' record of temp_name_
    bool unnamed_ = false;
    bool keep_existing_ = false;
    bool done_ = false;
    int error_ = 0;
};

}  // namespace dsd
