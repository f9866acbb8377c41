#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <string>
#include <thread>
#include <vector>

#include "byte_order.hpp"
#include "file_io.hpp"
#include "file_name.hpp"
#include "progress.hpp"
#include "scratch_buffer.hpp"
#include "test_support.hpp"
#include "tool_options.hpp"

namespace dsd {
namespace {

TEST(FileName, ExtensionIsTextAfterLastDot) {
    EXPECT_EQ(file_extension_of("a.b.dsf"), "dsf");
    EXPECT_EQ(file_extension_of("music."), "");
    EXPECT_EQ(file_extension_of("dir.old/music"), "old/music");
    EXPECT_EQ(file_extension_of(".wav"), "wav");
    EXPECT_EQ(file_extension_of("music"), std::nullopt);
    EXPECT_EQ(file_extension_of(""), std::nullopt);
}

TEST(FileName, StemKeepsTheLastDot) {
    EXPECT_EQ(file_stem_with_dot("a.b.DSF"), "a.b.");
    EXPECT_EQ(file_stem_with_dot("take1.dsf"), "take1.");
    EXPECT_EQ(file_stem_with_dot("music"), std::nullopt);
}

TEST(FileName, OnlyTheTwoExactFormsMatch) {
    EXPECT_EQ(check_file_name("x.dsf", "dsf", "DSF"), NameCheck::ok);
    EXPECT_EQ(check_file_name("x.DSF", "dsf", "DSF"), NameCheck::ok);
    EXPECT_EQ(check_file_name("x.Dsf", "dsf", "DSF"), NameCheck::wrong_extension);
    EXPECT_EQ(check_file_name("x.dsf ", "dsf", "DSF"), NameCheck::wrong_extension);
    EXPECT_EQ(check_file_name("x.dsff", "dsf", "DSF"), NameCheck::wrong_extension);
    EXPECT_EQ(check_file_name("music.", "dsf", "DSF"), NameCheck::wrong_extension);
    EXPECT_EQ(check_file_name("music", "dsf", "DSF"), NameCheck::no_dot);
    EXPECT_EQ(check_file_name("", "dsf", "DSF"), NameCheck::no_dot);
}

TEST(FileName, NamesOfAnyLength) {
    const std::string stem(5000, 'n');
    EXPECT_EQ(file_stem_with_dot(stem + ".dsf"), stem + ".");
    EXPECT_EQ(file_extension_of("x." + std::string(300, 'e')), std::string(300, 'e'));
}

// ---- Options ----------------------------------------------------------------

struct Scanned {
    std::vector<std::string> options;  // "written=value"
    std::vector<std::string> names;
    OptionError error;
    std::string error_option;
    bool operator==(const Scanned&) const = default;
};

Scanned scan(std::vector<const char*> args) {
    static constexpr std::array<OptionSpec, 4> specs{{
        {'t', "target-directory", true},
        {0, "parents", false},
        {'n', "no-clobber", false},
        {'j', "jobs", true},
    }};
    args.insert(args.begin(), "tool");
    const auto result = scan_options(static_cast<int>(args.size()), args.data(), specs,
                                     [](std::string_view name) { return name.ends_with(".dsf"); });
    Scanned scanned{{}, result.names, result.error, result.error_option};
    for (const auto& given : result.options) {
        scanned.options.push_back(given.written + "=" + given.value);
    }
    return scanned;
}

TEST(OptionScan, GnuForms) {
    using E = OptionError;
    EXPECT_EQ(scan({"-nj2", "-tDIR", "a", "-n"}),
              (Scanned{{"-n=", "-j=2", "-t=DIR"}, {"a", "-n"}, E::none, ""}));
    EXPECT_EQ(scan({"-nj", "2", "--target=x=y", "--", "-n", "--"}),
              (Scanned{{"-n=", "-j=2", "--target-directory=x=y"}, {"-n", "--"}, E::none, ""}));
    EXPECT_EQ(scan({"--jobs", "-3", "--p", "a", "--", "b"}),
              (Scanned{{"--jobs=-3", "--parents="}, {"a", "b"}, E::none, ""}));
    // Names the tool accepts, "-" and anything not starting with '-' end the
    // options.
    EXPECT_EQ(scan({"-n", "-t.dsf", "-n"}), (Scanned{{"-n="}, {"-t.dsf", "-n"}, E::none, ""}));
    EXPECT_EQ(scan({"-", "-n"}), (Scanned{{}, {"-", "-n"}, E::none, ""}));
    EXPECT_EQ(scan({}), (Scanned{{}, {}, E::none, ""}));
}

TEST(OptionScan, TheFirstErrorIsKeptAndTheScanGoesOn) {
    using E = OptionError;
    EXPECT_EQ(scan({"-nx", "--par", "a"}),
              (Scanned{{"-n=", "--parents="}, {"a"}, E::unknown, "-x"}));
    EXPECT_EQ(scan({"--no-such=1", "-n"}), (Scanned{{"-n="}, {}, E::unknown, "--no-such"}));
    EXPECT_EQ(scan({"--", "x"}), (Scanned{{}, {"x"}, E::none, ""}));
    EXPECT_EQ(scan({"-n", "-j"}), (Scanned{{"-n=", "-j="}, {}, E::missing_value, "-j"}));
    EXPECT_EQ(scan({"--parents=1", "a"}),
              (Scanned{{"--parents="}, {"a"}, E::unexpected_value, "--parents"}));
}

// ---- Progress line --------------------------------------------------------

std::size_t columns(const std::string& text) {
    return static_cast<std::size_t>(
        std::count_if(text.begin(), text.end(), [](char c) { return (c & 0xC0) != 0x80; }));
}

TEST(ProgressLine, SaysHowFarAndFitsTheTerminal) {
    EXPECT_EQ(file_progress_line("in.dsf", 1, 1, 50, 100, 2.0, 80),
              "in.dsf  50%  25 B/s  0:02 left");
    EXPECT_EQ(file_progress_line("in.dsf", 3, 12, 0, 7'000'000'000, 0, 80),
              "3/12 in.dsf  0%  0 B/s  --:-- left");
    EXPECT_EQ(file_progress_line("x", 1, 1, 4'000'000'000, 4'000'000'000, 2.0, 80),
              "x  100%  2.0 GB/s  0:00 left");
    EXPECT_EQ(batch_progress_line(3, 1, 12, 1'500'000, 5'250'000'000, 1.0, 80),
              "3 of 12 files, 1 failed, 1.5 MB of 5.2 GB, 1.5 MB/s, 58:19 left");
    EXPECT_EQ(batch_progress_line(0, 0, 2, 1, 1'000'000'000'000, 1.0, 80),
              "0 of 2 files, 0 failed, 1 B of 1.0 TB, 1 B/s, --:-- left");

    // A long name loses its start, whole characters at a time; control
    // bytes never reach the terminal.
    std::string name = "Artist\x1b[2J/";
    name[6] = '\x1b';
    for (int i = 0; i < 30; ++i) {
        name += "\xc3\xa4";  // ä
    }
    name += "/take.dsf";
    for (const std::size_t width : {40u, 41u, 80u, 200u}) {
        const auto line = file_progress_line(name, 1, 1, 1, 2, 1.0, width);
        EXPECT_LT(columns(line), width) << line;
        EXPECT_EQ(line.find('\x1b'), std::string::npos) << line;
        EXPECT_NE(line.find("/take.dsf  50%  1 B/s  0:01 left"), std::string::npos) << line;
        EXPECT_NE(static_cast<unsigned char>(line[width < 60 ? 3 : 0]) & 0xC0, 0x80u) << line;
    }
    EXPECT_EQ(file_progress_line(name, 1, 1, 1, 2, 1.0, 200).rfind("Artist?[2J/", 0), 0u);
    for (const std::size_t width : {0u, 1u, 10u}) {
        EXPECT_LT(columns(file_progress_line(name, 1, 1, 1, 2, 1.0, width)),
                  std::max<std::size_t>(width, 1));
        EXPECT_LT(columns(batch_progress_line(1, 0, 2, 1, 2, 1.0, width)),
                  std::max<std::size_t>(width, 1));
    }
}

TEST(ByteOrder, RoundTripsBothOrders) {
    std::array<std::uint8_t, 8> b{};
    store_be32(b, 2822400);
    EXPECT_EQ(b[0], 0x00);
    EXPECT_EQ(b[1], 0x2B);
    EXPECT_EQ(b[2], 0x11);
    EXPECT_EQ(b[3], 0x00);
    EXPECT_EQ(load_be32(b), 2822400u);
    store_be64(b, 0x0102030405060708ull);
    EXPECT_EQ(b[0], 0x01);
    EXPECT_EQ(b[7], 0x08);
    EXPECT_EQ(load_be64(b), 0x0102030405060708ull);
    store_le64(b, 0x0102030405060708ull);
    EXPECT_EQ(b[0], 0x08);
    EXPECT_EQ(load_le64(b), 0x0102030405060708ull);
    EXPECT_EQ(load_le32(b), 0x05060708u);
    EXPECT_EQ(load_le16(b), 0x0708u);
}

// A buffer given back serves the thread's next one of its size or less;
// buffers alive at once, or of other threads, never share bytes.
TEST(ScratchBuffer, AThreadReusesWhatItGaveBack) {
    const std::uint8_t* first = nullptr;
    {
        const ScratchBuffer a(1000);
        EXPECT_EQ(a.bytes().size(), 1000u);
        first = a.bytes().data();
    }
    {
        const ScratchBuffer b(800);
        EXPECT_EQ(b.bytes().data(), first);
        EXPECT_EQ(b.bytes().size(), 800u);
        const ScratchBuffer c(800);
        EXPECT_NE(c.bytes().data(), first);
        const ScratchBuffer larger(5000);
        EXPECT_NE(larger.bytes().data(), first);
        std::thread([&] {
            const ScratchBuffer other(800);
            EXPECT_NE(other.bytes().data(), c.bytes().data());
        }).join();
        ScratchBuffer moved_from(300);
        const auto* bytes = moved_from.bytes().data();
        const ScratchBuffer moved(std::move(moved_from));
        EXPECT_EQ(moved.bytes().data(), bytes);
        EXPECT_EQ(moved.bytes().size(), 300u);
    }
    const ScratchBuffer again(1000);
    EXPECT_EQ(again.bytes().data(), first);
}

TEST(StagedOutput, AppearsOnlyOnCommit) {
    test::TempDir dir;
    const std::string target = dir / "out.dff";
    test::write_file(target, {1, 2, 3});
    {
        auto staged = StagedOutput::create(target);
        ASSERT_TRUE(staged);
        const std::array<std::uint8_t, 2> data{9, 9};
        ASSERT_TRUE(write_full(staged->fd(), data));
        EXPECT_EQ(test::read_file(target), (test::Bytes{1, 2, 3}));
        // Unnamed where the file system allows it, else one hidden name.
        EXPECT_LE(dir.entries().size(), 2u);
    }
    // Dropped without commit: the old file stays and nothing else is left.
    EXPECT_EQ(test::read_file(target), (test::Bytes{1, 2, 3}));
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"out.dff"});

    auto staged = StagedOutput::create(target);
    ASSERT_TRUE(staged);
    const std::array<std::uint8_t, 2> data{7, 8};
    ASSERT_TRUE(write_full(staged->fd(), data));
    ASSERT_EQ(staged->commit(), StagedOutput::Commit::done);
    EXPECT_EQ(test::read_file(target), (test::Bytes{7, 8}));
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"out.dff"});
}

TEST(StagedOutput, RefusesDirectoriesAndMissingFolders) {
    test::TempDir dir;
    EXPECT_FALSE(StagedOutput::create(dir.path()));
    EXPECT_FALSE(StagedOutput::create(dir / "missing/out.dff"));
}

}  // namespace
}  // namespace dsd
