// The converters as users run them: exact output streams, exit status, and
// the bytes of every file involved.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "dff_expect.hpp"
#include "dsf_generator.hpp"
#include "file_io.hpp"
#include "test_support.hpp"

namespace dsd::test {
namespace {

const std::string convert = DSF_DFF_CONVERT;
const std::string dummy = DSF_DFF256_DUMMY;

const std::string convert_usage =
    "DSF To DFF Converter\nUsage: dsf-dff-convert <in_dsf_file> <out_dff_file>\n";
const std::string dummy_usage =
    "Dummy DSF64 Data To DFF256 Converter\nUsage: dsf-dff256-dummy <in_dsf_file> "
    "<out_dff_file>\n";

Bytes make(std::uint64_t samples, std::uint32_t bits = 1, std::uint32_t rate = 2822400) {
    testgen::DsfSpec spec;
    spec.sample_count = samples;
    spec.bits_per_sample = bits;
    spec.sampling_frequency = rate;
    return testgen::make_dsf(spec);
}

std::string info(const Bytes& dsf) {
    return "Sampling frequency <" + std::to_string(le(dsf, 56, 4)) + ">\nbit number <" +
           std::to_string(le(dsf, 60, 4)) + ">\nsample number <" + std::to_string(le(dsf, 64, 8)) +
           ">\nDSD Data size <" + std::to_string(le(dsf, 84, 8) - 12) + ">\n";
}

class Converter : public ::testing::Test {
  protected:
    RunResult run(const std::vector<std::string>& args, RunOptions options = {},
                  const std::string& program = convert) {
        options.cwd = dir.path();
        return run_program(program, args, options);
    }
    TempDir dir;
};

TEST_F(Converter, WrongArgumentCountsPrintTheUsage) {
    RunOptions named;
    named.argv0 = "dsf-dff-convert";
    for (const auto& args : {std::vector<std::string>{}, {"a.dsf", "b.dff", "c.dff"}}) {
        const auto r = run(args, named);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, convert_usage);
        EXPECT_EQ(r.err, "");
    }
    named.argv0 = "dsf-dff256-dummy";
    const auto r = run({}, named, dummy);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, dummy_usage);
    EXPECT_TRUE(dir.entries().empty());
}

TEST_F(Converter, NameErrorsCreateNothing) {
    write_file(dir / "in.dsf", make(64));
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"music"}, "Usage: Wrong filename. music\n"},
        {{""}, "Usage: Wrong filename. \n"},
        {{"music."}, "Usage: Input File extension is not 'dsf'. music.\n"},
        {{"in.Dsf"}, "Usage: Input File extension is not 'dsf'. in.Dsf\n"},
        {{"dir.old/music"}, "Usage: Input File extension is not 'dsf'. dir.old/music\n"},
        {{"in.dsf", "out"}, "Usage: Wrong filename. out\n"},
        {{"in.dsf", "out.wav"}, "Usage: Output File extension is not 'dff'. out.wav\n"},
        {{"in.dsf", "out.Dff"}, "Usage: Output File extension is not 'dff'. out.Dff\n"},
        {{"missing.dsf"}, "Usage: Can't open file. missing.dsf\n"},
        {{".dsf"}, "Usage: Can't open file. .dsf\n"},
        {{"."}, "Usage: Input File extension is not 'dsf'. .\n"},
    };
    for (const auto& [args, message] : cases) {
        const auto r = run(args);
        EXPECT_EQ(r.status, 1) << message;
        EXPECT_EQ(r.out, message);
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(dir.entries(), std::vector<std::string>{"in.dsf"});
    }
}

TEST_F(Converter, OutputNameFollowsTheInput) {
    const Bytes dsf = make(5000);
    for (const auto& [in, out] : {std::pair<std::string, std::string>{"in.dsf", "in.dff"},
                                  {"IN.DSF", "IN.dff"},
                                  {"a.b.DSF", "a.b.dff"},
                                  {".dsf", ".dff"}}) {
        write_file(dir / in, dsf);
        const auto r = run({in});
        EXPECT_EQ(r.status, 0) << in;
        EXPECT_EQ(r.out, info(dsf));
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(read_file(dir / out), expected_dff(dsf, 2822400));
        EXPECT_EQ(read_file(dir / in), dsf);
    }
    EXPECT_EQ(dir.entries().size(), 8u);
}

TEST_F(Converter, NamesOfAnyLength) {
    const std::string sub(250, 'd');
    std::filesystem::create_directories(dir / (sub + "/" + sub));
    const std::string stem = sub + "/" + sub + "/" + std::string(240, 'n');
    const Bytes dsf = make(100);
    write_file(dir / (stem + ".dsf"), dsf);
    const auto r = run({stem + ".dsf"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_file(dir / (stem + ".dff")), expected_dff(dsf, 2822400));
}

TEST_F(Converter, ConvertsManyBlocksByteForByte) {
    // Sample counts that are not multiples of 8 or of a block, and 8-bit input.
    const std::pair<std::uint64_t, std::uint32_t> cases[] = {
        {5 * 32768 + 13, 1}, {32768, 1}, {7, 1}, {3 * 32768 + 9, 8}, {1, 8}};
    for (const auto& [samples, bits] : cases) {
        const Bytes dsf = make(samples, bits, 5644800);
        write_file(dir / "in.dsf", dsf);
        const auto r = run({"in.dsf", "out.DFF"});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, info(dsf));
        EXPECT_EQ(read_file(dir / "out.DFF"), expected_dff(dsf, 5644800)) << samples;
    }
}

TEST_F(Converter, KeepsPositionsWhereBothChannelsAreZero) {
    Bytes dsf = make(3 * 32768);
    // Silence in both channels at the start of a block pair and inside one.
    for (const std::size_t at : {92u + 8192u, 92u + 8192u + 1u, 92u + 10u, 92u + 4095u}) {
        dsf[at] = 0;
        dsf[at + 4096] = 0;
    }
    write_file(dir / "z.dsf", dsf);
    const auto r = run({"z.dsf"});
    EXPECT_EQ(r.status, 0) << r.err;
    const Bytes out = read_file(dir / "z.dff");
    EXPECT_EQ(out, expected_dff(dsf, 2822400));
    EXPECT_EQ(out.size(), 130u + 3 * 8192);
}

TEST_F(Converter, EmptySoundGivesTheHeaderAlone) {
    const Bytes dsf = make(0);
    write_file(dir / "e.dsf", dsf);
    const auto r = run({"e.dsf"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, info(dsf));
    const Bytes out = read_file(dir / "e.dff");
    EXPECT_EQ(out.size(), 130u);
    EXPECT_EQ(out, expected_dff(dsf, 2822400));
}

TEST_F(Converter, HeaderErrorsCreateNothing) {
    struct Case {
        std::size_t at;
        std::uint64_t value;
        int width;
        std::string out;
        std::string err;
    };
    const Bytes dsf = make(100);
    const std::string three = "Sampling frequency <2822400>\nbit number <1>\nsample number <100>\n";
    const Case cases[] = {
        {0, 0x46464952, 4, "", "Not a 'DSF' format : RIFF\n"},
        {52, 1, 4, "", "Wrong numbers of channels : 1\n"},
        {52, 6, 4, "", "Wrong numbers of channels : 6\n"},
        {84, 11, 8, three, "Wrong data size : 11\n"},
        {72, 2048, 4, three, "Wrong block size : 2048\n"},
    };
    for (const auto& c : cases) {
        Bytes bad = dsf;
        put_le(bad, c.at, c.value, c.width);
        write_file(dir / "bad.dsf", bad);
        const auto r = run({"bad.dsf"});
        EXPECT_EQ(r.status, 1) << c.err;
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.err, c.err);
        EXPECT_EQ(dir.entries(), std::vector<std::string>{"bad.dsf"});
        EXPECT_EQ(read_file(dir / "bad.dsf"), bad);
    }
}

TEST_F(Converter, NonsenseHeadersAreRefusedBeforeAnyOutput) {
    struct Case {
        std::size_t at;
        std::uint64_t value;
        std::string out;
        std::string err;
    };
    const Bytes dsf = make(100);
    const std::string rate_line = "Sampling frequency <2822400>\n";
    const Case cases[] = {
        {56, 0, "", "Wrong sampling frequency : 0\n"},
        {60, 0, rate_line, "Wrong bit number : 0\n"},
        {60, 2, rate_line, "Wrong bit number : 2\n"},
        {60, 16, rate_line, "Wrong bit number : 16\n"},
        // Terminal escapes and other unprintable bytes are shown, not sent.
        {0, 0x4A325B1B, "", "Not a 'DSF' format : \\x1b[2J\n"},
        {0, 0x5C7F0944, "", "Not a 'DSF' format : D\\x09\\x7f\\\n"},
        {0, 0xFF204452, "", "Not a 'DSF' format : RD \\xff\n"},
    };
    for (const auto& c : cases) {
        Bytes bad = dsf;
        put_le(bad, c.at, c.value, 4);
        write_file(dir / "bad.dsf", bad);
        write_file(dir / "bad.dff", {'o', 'l', 'd'});
        const auto r = run({"bad.dsf"});
        EXPECT_EQ(r.status, 1) << c.err;
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.err, c.err);
        EXPECT_EQ(dir.entries(), (std::vector<std::string>{"bad.dff", "bad.dsf"}));
        EXPECT_EQ(read_file(dir / "bad.dff"), (Bytes{'o', 'l', 'd'}));
    }
}

TEST_F(Converter, SoundComesOnlyFromEachChannelsBlocksInsideTheChunk) {
    // The file holds three whole block pairs; the data chunk claims less.
    // Each case: the chunk's sound bytes, and the bytes per channel that the
    // right channel's blocks inside it hold.
    for (const auto& [data, per_channel] : {std::pair<std::uint64_t, std::uint64_t>{8280, 4096},
                                            {8192 + 4096 + 7, 4103},
                                            {2 * 8192 + 4095, 8192},
                                            {4096, 0}}) {
        Bytes dsf = make(3 * 32768);
        put_le(dsf, 84, 12 + data, 8);
        write_file(dir / "in.dsf", dsf);
        const auto r = run({"in.dsf"});
        EXPECT_EQ(r.status, 0) << data;
        EXPECT_EQ(r.err, "");
        const Bytes out = read_file(dir / "in.dff");
        EXPECT_EQ(out, expected_dff(dsf, 2822400)) << data;
        EXPECT_EQ(out.size(), 130 + 2 * per_channel) << data;
    }
    // A chunk ending inside a right block needs no bytes past its end.
    Bytes dsf = make(2 * 32768);
    put_le(dsf, 84, 12 + 8192 + 4096 + 10, 8);
    dsf.resize(92 + 8192 + 4096 + 10);
    write_file(dir / "in.dsf", dsf);
    const auto r = run({"in.dsf"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_file(dir / "in.dff"), expected_dff(dsf, 2822400));
}

TEST_F(Converter, TruncatedInputsAreReadErrors) {
    const Bytes dsf = make(2 * 32768);
    // Shorter than the identifier, ending before a field, inside the sound.
    for (const std::size_t length : {2u, 40u, 92u + 8192u + 100u}) {
        Bytes cut(dsf.begin(), dsf.begin() + static_cast<std::ptrdiff_t>(length));
        write_file(dir / "cut.dsf", cut);
        write_file(dir / "cut.dff", {'o', 'l', 'd'});
        const auto r = run({"cut.dsf"});
        EXPECT_EQ(r.status, 1);
        const std::size_t position = length == 40 ? 52 : length;
        EXPECT_EQ(r.err, " read error : " + std::to_string(position) + "\n");
        EXPECT_EQ(r.out, length > 92 ? info(dsf) : "");
        EXPECT_EQ(read_file(dir / "cut.dff"), (Bytes{'o', 'l', 'd'}));
        EXPECT_EQ(dir.entries(), (std::vector<std::string>{"cut.dff", "cut.dsf"}));
    }
}

// The input cut short by another program while the loop runs: stopped once
// the first chunk of sound is read (a file of data, and a sparse one), it
// loses its end. Both converters report a read error where the file now ends
// and leave no output.
TEST_F(Converter, InputShrinkingDuringTheConversionIsAReadError) {
    if (!tracing_available()) {
        GTEST_SKIP() << "needs ptrace of a natively run converter to stop it inside its loop";
    }
    const Bytes dsf = make(64 * 32768);
    for (const bool sparse : {false, true}) {
        for (const auto& program : {convert, dummy}) {
            if (sparse) {
                write_file(dir / "in.dsf", Bytes(dsf.begin(), dsf.begin() + 92));
                ASSERT_EQ(::truncate((dir / "in.dsf").c_str(), static_cast<off_t>(dsf.size())), 0);
            } else {
                write_file(dir / "in.dsf", dsf);
            }
            const std::uint64_t cut = 92 + 40 * 8192 + 100;
            RunOptions options;
            options.stop_after_syscall = is_large_pread;
            options.while_stopped = [&] {
                ASSERT_EQ(::truncate((dir / "in.dsf").c_str(), static_cast<off_t>(cut)), 0);
            };
            const auto r = run({"in.dsf"}, options, program);
            EXPECT_TRUE(r.stopped) << sparse;
            EXPECT_EQ(r.status, 1) << sparse;
            EXPECT_EQ(r.out, info(dsf));
            EXPECT_EQ(r.err, " read error : " + std::to_string(cut) + "\n");
            EXPECT_EQ(dir.entries(), std::vector<std::string>{"in.dsf"});
        }
    }
}

TEST_F(Converter, MissingOutputDirectoryIsReportedAfterTheHeader) {
    const Bytes dsf = make(100);
    write_file(dir / "in.dsf", dsf);
    const auto r = run({"in.dsf", "missing/out.dff"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, info(dsf));
    EXPECT_EQ(r.err, " cannot open file : missing/out.dff\n");
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"in.dsf"});
}

TEST_F(Converter, ReadOnlyInputConverts) {
    const Bytes dsf = make(40000);
    write_file(dir / "ro.dsf", dsf);
    ::chmod((dir / "ro.dsf").c_str(), 0444);
    RunOptions user;
    user.run_as = unprivileged_uid();
    const auto r = run({"ro.dsf"}, user);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, info(dsf));
    EXPECT_EQ(read_file(dir / "ro.dff"), expected_dff(dsf, 2822400));
    EXPECT_EQ(read_file(dir / "ro.dsf"), dsf);
}

TEST_F(Converter, DirectoryInputCannotBeOpened) {
    std::filesystem::create_directory(dir / "d.dsf");
    const auto r = run({"d.dsf"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "Usage: Can't open file. d.dsf\n");
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"d.dsf"});
}

TEST_F(Converter, UnreadableInputAndUnwritableOutputAreRefused) {
    const Bytes dsf = make(100);
    write_file(dir / "in.dsf", dsf);
    write_file(dir / "locked.dsf", dsf);
    ::chmod((dir / "locked.dsf").c_str(), 0200);
    write_file(dir / "kept.dff", {1, 2, 3});
    ::chmod((dir / "kept.dff").c_str(), 0444);
    RunOptions user;
    user.run_as = unprivileged_uid();

    auto r = run({"locked.dsf"}, user);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "Usage: Can't open file. locked.dsf\n");
    EXPECT_EQ(r.err, "");

    r = run({"in.dsf", "kept.dff"}, user);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, info(dsf));
    EXPECT_EQ(r.err, " cannot open file : kept.dff\n");
    EXPECT_EQ(read_file(dir / "kept.dff"), (Bytes{1, 2, 3}));
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"in.dsf", "kept.dff", "locked.dsf"}));
}

TEST_F(Converter, WriteFailureLeavesNothingBehind) {
    const Bytes dsf = make(10 * 32768);
    write_file(dir / "in.dsf", dsf);
    const Bytes earlier = expected_dff(make(100), 2822400);
    for (const bool ignore : {true, false}) {
        write_file(dir / "in.dff", earlier);
        RunOptions limited;
        limited.file_size_limit = 50000;
        limited.ignore_sigxfsz = ignore;
        const auto r = run({"in.dsf"}, limited);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, info(dsf));
        EXPECT_EQ(r.err, " write error : 50000\n");
        EXPECT_EQ(read_file(dir / "in.dff"), earlier);
        EXPECT_EQ(dir.entries(), (std::vector<std::string>{"in.dff", "in.dsf"}));
    }
}

TEST_F(Converter, OutputGetsTheUmaskPermissions) {
    write_file(dir / "in.dsf", make(100));
    write_file(dir / "in.dff", {});
    ::chmod((dir / "in.dff").c_str(), 0600);
    RunOptions masked;
    masked.umask = 027;
    ASSERT_EQ(run({"in.dsf"}, masked).status, 0);
    struct stat st {};
    ASSERT_EQ(::stat((dir / "in.dff").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
}

TEST_F(Converter, OutputThroughASymlinkReplacesItsTarget) {
    const Bytes dsf = make(100);
    write_file(dir / "in.dsf", dsf);
    write_file(dir / "real.dff", {});
    ASSERT_EQ(::symlink("real.dff", (dir / "link.dff").c_str()), 0);
    ASSERT_EQ(run({"in.dsf", "link.dff"}).status, 0);
    EXPECT_EQ(read_file(dir / "real.dff"), expected_dff(dsf, 2822400));
    EXPECT_TRUE(std::filesystem::is_symlink(dir / "link.dff"));
}

TEST_F(Converter, FixedRateVariantOnlyChangesTheRateField) {
    for (const std::uint32_t rate : {2822400u, 5644800u}) {
        const Bytes dsf = make(2 * 32768 + 3, 1, rate);
        write_file(dir / "in.dsf", dsf);
        auto r = run({"in.dsf", "d.dff"}, {}, dummy);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, info(dsf));  // the input's own rate
        const Bytes out = read_file(dir / "d.dff");
        EXPECT_EQ(out, expected_dff(dsf, 11289600));
        EXPECT_EQ(Bytes(out.begin() + 60, out.begin() + 64), (Bytes{0x00, 0xAC, 0x44, 0x00}));
        ASSERT_EQ(run({"in.dsf", "c.dff"}).status, 0);
        Bytes same = read_file(dir / "c.dff");
        put_be(same, 60, 11289600, 4);
        EXPECT_EQ(out, same);
    }
}

Bytes make_tagged(const Bytes& tag, std::uint64_t samples = 3 * 32768 + 5) {
    testgen::DsfSpec spec;
    spec.sample_count = samples;
    spec.id3_tag = tag;
    return testgen::make_dsf(spec);
}

TEST_F(Converter, TagsAreCopiedAsTheyStand) {
    const Bytes even = testgen::make_id3v2_tag("Even title", 3, 64);
    const Bytes odd_with_footer = testgen::make_id3v2_tag("Odd title", 4, 77, true);
    for (const auto& tag : {even, odd_with_footer}) {
        const Bytes dsf = make_tagged(tag);
        write_file(dir / "t.dsf", dsf);
        for (const auto& [program, rate] :
             {std::pair<std::string, std::uint32_t>{convert, 2822400}, {dummy, 11289600}}) {
            const auto r = run({"t.dsf"}, {}, program);
            EXPECT_EQ(r.status, 0) << r.err;
            EXPECT_EQ(r.out, info(dsf));
            EXPECT_EQ(r.err, "");
            EXPECT_EQ(read_file(dir / "t.dff"), expected_dff(dsf, rate, tag)) << tag.size();
        }
        EXPECT_EQ(read_file(dir / "t.dsf"), dsf);
    }
}

TEST_F(Converter, UnusableTagPointersAreIgnored) {
    const Bytes tag = testgen::make_id3v2_tag("Title", 3, 40);
    const Bytes tagged = make_tagged(tag);
    const std::uint64_t pointer = le(tagged, 20, 8);
    std::vector<Bytes> inputs;
    inputs.push_back(tagged);
    put_le(inputs.back(), 20, 0, 8);  // no tag
    inputs.push_back(tagged);
    put_le(inputs.back(), 20, tagged.size(), 8);  // past the end
    inputs.push_back(tagged);
    put_le(inputs.back(), 20, 92, 8);  // sound, not a tag
    inputs.push_back(tagged);
    inputs.back().pop_back();  // the tag runs past the end
    inputs.push_back(tagged);
    inputs.back()[pointer + 9] = 0x7F;  // its size says so too
    for (const auto& dsf : inputs) {
        write_file(dir / "t.dsf", dsf);
        const auto r = run({"t.dsf"});
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, info(dsf));
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(read_file(dir / "t.dff"), expected_dff(dsf, 2822400));
    }
}

// An independent reader of DSDIFF tags, where the machine has one.
TEST_F(Converter, TagReaderSeesTheSameTitle) {
    const auto python = python_with_mutagen();
    if (!python) {
        GTEST_SKIP() << "needs Python's mutagen (Debian package python3-mutagen)";
    }
    const Bytes tag = testgen::make_id3v2_tag("Ein Titel", 4, 61);
    write_file(dir / "t.dsf", make_tagged(tag));
    ASSERT_EQ(run({"t.dsf"}).status, 0);
    const auto r = run_program(
        *python,
        {"-c",
         "import sys, mutagen\n"
         "for name in sys.argv[1:]:\n"
         "    f = mutagen.File(name)\n"
         "    print(type(f).__name__, f.info.channels, f.info.sample_rate, f.tags['TIT2'])\n",
         dir / "t.dsf", dir / "t.dff"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "DSF 2 2822400 Ein Titel\nDSDIFF 2 2822400 Ein Titel\n");
}

// Sound data past 4 GiB: both size fields and the sample count need all 64
// bits, and on a 32-bit system every offset past 2 GiB does too. The input
// is sparse; the output is written in full.
TEST(ConverterLarge, SoundBeyondFourGigabytes) {
    static_assert(sizeof(off_t) == 8, "the test's own offsets must be 64-bit");
    const std::uint64_t per_channel = (1ull << 31) + 4096;  // 2^19 + 1 block pairs
    const std::uint64_t pairs = per_channel / 4096;
    const std::uint64_t in_size = 92 + pairs * 8192;
    const std::uint64_t out_size = 130 + 2 * per_channel;
    TempDir dir;
    struct statvfs fs {};
    ASSERT_EQ(::statvfs(dir.path().c_str(), &fs), 0);
    if (static_cast<std::uint64_t>(fs.f_bavail) * fs.f_frsize < out_size + (64u << 20)) {
        GTEST_SKIP() << "needs " << (out_size >> 20) << " MiB free under " << dir.path();
    }
    const std::string in = dir / "large.dsf";
    const std::string out = dir / "large.dff";
    Bytes header = make(0);
    put_le(header, 64, per_channel * 8, 8);
    put_le(header, 84, 12 + pairs * 8192, 8);
    write_file(in, header);
    if (::truncate(in.c_str(), static_cast<off_t>(in_size)) != 0) {
        GTEST_SKIP() << "the file system under " << dir.path() << " cannot hold a sparse file of "
                     << in_size << " bytes: " << std::strerror(errno);
    }
    {
        // Mark the last pair so its place in the output can be checked.
        FileHandle f(::open(in.c_str(), O_WRONLY));
        const std::uint8_t left = 0x01;
        const std::uint8_t right = 0x03;
        const auto last_pair = static_cast<off_t>(in_size - 8192);
        ASSERT_EQ(::pwrite(f.get(), &left, 1, last_pair), 1);
        ASSERT_EQ(::pwrite(f.get(), &right, 1, last_pair + 4096), 1);
    }
    const auto r = run_program(convert, {in, out});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "Sampling frequency <2822400>\nbit number <1>\nsample number <" +
                         std::to_string(per_channel * 8) + ">\nDSD Data size <" +
                         std::to_string(pairs * 8192) + ">\n");
    struct stat st {};
    ASSERT_EQ(::stat(out.c_str(), &st), 0);
    EXPECT_EQ(static_cast<std::uint64_t>(st.st_size), out_size);
    FileHandle f(::open(out.c_str(), O_RDONLY));
    Bytes head(130);
    ASSERT_EQ(::pread(f.get(), head.data(), head.size(), 0), 130);
    Bytes expected_sizes(8);
    put_be(expected_sizes, 0, 118 + 2 * per_channel, 8);
    EXPECT_EQ(Bytes(head.begin() + 4, head.begin() + 12), expected_sizes);
    put_be(expected_sizes, 0, 2 * per_channel, 8);
    EXPECT_EQ(Bytes(head.begin() + 122, head.end()), expected_sizes);
    // The last pair's first byte of each channel, bit-reversed, then nothing
    // but zeros to the end.
    Bytes tail(2 * 4096);
    ASSERT_EQ(::pread(f.get(), tail.data(), tail.size(), static_cast<off_t>(out_size - 8192)),
              8192);
    Bytes expected_tail(8192);
    expected_tail[0] = 0x80;
    expected_tail[1] = 0xC0;
    EXPECT_EQ(tail, expected_tail);
}

// A read error past 2 GiB names its position in full: on a 32-bit system
// the position needs more than a long. The data chunk claims a block pair
// more than the sparse file holds, so the read stops at the end of the file.
TEST(ConverterLarge, ReadErrorPastTwoGigabytesGivesItsPosition) {
    const std::uint64_t pairs = (1ull << 18) + 1;  // 2 GiB + 8 KiB of sound
    const std::uint64_t in_size = 92 + (pairs - 1) * 8192 + 4096 + 100;
    TempDir dir;
    struct statvfs fs {};
    ASSERT_EQ(::statvfs(dir.path().c_str(), &fs), 0);
    // The output is staged in full before the error ends the run.
    if (static_cast<std::uint64_t>(fs.f_bavail) * fs.f_frsize < in_size + (64u << 20)) {
        GTEST_SKIP() << "needs " << (in_size >> 20) << " MiB free under " << dir.path();
    }
    const std::string in = dir / "cut.dsf";
    Bytes header = make(0);
    put_le(header, 64, pairs * 4096 * 8, 8);
    put_le(header, 84, 12 + pairs * 8192, 8);
    write_file(in, header);
    if (::truncate(in.c_str(), static_cast<off_t>(in_size)) != 0) {
        GTEST_SKIP() << "the file system under " << dir.path() << " cannot hold a sparse file of "
                     << in_size << " bytes: " << std::strerror(errno);
    }
    const auto r = run_program(convert, {in});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, " read error : " + std::to_string(in_size) + "\n");
    EXPECT_EQ(r.out, "Sampling frequency <2822400>\nbit number <1>\nsample number <" +
                         std::to_string(pairs * 4096 * 8) + ">\nDSD Data size <" +
                         std::to_string(pairs * 8192) + ">\n");
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"cut.dsf"}));
}

}  // namespace
}  // namespace dsd::test
