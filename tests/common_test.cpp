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

// Columns a terminal gives the characters these tests use: two for CJK
// and fullwidth ones and emoji, none for combining accents. Zero for text
// that is no valid UTF-8: a line never cuts a character.
std::size_t columns(const std::string& text) {
    std::size_t total = 0;
    for (std::size_t at = 0; at < text.size();) {
        const auto lead = static_cast<unsigned char>(text[at]);
        const std::size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        if ((lead & 0xC0) == 0x80 || at + length > text.size()) {
            return 0;
        }
        char32_t code = length == 1 ? lead : lead & (0x7Fu >> length);
        for (std::size_t i = 1; i < length; ++i) {
            const auto byte = static_cast<unsigned char>(text[at + i]);
            if ((byte & 0xC0) != 0x80) {
                return 0;
            }
            code = code << 6 | (byte & 0x3Fu);
        }
        at += length;
        const bool wide =
            (code >= 0x3040 && code <= 0x9FFF) || (code >= 0xAC00 && code <= 0xD7A3) ||
            (code >= 0xFF01 && code <= 0xFF60) || (code >= 0x1F300 && code <= 0x1F64F);
        total += wide ? 2 : code >= 0x300 && code <= 0x36F ? 0 : 1;
    }
    return total;
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

// East Asian wide characters take two columns, combining accents none: the
// line still fits, cut between characters, with its numbers whole.
TEST(ProgressLine, CountsWideAndCombiningCharactersAsTheTerminalShowsThem) {
    // 16 columns, 28 bytes; the numbers take 23.
    const std::string symphony = "交響曲第九番.dsf";
    EXPECT_EQ(file_progress_line(symphony, 1, 1, 1, 2, 1.0, 40),
              "交響曲第九番.dsf  50%  1 B/s  0:01 left");
    EXPECT_EQ(file_progress_line(symphony, 1, 1, 1, 2, 1.0, 39),
              "...曲第九番.dsf  50%  1 B/s  0:01 left");
    EXPECT_EQ(file_progress_line(symphony, 1, 1, 1, 2, 1.0, 38),
              "...第九番.dsf  50%  1 B/s  0:01 left");
    EXPECT_EQ(file_progress_line(symphony, 1, 1, 1, 2, 1.0, 20), "交響曲第九番.dsf  5");
    EXPECT_EQ(file_progress_line(symphony, 1, 1, 1, 2, 1.0, 8), "交響曲");
    // 13 columns: "Motörhead" with its "ö" as "o" and a combining diaeresis,
    // which goes with its letter when that is cut off.
    const std::string band = "Moto\xcc\x88rhead.dsf";
    EXPECT_EQ(file_progress_line(band, 1, 1, 1, 2, 1.0, 37), band + "  50%  1 B/s  0:01 left");
    EXPECT_EQ(file_progress_line(band, 1, 1, 1, 2, 1.0, 36), "...rhead.dsf  50%  1 B/s  0:01 left");
    // Emoji, wide symbols and kana beyond the first plane: two each.
    const std::string wide = "\U0001F680\u26A1\U0001B001.dsf";
    EXPECT_EQ(file_progress_line(wide, 1, 1, 1, 2, 1.0, 34), wide + "  50%  1 B/s  0:01 left");
    EXPECT_EQ(file_progress_line(wide, 1, 1, 1, 2, 1.0, 33),
              "...\U0001B001.dsf  50%  1 B/s  0:01 left");
    // Bytes that are no UTF-8 take a column each.
    EXPECT_EQ(file_progress_line("abcd\xe6\xbc.dsf", 1, 1, 1, 2, 1.0, 34),
              "abcd\xe6\xbc.dsf  50%  1 B/s  0:01 left");
    EXPECT_EQ(file_progress_line("abcd\xe6\xbc.dsf", 1, 1, 1, 2, 1.0, 33),
              "...\xe6\xbc.dsf  50%  1 B/s  0:01 left");

    const std::string names[] = {
        "音楽/ベートーヴェン/" + symphony,
        "Artist/앨범 Album/０１ Ｔｒａｃｋ 🎵 " + band,
        "Karajan/Beethoven 第九/01 Allegro ma non troppo, un poco maestoso.dsf",
    };
    for (const auto& name : names) {
        const auto whole = file_progress_line(name, 2, 12, 1, 2, 1.0, 300);
        EXPECT_EQ(whole, "2/12 " + name + "  50%  1 B/s  0:01 left");
        for (std::size_t width = 0; width <= columns(whole) + 1; ++width) {
            const auto line = file_progress_line(name, 2, 12, 1, 2, 1.0, width);
            EXPECT_LT(columns(line), std::max<std::size_t>(width, 1)) << width << ": " << line;
            EXPECT_TRUE(line.empty() || columns(line) > 0) << width << ": " << line;
            if (width >= 5 + 23 + 8 + 1) {
                EXPECT_EQ(line.rfind("2/12 ", 0), 0u) << line;
                EXPECT_TRUE(line.ends_with(".dsf  50%  1 B/s  0:01 left")) << line;
            }
        }
    }
    for (std::size_t width = 0; width <= 80; ++width) {
        EXPECT_LT(columns(batch_progress_line(3, 1, 12, 1'500'000, 5'250'000'000, 1.0, width)),
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
