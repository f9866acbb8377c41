// What the converters guarantee about the files around them: an output that
// is the input is refused, links are followed only to regular files, nothing
// partial or hidden is left (signal or failed rename) and what a SIGKILL
// leaves goes with the next conversion, on file systems with and without
// unnamed files; concurrent conversions to one name all succeed; standard
// output never decides a conversion, and only regular files are read.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>

#include "dff_expect.hpp"
#include "dsf_generator.hpp"
#include "test_emulator.hpp"
#include "test_support.hpp"

namespace dsd::test {
namespace {

const std::string convert = DSF_DFF_CONVERT;
const std::string dummy = DSF_DFF256_DUMMY;
const std::string reverse = DFF_DSF_CONVERT;

Bytes make(std::uint64_t samples) {
    testgen::DsfSpec spec;
    spec.sample_count = samples;
    return testgen::make_dsf(spec);
}

std::string info(const Bytes& dsf) {
    return "Sampling frequency <" + std::to_string(le(dsf, 56, 4)) + ">\nbit number <" +
           std::to_string(le(dsf, 60, 4)) + ">\nsample number <" + std::to_string(le(dsf, 64, 8)) +
           ">\nDSD Data size <" + std::to_string(le(dsf, 84, 8) - 12) + ">\n";
}

// Every name under a directory, with what it is: a link's target, a file's
// bytes, so that "exactly as before" can be compared.
std::map<std::string, std::string> snapshot(const std::string& root) {
    std::map<std::string, std::string> all;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
        const auto name = entry.path().string().substr(root.size());
        if (entry.is_symlink()) {
            all[name] = "-> " + std::filesystem::read_symlink(entry.path()).string();
        } else if (entry.is_regular_file() && entry.file_size() > (1u << 20)) {
            // Big inputs are never written; their size and time stand for them.
            all[name] = std::to_string(entry.file_size()) + " bytes, modified " +
                        std::to_string(entry.last_write_time().time_since_epoch().count());
        } else if (entry.is_regular_file()) {
            const Bytes bytes = read_file(entry.path().string());
            all[name] = std::string(bytes.begin(), bytes.end());
        } else {
            all[name] = "(other)";
        }
    }
    return all;
}

class Output : public ::testing::Test {
  protected:
    RunResult run(const std::vector<std::string>& args, RunOptions options = {}) {
        options.cwd = dir.path();
        return run_program(convert, args, options);
    }
    TempDir dir;
};

// --- 1. The output is the input -----------------------------------------------

TEST_F(Output, ThatIsTheInputThroughAnyLinkIsRefused) {
    const Bytes dsf = make(5000);
    write_file(dir / "take.dsf", dsf);
    std::filesystem::create_directory(dir / "sub");
    ASSERT_EQ(::symlink("take.dsf", (dir / "take.dff").c_str()), 0);
    ASSERT_EQ(::link((dir / "take.dsf").c_str(), (dir / "hard.dff").c_str()), 0);
    ASSERT_EQ(::symlink("../take.dff", (dir / "sub/chain.dff").c_str()), 0);
    const auto before = snapshot(dir.path());
    for (const auto& args : {std::vector<std::string>{"take.dsf"},
                             {"take.dsf", "take.dff"},
                             {"take.dsf", "hard.dff"},
                             {"take.dsf", "sub/chain.dff"},
                             {"./take.dsf", "sub/../hard.dff"}}) {
        const auto r = run(args);
        const std::string output = args.size() == 2 ? args[1] : "take.dff";
        EXPECT_EQ(r.status, 1) << output;
        EXPECT_EQ(r.out, info(dsf));
        EXPECT_EQ(r.err, " cannot open file : " + output + "\n");
        EXPECT_EQ(snapshot(dir.path()), before) << output;
    }
}

// --- 2. Symbolic links -----------------------------------------------------------

TEST_F(Output, LinkToAFileReplacesItInItsOwnDirectory) {
    const Bytes dsf = make(5000);
    write_file(dir / "in.dsf", dsf);
    std::filesystem::create_directories(dir / "store/deep");
    write_file(dir / "store/deep/real.dff", {1, 2});
    ASSERT_EQ(::symlink("deep/real.dff", (dir / "store/mid.dff").c_str()), 0);
    ASSERT_EQ(::symlink("store/mid.dff", (dir / "link.dff").c_str()), 0);
    const auto r = run({"in.dsf", "link.dff"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    auto after = snapshot(dir.path());
    EXPECT_EQ(after["/link.dff"], "-> store/mid.dff");
    EXPECT_EQ(after["/store/mid.dff"], "-> deep/real.dff");
    const Bytes expected = expected_dff(dsf, 2822400);
    EXPECT_EQ(after["/store/deep/real.dff"], std::string(expected.begin(), expected.end()));
    EXPECT_EQ(after.size(), 6u);  // in.dsf, link, store, mid, deep, real: nothing else
}

TEST_F(Output, DanglingAndLoopingLinksAreRefused) {
    const Bytes dsf = make(100);
    write_file(dir / "in.dsf", dsf);
    ASSERT_EQ(::symlink("nowhere.dff", (dir / "dangling.dff").c_str()), 0);
    ASSERT_EQ(::symlink("missing/x.dff", (dir / "deep.dff").c_str()), 0);
    ASSERT_EQ(::symlink("loop2.dff", (dir / "loop1.dff").c_str()), 0);
    ASSERT_EQ(::symlink("loop1.dff", (dir / "loop2.dff").c_str()), 0);
    ASSERT_EQ(::symlink("/dev/null", (dir / "device.dff").c_str()), 0);
    const auto before = snapshot(dir.path());
    for (const std::string name : {"dangling.dff", "deep.dff", "loop1.dff", "device.dff"}) {
        const auto r = run({"in.dsf", name});
        EXPECT_EQ(r.status, 1) << name;
        EXPECT_EQ(r.out, info(dsf));
        EXPECT_EQ(r.err, " cannot open file : " + name + "\n");
        EXPECT_EQ(snapshot(dir.path()), before) << name;
    }
}

// --- 3. Nothing left behind ------------------------------------------------------

// Status 124: the machine cannot filter system calls, so the named fallback
// cannot be forced.
#define SKIP_WITHOUT_SECCOMP(result)                                                    \
    if ((result).status == status_no_seccomp) {                                         \
        GTEST_SKIP() << "cannot install a seccomp filter to force the named temporary"; \
    }

TEST_F(Output, NamedTemporaryFallbackGivesTheSameFileAndLeavesNothing) {
    const Bytes dsf = make(3 * 32768 + 5);
    write_file(dir / "in.dsf", dsf);
    write_file(dir / "in.dff", {'o', 'l', 'd'});
    RunOptions named;
    named.no_unnamed_files = true;
    auto r = run({"in.dsf"}, named);
    SKIP_WITHOUT_SECCOMP(r);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_file(dir / "in.dff"), expected_dff(dsf, 2822400));
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"in.dff", "in.dsf"}));

    // A write failure in the fallback removes its temporary too.
    named.file_size_limit = 5000;
    r = run({"in.dsf", "new.dff"}, named);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, " write error : 5000\n");
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"in.dff", "in.dsf"}));
}

// The entries of the directory `relative` under `root` and the bytes of
// `file` in it, reached one component at a time: the whole name is too long
// for the system calls.
std::pair<std::vector<std::string>, Bytes> look_deep(const std::string& root,
                                                     const std::string& relative,
                                                     const std::string& file) {
    int fd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY);
    std::size_t from = 0;
    for (auto slash = relative.find('/'); slash != std::string::npos;
         from = slash + 1, slash = relative.find('/', from)) {
        const int next =
            ::openat(fd, relative.substr(from, slash - from).c_str(), O_RDONLY | O_DIRECTORY);
        ::close(fd);
        fd = next;
    }
    std::vector<std::string> names;
    Bytes bytes;
    const int file_fd = ::openat(fd, file.c_str(), O_RDONLY);
    if (file_fd >= 0) {
        std::array<std::uint8_t, 4096> buffer{};
        for (ssize_t n; (n = ::read(file_fd, buffer.data(), buffer.size())) > 0;) {
            bytes.insert(bytes.end(), buffer.begin(), buffer.begin() + n);
        }
        ::close(file_fd);
    }
    if (DIR* d = ::fdopendir(fd)) {
        while (const dirent* e = ::readdir(d)) {
            if (std::string(e->d_name) != "." && std::string(e->d_name) != "..") {
                names.emplace_back(e->d_name);
            }
        }
        ::closedir(d);
    }
    return {names, bytes};
}

TEST_F(Output, NamesCloseToPathMaxNeedNoLongerTemporaryName) {
    // Directories of 200-byte names, then a short file name: 4090 bytes in
    // all, so any longer temporary name beside it would pass PATH_MAX.
    std::string path;
    while (path.size() + 201 < 4090 - 20) {
        path += std::string(200, 'd') + "/";
    }
    const std::string base = std::string(4090 - path.size() - 4, 'n') + ".dff";
    const Bytes dsf = make(3000);
    write_file(dir / "in.dsf", dsf);
    {
        // Made one level at a time, as the whole name is too long.
        int fd = ::open(dir.path().c_str(), O_RDONLY | O_DIRECTORY);
        for (std::size_t at = 0; at < path.size(); at += 201) {
            const std::string part = path.substr(at, 200);
            ::mkdirat(fd, part.c_str(), 0755);
            const int next = ::openat(fd, part.c_str(), O_RDONLY | O_DIRECTORY);
            ::close(fd);
            fd = next;
        }
        ::close(fd);
    }
    for (const bool no_unnamed : {false, true}) {
        RunOptions options;
        options.no_unnamed_files = no_unnamed;
        const auto r = run({"in.dsf", path + base}, options);
        SKIP_WITHOUT_SECCOMP(r);
        EXPECT_EQ(r.status, 0) << no_unnamed;
        EXPECT_EQ(r.err, "");
        const auto [names, bytes] = look_deep(dir.path(), path, base);
        EXPECT_EQ(names, std::vector<std::string>{base});
        EXPECT_EQ(bytes, expected_dff(dsf, 2822400));
    }
}

TEST_F(Output, FailedRenameNamesTheFileAndLeavesNothing) {
    // In a sticky directory nobody may replace a file root owns, though the
    // file itself is writable for everyone.
    std::filesystem::create_directory(dir / "sticky");
    ::chmod((dir / "sticky").c_str(), 01777);
    const Bytes dsf = make(2000);
    write_file(dir / "in.dsf", dsf);
    write_file(dir / "sticky/out.dff", {4, 5, 6});
    ::chmod((dir / "sticky/out.dff").c_str(), 0666);
    const auto before = snapshot(dir.path());
    for (const bool no_unnamed : {false, true}) {
        RunOptions user;
        user.run_as = unprivileged_uid();
        user.no_unnamed_files = no_unnamed;
        const auto r = run({"in.dsf", "sticky/out.dff"}, user);
        SKIP_WITHOUT_SECCOMP(r);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, info(dsf));
        EXPECT_EQ(r.err, " cannot rename file : sticky/out.dff (" +
                             std::string(std::strerror(EPERM)) + ")\n");
        EXPECT_EQ(snapshot(dir.path()), before);
    }
}

bool is_hidden_part(const std::string& name) {
    return name.size() > 6 && name[0] == '.' && name.ends_with(".part");
}

// A DSF of `sound` bytes whose sound is a hole: no disk space for the input,
// and a conversion long enough to be caught mid-way.
void write_sparse_dsf(const std::string& path, std::uint64_t sound) {
    Bytes header = make(0);
    put_le(header, 64, sound / 2 * 8, 8);
    put_le(header, 84, 12 + sound, 8);
    write_file(path, header);
    ASSERT_EQ(::truncate(path.c_str(), static_cast<off_t>(92 + sound)), 0);
}

// Bytes the process has written so far, or 0 where /proc cannot say.
std::uint64_t bytes_written_by(pid_t pid) {
    std::ifstream io("/proc/" + std::to_string(pid) + "/io");
    for (std::string key; io >> key;) {
        std::uint64_t value = 0;
        io >> value;
        if (key == "wchar:") {
            return value;
        }
    }
    return 0;
}

// Waits until the converter is well into writing its output.
void wait_until_mid_way(pid_t pid, std::uint64_t bytes) {
    using namespace std::chrono_literals;
    for (int i = 0; i < 2000 && bytes_written_by(pid) < bytes; ++i) {
        std::this_thread::sleep_for(1ms);
    }
}

class Signals : public ::testing::Test {
  protected:
    static constexpr std::uint64_t sound = 512ull << 20;
    void SetUp() override {
        struct statvfs fs {};
        if (::statvfs(dir.path().c_str(), &fs) != 0 ||
            static_cast<std::uint64_t>(fs.f_bavail) * fs.f_frsize < 4 * sound) {
            GTEST_SKIP() << "needs 2 GiB free under " << dir.path() << " for a 512 MiB output";
        }
        write_sparse_dsf(dir / "big.dsf", sound);
        write_file(dir / "big.dff", {'o', 'l', 'd'});
        before = snapshot(dir.path());
    }

    // Converts big.dsf over big.dff and sends `sig` mid-way; returns the
    // status and checks that the directory is as before.
    int interrupted(int sig, bool no_unnamed) {
        RunOptions options;
        options.cwd = dir.path();
        options.no_unnamed_files = no_unnamed;
        bool saw_temporary = false;
        options.while_running = [&](pid_t pid) {
            wait_until_mid_way(pid, 32 << 20);
            saw_temporary = dir.entries().size() == 3;
            ::kill(pid, sig);
        };
        const auto r = run_program(convert, {"big.dsf"}, options);
        if (r.status == status_no_seccomp) {
            return r.status;
        }
        // The unnamed file never shows; the named one does until removed.
        EXPECT_EQ(saw_temporary, no_unnamed) << strsignal(sig);
        EXPECT_EQ(snapshot(dir.path()), before) << strsignal(sig);
        return r.status;
    }

    TempDir dir;
    std::map<std::string, std::string> before;
};

std::vector<int> catchable_terminating_signals() {
    std::vector<int> all{SIGHUP,  SIGINT,    SIGQUIT, SIGILL,  SIGTRAP, SIGABRT, SIGBUS,
                         SIGFPE,  SIGUSR1,   SIGSEGV, SIGUSR2, SIGALRM, SIGTERM, SIGSTKFLT,
                         SIGXCPU, SIGVTALRM, SIGPROF, SIGIO,   SIGPWR,  SIGSYS};
    all.push_back(SIGRTMIN);
    // qemu-user keeps the host's last real-time signal for itself, so a
    // program it runs never receives SIGRTMAX.
    if (emulator.empty()) {
        all.push_back(SIGRTMAX);
    }
    return all;
}

TEST_F(Signals, KilledMidWayLeavesTheDirectoryAsItWas) {
    for (const int sig : catchable_terminating_signals()) {
        EXPECT_EQ(interrupted(sig, false), 128 + sig) << strsignal(sig);
    }
    EXPECT_EQ(interrupted(SIGKILL, false), 128 + SIGKILL);
}

TEST_F(Signals, NamedTemporaryIsRemovedOnEveryCatchableSignal) {
    for (const int sig : catchable_terminating_signals()) {
        const int status = interrupted(sig, true);
        if (status == status_no_seccomp) {
            GTEST_SKIP() << "cannot install a seccomp filter to force the named temporary";
        }
        EXPECT_EQ(status, 128 + sig) << strsignal(sig);
    }
}

// Two conversions at once (-j 2), each under a named temporary: a signal
// removes both, whichever thread it reaches.
TEST_F(Signals, BatchLeavesNoTemporaryOfAnyJob) {
    write_sparse_dsf(dir / "two.dsf", sound);
    before = snapshot(dir.path());
    for (const int sig : {SIGINT, SIGTERM}) {
        RunOptions options;
        options.cwd = dir.path();
        options.no_unnamed_files = true;
        std::size_t temporaries = 0;
        options.while_running = [&](pid_t pid) {
            wait_until_mid_way(pid, 64 << 20);
            for (const auto& name : dir.entries()) {
                temporaries += name.ends_with(".part") ? 1 : 0;
            }
            ::kill(pid, sig);
        };
        const auto r = run_program(convert, {"-j", "2", "-t", ".", "big.dsf", "two.dsf"}, options);
        if (r.status == status_no_seccomp) {
            GTEST_SKIP() << "cannot install a seccomp filter to force the named temporaries";
        }
        EXPECT_EQ(r.status, 128 + sig) << strsignal(sig);
        EXPECT_EQ(temporaries, 2u) << strsignal(sig);
        EXPECT_EQ(snapshot(dir.path()), before) << strsignal(sig);
    }
}

// The directories --parents made for the conversions under way go with
// their temporaries; one that already holds a finished output stays.
TEST_F(Signals, ParentsBatchLeavesNoDirectoryItMade) {
    std::filesystem::create_directories(dir / "rips/a/b");
    std::filesystem::create_directories(dir / "rips/c");
    std::filesystem::create_directories(dir / "out");
    std::filesystem::rename(dir / "big.dsf", dir / "rips/a/b/big.dsf");
    write_sparse_dsf(dir / "rips/c/two.dsf", sound);
    write_file(dir / "rips/c/small.dsf", make(1000));
    for (const int sig : {SIGINT, SIGTERM}) {
        std::filesystem::remove_all(dir / "out/rips");
        auto expected = snapshot(dir.path());
        RunOptions options;
        options.cwd = dir.path();
        options.while_running = [&](pid_t pid) {
            wait_until_mid_way(pid, 64 << 20);
            ::kill(pid, sig);
        };
        const auto r = run_program(convert,
                                   {"-j", "2", "--parents", "-t", "out", "rips/c/small.dsf",
                                    "rips/a/b/big.dsf", "rips/c/two.dsf"},
                                   options);
        EXPECT_EQ(r.status, 128 + sig) << strsignal(sig);
        // small.dsf was done long before the signal: its output and the
        // directories above it stay, out/rips/a and out/rips/a/b go.
        EXPECT_TRUE(std::filesystem::remove(dir / "out/rips/c/small.dff")) << strsignal(sig);
        expected["/out/rips"] = expected["/out/rips/c"] = "(other)";
        EXPECT_EQ(snapshot(dir.path()), expected) << strsignal(sig);
    }
}

// Another conversion to the same name removes the temporaries nobody holds
// but never the one a running conversion writes.
TEST_F(Signals, ARunningConversionsTemporaryIsKept) {
    const std::string stale = ".big.dff.abcdefgh.part";
    write_file(dir / stale, {1});
    write_file(dir / "small.dsf", make(1000));
    RunOptions options;
    options.cwd = dir.path();
    options.no_unnamed_files = true;
    RunResult during;
    std::vector<std::string> seen;
    options.while_running = [&](pid_t pid) {
        wait_until_mid_way(pid, 32 << 20);
        RunOptions other;
        other.cwd = dir.path();
        during = run_program(convert, {"small.dsf", "big.dff"}, other);
        seen = dir.entries();
    };
    const auto r = run_program(convert, {"big.dsf"}, options);
    if (r.status == status_no_seccomp) {
        GTEST_SKIP() << "cannot install a seccomp filter to force the named temporary";
    }
    EXPECT_EQ(during.status, 0) << during.err;
    ASSERT_EQ(seen.size(), 4u);  // the running one's temporary, big.dff, big.dsf, small.dsf
    EXPECT_TRUE(is_hidden_part(seen[0]) && seen[0] != stale) << seen[0];
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"big.dff", "big.dsf", "small.dsf"}));
    EXPECT_EQ(std::filesystem::file_size(dir / "big.dff"), 130 + sound);
}

// A broken pipe and an exceeded file size are write errors, not deaths: sent
// as signals they are ignored and the conversion completes.
TEST_F(Signals, PipeAndFileSizeSignalsAreIgnored) {
    for (const int sig : {SIGPIPE, SIGXFSZ}) {
        RunOptions options;
        options.cwd = dir.path();
        options.while_running = [&](pid_t pid) {
            wait_until_mid_way(pid, 32 << 20);
            ::kill(pid, sig);
        };
        const auto r = run_program(convert, {"big.dsf"}, options);
        EXPECT_EQ(r.status, 0) << strsignal(sig);
        EXPECT_EQ(dir.entries(), (std::vector<std::string>{"big.dff", "big.dsf"}));
        EXPECT_EQ(std::filesystem::file_size(dir / "big.dff"), 130 + sound);
    }
}

// --- 4. Leftovers of killed conversions, foreign file systems, concurrency -----

// 69 three-byte characters and an extension: 211 bytes, longer than any
// temporary name keeps, so a cut at a fixed byte count splits a character.
std::string long_utf8_name(const std::string& extension) {
    std::string name;
    for (int i = 0; i < 23; ++i) {
        name += "\u4ea4\u97ff\u66f2";
    }
    return name + "." + extension;
}

bool is_utf8(const std::string& text) {
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const std::size_t length = lead < 0x80 ? 1 : lead >> 5 == 6 ? 2 : lead >> 4 == 14 ? 3 : 4;
        if (lead >= 0xF8 || (lead >= 0x80 && lead < 0xC0) || i + length > text.size()) {
            return false;
        }
        for (std::size_t k = 1; k < length; ++k) {
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) {
                return false;
            }
        }
        i += length;
    }
    return true;
}

// A conversion killed while its temporary has a name leaves that name; the
// next conversion to the same output removes it, so the directory ends as
// one conversion alone leaves it. Without unnamed files (forced) the kill
// comes once the temporary is created; the name must be valid UTF-8, as
// exFAT and FAT require, and within 143 bytes. With them it comes between
// the link to the temporary name and the rename over the existing file.
TEST_F(Output, WhatASigkillLeavesGoesWithTheNextConversion) {
    if (!tracing_available()) {
        GTEST_SKIP() << "needs ptrace of a natively run converter to stop it at its temporary";
    }
    const Bytes dsf = make(3 * 32768 + 5);
    write_file(dir / "in.dsf", dsf);
    const std::string output = long_utf8_name("dff");
    for (const bool no_unnamed : {true, false}) {
        SCOPED_TRACE(no_unnamed ? "named temporary" : "unnamed temporary");
        write_file(dir / output, {'o', 'l', 'd'});
        pid_t pid = 0;
        std::vector<std::string> while_stopped;
        RunOptions killed;
        killed.no_unnamed_files = no_unnamed;
        killed.stop_after_syscall = no_unnamed ? is_exclusive_create : is_link;
        killed.while_running = [&](pid_t p) { pid = p; };
        killed.while_stopped = [&] {
            while_stopped = dir.entries();
            ::kill(pid, SIGKILL);
        };
        const auto r = run({"in.dsf", output}, killed);
        if (r.status == status_no_seccomp) {
            GTEST_SKIP() << "cannot install a seccomp filter to force the named temporary";
        }
        ASSERT_TRUE(r.stopped);
        EXPECT_EQ(r.status, 128 + SIGKILL);
        const auto left = dir.entries();
        ASSERT_EQ(left, while_stopped);
        ASSERT_EQ(left.size(), 3u);
        const std::string& temp = left[0];
        EXPECT_TRUE(is_hidden_part(temp)) << temp;
        EXPECT_TRUE(is_utf8(temp)) << temp;
        EXPECT_LE(temp.size(), 143u);

        RunOptions again;
        again.no_unnamed_files = no_unnamed;
        const auto next = run({"in.dsf", output}, again);
        EXPECT_EQ(next.status, 0) << next.err;
        EXPECT_EQ(dir.entries(), (std::vector<std::string>{"in.dsf", output}));
        EXPECT_EQ(read_file(dir / output), expected_dff(dsf, 2822400));
    }
}

// A file system without unnamed files that stores names as UTF-16, as on
// USB drives and SD cards. Both converters take a 211-byte UTF-8 output
// name there, and the hidden temporary a SIGKILL leaves goes with the next
// conversion to that name.
TEST(ExfatOutput, LongUtf8NamesAndWhatASigkillLeaves) {
    TempDir scratch;
    const ExfatMount exfat(scratch, 256ull << 20);
    if (exfat.path().empty()) {
        GTEST_SKIP() << exfat.why_not();
    }
    const std::string& mount = exfat.path();
    const auto entries = [&] {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(mount)) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    };
    const Bytes dsf = make(5 * 32768);
    write_file(mount + "/in.dsf", dsf);
    const std::string dff_name = long_utf8_name("dff");
    const std::string dsf_name = long_utf8_name("dsf");
    RunOptions in_mount;
    in_mount.cwd = mount;
    auto r = run_program(convert, {"in.dsf", dff_name}, in_mount);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_file(mount + "/" + dff_name), expected_dff(dsf, 2822400));
    r = run_program(reverse, {dff_name, dsf_name}, in_mount);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_file(mount + "/" + dsf_name), dsf);
    EXPECT_EQ(entries(), (std::vector<std::string>{"in.dsf", dff_name, dsf_name}));

    // Killed mid-way over the existing output, from a large input outside.
    const std::uint64_t sound = 128ull << 20;
    Bytes header = make(0);
    put_le(header, 64, sound / 2 * 8, 8);
    put_le(header, 84, 12 + sound, 8);
    write_file(scratch / "big.dsf", header);
    ASSERT_EQ(::truncate((scratch / "big.dsf").c_str(), static_cast<off_t>(92 + sound)), 0);
    RunOptions killed = in_mount;
    killed.while_running = [&](pid_t pid) {
        wait_until_mid_way(pid, 16 << 20);
        ::kill(pid, SIGKILL);
    };
    r = run_program(convert, {scratch / "big.dsf", dff_name}, killed);
    EXPECT_EQ(r.status, 128 + SIGKILL);
    const auto left = entries();
    ASSERT_EQ(left.size(), 4u);
    EXPECT_TRUE(is_hidden_part(left[0])) << left[0];

    r = run_program(convert, {"in.dsf", dff_name}, in_mount);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(entries(), (std::vector<std::string>{"in.dsf", dff_name, dsf_name}));
    EXPECT_EQ(read_file(mount + "/" + dff_name), expected_dff(dsf, 2822400));
}

// Eight conversions to one name at once, again and again: each replaces the
// file the others are checking, which is no error. The name is also reached
// through a chain of links, which widens the moment between looking at the
// name and at the file it leads to.
TEST_F(Output, ConcurrentConversionsToOneNameAllSucceed) {
    if (!emulator.empty()) {
        // The runs start from several threads, and a threaded qemu-user guest
        // that forks can hang inside the emulator.
        GTEST_SKIP() << "forks from several threads, which can hang under qemu-user";
    }
    const Bytes dsf = make(8000);
    write_file(dir / "in.dsf", dsf);
    std::string chain = "target.dff";
    write_file(dir / chain, {});
    for (int i = 0; i < 30; ++i) {
        const std::string link = "link" + std::to_string(i) + ".dff";
        ASSERT_EQ(::symlink(chain.c_str(), (dir / link).c_str()), 0);
        chain = link;
    }
    const auto start = std::chrono::steady_clock::now();
    bool failed = false;
    // Until the race shows, within bounds where runs are slow (emulators,
    // sanitizers).
    for (int round = 0; round < 200 && !failed; ++round) {
        if (std::chrono::steady_clock::now() - start > std::chrono::seconds(20)) {
            break;
        }
        const std::string output = round % 2 == 0 ? "out.dff" : chain;
        std::array<RunResult, 8> results;
        std::vector<std::thread> runs;
        runs.reserve(results.size());
        for (auto& result : results) {
            runs.emplace_back([&] { result = run({"in.dsf", output}); });
        }
        for (auto& t : runs) {
            t.join();
        }
        for (const auto& result : results) {
            failed = failed || result.status != 0;
            EXPECT_EQ(result.status, 0) << "round " << round << ": " << result.err;
        }
        EXPECT_EQ(read_file(dir / (round % 2 == 0 ? "out.dff" : "target.dff")),
                  expected_dff(dsf, 2822400));
    }
    const auto entries = dir.entries();
    EXPECT_EQ(std::count_if(entries.begin(), entries.end(),
                            [](const std::string& name) { return name[0] == '.'; }),
              0);
    EXPECT_EQ(entries.size(), 33u);  // in, out, target and the 30 links
}

// --- 5. Standard output never decides the conversion ------------------------------

TEST_F(Output, ClosedPipeOrFullDeviceOnStandardOutputKeepsTheConversion) {
    const Bytes dsf = make(40000);
    write_file(dir / "in.dsf", dsf);
    for (const auto& program : {convert, dummy}) {
        RunOptions closed;
        closed.stdout_closed_pipe = true;
        RunOptions full;
        full.stdout_path = "/dev/full";
        for (const auto& [options, reason] :
             {std::pair{closed, std::strerror(EPIPE)}, std::pair{full, std::strerror(ENOSPC)}}) {
            std::filesystem::remove(dir / "in.dff");
            auto o = options;
            o.cwd = dir.path();
            const auto r = run_program(program, {"in.dsf"}, o);
            EXPECT_EQ(r.status, 0) << reason;
            EXPECT_EQ(r.err, std::string(" cannot write standard output : ") + reason + "\n");
            EXPECT_EQ(read_file(dir / "in.dff"),
                      expected_dff(dsf, program == dummy ? 11289600 : 2822400));
            EXPECT_EQ(dir.entries(), (std::vector<std::string>{"in.dff", "in.dsf"}));
        }
    }
}

// --- 6. Only regular files are read -----------------------------------------------

TEST_F(Output, FifosAndDevicesAreNotInputs) {
    ASSERT_EQ(::mkfifo((dir / "x.dsf").c_str(), 0644), 0);
    ASSERT_EQ(::symlink("/dev/zero", (dir / "zero.dsf").c_str()), 0);
    const auto before = snapshot(dir.path());
    for (const std::string name : {"x.dsf", "zero.dsf"}) {
        const auto r = run({name});
        EXPECT_EQ(r.status, 1) << name;
        EXPECT_EQ(r.out, "Usage: Can't open file. " + name + "\n");
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(snapshot(dir.path()), before);
    }
}

}  // namespace
}  // namespace dsd::test
