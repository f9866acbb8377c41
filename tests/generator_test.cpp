// dsf-gen, the generator the quick start, the benchmark and the fuzzing seeds
// use: its help, its refusals, and tags that readers show as they were given.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "dsf_generator.hpp"
#include "test_support.hpp"

namespace dsd::test {
namespace {

const std::string dsf_gen = DSF_GEN;

RunResult generate(const TempDir& dir, const std::vector<std::string>& args) {
    RunOptions options;
    options.cwd = dir.path();
    options.argv0 = "/some/where/dsf-gen";
    return run_program(dsf_gen, args, options);
}

TEST(DsfGen, HelpPrintsTheUsageAndExitsZero) {
    TempDir dir;
    for (const std::string option : {"--help", "-h"}) {
        const auto r = generate(dir, {option});
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.out.rfind("Usage: dsf-gen [--rate HZ]", 0), 0u) << r.out;
        for (const std::string name : {"--rate", "--bits", "--samples", "--left", "--right",
                                       "--amplitude", "--title", "--artist", "--id3-version"}) {
            EXPECT_NE(r.out.find("\n  " + name + " "), std::string::npos) << name;
        }
        std::istringstream lines(r.out);
        for (std::string line; std::getline(lines, line);) {
            EXPECT_LE(line.size(), 80u) << line;
        }
    }
    // Wherever it stands, and before anything is written.
    const auto late = generate(dir, {"--rate", "5644800", "out.dsf", "--help"});
    EXPECT_EQ(late.status, 0);
    EXPECT_TRUE(dir.entries().empty());
}

TEST(DsfGen, RefusesWhatItCannotWrite) {
    const std::vector<std::vector<std::string>> wrong{
        {"--rate", "0", "out.dsf"},
        {"--rate", "4294967296", "out.dsf"},
        {"--rate", "2822400x", "out.dsf"},
        {"--bits", "2", "out.dsf"},
        {"--samples", "-1", "out.dsf"},
        {"--left", "nan", "out.dsf"},
        {"--amplitude", "1.5", "out.dsf"},
        {"--id3-version", "2", "out.dsf"},
        {"--title", "\xC3", "out.dsf"},          // cut short
        {"--artist", "\xC0\xAF", "out.dsf"},     // overlong
        {"--title", "\xED\xA0\x80", "out.dsf"},  // a surrogate
        {"--rate"},
        {"--colour", "red", "out.dsf"},
        {"a.dsf", "b.dsf"},
        {},
    };
    for (const auto& args : wrong) {
        TempDir dir;
        const auto r = generate(dir, args);
        EXPECT_EQ(r.status, 2) << testing::PrintToString(args);
        EXPECT_EQ(r.out, "");
        EXPECT_NE(r.err.find("Usage: dsf-gen "), std::string::npos) << r.err;
        EXPECT_TRUE(dir.entries().empty()) << testing::PrintToString(args);
    }
}

TEST(DsfGen, WritesWhatItsLibraryBuilds) {
    TempDir dir;
    const auto r = generate(dir, {"--rate", "5644800", "--bits", "8", "--samples", "70001",
                                  "--title", "Tëst", "--artist", "交響曲", "out.dsf"});
    ASSERT_EQ(r.status, 0) << r.err;
    testgen::DsfSpec spec;
    spec.sampling_frequency = 5644800;
    spec.bits_per_sample = 8;
    spec.sample_count = 70001;
    spec.id3_tag = testgen::make_id3v2_tag("Tëst", 3, std::nullopt, false, "交響曲");
    EXPECT_EQ(read_file(dir / "out.dsf"), testgen::make_dsf(spec));
    // Without --samples: one second at the rate given.
    ASSERT_EQ(generate(dir, {"--rate", "44100", "second.dsf"}).status, 0);
    spec = {};
    spec.sampling_frequency = 44100;
    spec.sample_count = 44100;
    EXPECT_EQ(read_file(dir / "second.dsf"), testgen::make_dsf(spec));
}

// Readers show a title and an artist given in UTF-8 as they were given, in
// both tag versions: ID3v2.3 has no UTF-8, only Latin-1 and UTF-16.
TEST(DsfGen, ReadersShowUtf8TagsAsGiven) {
    const std::string title = "Tëst: 交響曲 第9番 🎻";
    const std::string artist = "Dvořák";
    TempDir dir;
    for (const std::string version : {"3", "4"}) {
        const auto r = generate(dir, {"--samples", "4096", "--id3-version", version, "--title",
                                      title, "--artist", artist, "v" + version + ".dsf"});
        ASSERT_EQ(r.status, 0) << r.err;
    }
    // ASCII stays Latin-1 in ID3v2.3, as before.
    ASSERT_EQ(generate(dir, {"--samples", "4096", "--title", "Plain", "plain.dsf"}).status, 0);
    const Bytes plain = read_file(dir / "plain.dsf");
    const Bytes frame{'T', 'I', 'T', '2', 0, 0, 0, 6, 0, 0, 0, 'P', 'l', 'a', 'i', 'n'};
    EXPECT_NE(std::search(plain.begin(), plain.end(), frame.begin(), frame.end()), plain.end());

    bool any_reader = false;
    if (const auto python = python_with_mutagen()) {
        any_reader = true;
        for (const std::string version : {"3", "4"}) {
            const auto r = run_program(
                *python, {"-c",
                          "import sys, mutagen\n"
                          "sys.stdout.reconfigure(encoding='utf-8')\n"
                          "f = mutagen.File(sys.argv[1])\n"
                          "print(f.tags['TIT2'].text[0]); print(f.tags['TPE1'].text[0])\n",
                          dir / ("v" + version + ".dsf")});
            EXPECT_EQ(r.status, 0) << r.err;
            EXPECT_EQ(r.out, title + "\n" + artist + "\n") << "ID3v2." << version;
        }
    }
    if (const auto ffprobe = find_on_path("ffprobe")) {
        any_reader = true;
        for (const std::string version : {"3", "4"}) {
            const auto r = run_program(
                *ffprobe, {"-v", "error", "-show_entries", "format_tags=title,artist", "-of",
                           "default=noprint_wrappers=1", dir / ("v" + version + ".dsf")});
            EXPECT_EQ(r.status, 0) << r.err;
            EXPECT_EQ(r.out, "TAG:title=" + title + "\nTAG:artist=" + artist + "\n")
                << "ID3v2." << version;
        }
    }
    if (!any_reader) {
        GTEST_SKIP() << "no tag reader is installed (Debian packages python3-mutagen, ffmpeg)";
    }
}

}  // namespace
}  // namespace dsd::test
