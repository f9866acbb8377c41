// The four rate rewriters run as programs on real files: exact output, exit
// status and the bytes of every file afterwards.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <array>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "dff_builder.hpp"
#include "test_support.hpp"
#include "wav_builder.hpp"

namespace dsd::test {
namespace {

const std::string dff64 = DFF_RATE_SET_64;
const std::string dff128 = DFF_RATE_SET_128;
const std::string dff256 = DFF_RATE_SET_256;
const std::string wav_rate_set = WAV_RATE_SET;

// Not one of the three targets, so every DFF tool has to change it.
constexpr std::uint32_t dsd512 = 22579200;

Bytes dff_at(std::uint32_t rate) {
    return testgen::converter_dff_file(rate, testgen::pattern_bytes(256));
}

Bytes with_bytes(Bytes b, std::size_t offset, std::initializer_list<std::uint8_t> values) {
    std::copy(values.begin(), values.end(), b.begin() + static_cast<std::ptrdiff_t>(offset));
    return b;
}

RunResult run_in(const TempDir& dir, const std::string& program,
                 const std::vector<std::string>& args, RunOptions options = {}) {
    options.cwd = dir.path();
    return run_program(program, args, options);
}

constexpr std::int64_t old_time = 1000000000;  // 2001-09-09

void set_old_mtime(const std::string& path) {
    const std::array<timespec, 2> times{timespec{old_time, 0}, timespec{old_time, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times.data(), 0), 0);
}

std::int64_t mtime_of(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0);
    return st.st_mtim.tv_sec;
}

// --- Command line ------------------------------------------------------------

TEST(RateCommandLine, NoNamesPrintsUsageWithTheInvocationName) {
    for (const auto* program : {&dff64, &dff128, &dff256, &wav_rate_set}) {
        RunOptions options;
        options.argv0 = "some-tool";
        const auto r = run_program(*program, {}, options);
        EXPECT_EQ(r.status, 255) << *program;
        EXPECT_EQ(r.out, "Change sampling rate\nUsage: some-tool <diff_file1> <diff_file2>.... \n");
        EXPECT_EQ(r.err, "");
    }
}

TEST(RateCommandLine, EveryNameIsHandledInOrderAndAnyRejectionGivesOne) {
    TempDir dir;
    for (const char* name : {"a.dff", "b.txt", "d.DFF"}) {
        write_file(dir / name, dff_at(2822400));
    }
    const auto r = run_in(dir, dff128, {"a.dff", "b.txt", "d.DFF"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "Usage: File extension is not 'dff'. b.txt\n");
    EXPECT_EQ(r.err, "");
    const Bytes relabelled = with_bytes(dff_at(2822400), 60, {0x00, 0x56, 0x22, 0x00});
    EXPECT_EQ(read_file(dir / "a.dff"), relabelled);
    EXPECT_EQ(read_file(dir / "d.DFF"), relabelled);
    EXPECT_EQ(read_file(dir / "b.txt"), dff_at(2822400));
}

TEST(RateCommandLine, EmptyNamesAndNamesWithoutADotAreWrongFilenames) {
    TempDir dir;
    write_file(dir / "a.dff", dff_at(dsd512));
    const auto r = run_in(dir, dff64, {"", "track", "a.dff", "x.Dff", "music."});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out,
              "Usage: Wrong filename. \n"
              "Usage: Wrong filename. track\n"
              "Usage: File extension is not 'dff'. x.Dff\n"
              "Usage: File extension is not 'dff'. music.\n");
    EXPECT_EQ(read_file(dir / "a.dff"), with_bytes(dff_at(dsd512), 60, {0x00, 0x2B, 0x11, 0x00}));
}

TEST(RateCommandLine, AllFilesRewrittenIsSilentSuccess) {
    TempDir dir;
    write_file(dir / "a.dff", dff_at(dsd512));
    write_file(dir / "b.DFF", dff_at(2822400));
    const auto r = run_in(dir, dff256, {"a.dff", "b.DFF", "a.dff"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");
}

TEST(RateCommandLine, MissingFilesAndDirectoriesCannotBeOpened) {
    TempDir dir;
    ASSERT_EQ(::mkdir((dir / "folder.dff").c_str(), 0755), 0);
    const auto r = run_in(dir, dff64, {"missing.dff", "folder.dff"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "Usage: Can't open file. missing.dff\nUsage: Can't open file. folder.dff\n");
    EXPECT_FALSE(file_exists(dir / "missing.dff"));
}

TEST(RateCommandLine, ReadOnlyFileCannotBeOpenedForUpdate) {
    TempDir dir;
    write_file(dir / "ro.dff", dff_at(dsd512));
    write_file(dir / "rw.dff", dff_at(dsd512));
    // Root may write any file, so the case runs as an ordinary user that
    // owns both files.
    RunOptions options;
    if (::geteuid() == 0) {
        options.run_as = unprivileged_uid();
        ASSERT_EQ(::chown((dir / "ro.dff").c_str(), *options.run_as, static_cast<gid_t>(-1)), 0);
        ASSERT_EQ(::chown((dir / "rw.dff").c_str(), *options.run_as, static_cast<gid_t>(-1)), 0);
    }
    ASSERT_EQ(::chmod((dir / "ro.dff").c_str(), 0444), 0);
    const auto r = run_in(dir, dff128, {"ro.dff", "rw.dff"}, options);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "Usage: Can't open file. ro.dff\n");
    EXPECT_EQ(read_file(dir / "ro.dff"), dff_at(dsd512));
    EXPECT_EQ(read_file(dir / "rw.dff"), with_bytes(dff_at(dsd512), 60, {0x00, 0x56, 0x22, 0x00}));
}

TEST(RateCommandLine, ReadOnlyFileAtTheTargetIsASuccess) {
    TempDir dir;
    const Bytes at_target = dff_at(5644800);
    const Bytes wav = testgen::canonical_wav({1, 2, 44100, 16}, testgen::pattern_bytes(40));
    write_file(dir / "ro.dff", at_target);
    write_file(dir / "ro.wav", wav);
    for (const auto& name : {"ro.dff", "ro.wav"}) {
        ASSERT_EQ(::chmod((dir / name).c_str(), 0444), 0);
    }
    RunOptions user;
    user.run_as = unprivileged_uid();
    auto r = run_in(dir, dff128, {"ro.dff"}, user);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(read_file(dir / "ro.dff"), at_target);
    r = run_in(dir, wav_rate_set, {"ro.wav"}, user);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(read_file(dir / "ro.wav"), wav);
}

TEST(RateCommandLine, FifosAndDevicesAreNeverOpened) {
    TempDir dir;
    ASSERT_EQ(::mkfifo((dir / "x.dff").c_str(), 0666), 0);
    ASSERT_EQ(::mkfifo((dir / "x.wav").c_str(), 0666), 0);
    ASSERT_EQ(::symlink("/dev/zero", (dir / "a.wav").c_str()), 0);
    ASSERT_EQ(::symlink("/dev/null", (dir / "a.dff").c_str()), 0);
    auto r = run_in(dir, dff64, {"x.dff", "a.dff"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "Usage: Can't open file. x.dff\nUsage: Can't open file. a.dff\n");
    r = run_in(dir, wav_rate_set, {"x.wav", "a.wav"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "Usage: Can't open file. x.wav\nUsage: Can't open file. a.wav\n");
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"a.dff", "a.wav", "x.dff", "x.wav"}));
}

// Built piece by piece: GCC 12 on some targets warns falsely (-Wrestrict)
// about a literal prepended to a temporary string.
std::string numbered(std::string_view stem, int i, std::string_view extension) {
    std::string name(stem);
    name += std::to_string(i);
    name += extension;
    return name;
}

TEST(RateCommandLine, ClosedPipeOrFullDeviceNeverStopsTheBatch) {
    RunOptions closed;
    closed.stdout_closed_pipe = true;
    RunOptions full;
    full.stdout_path = "/dev/full";
    for (const auto& options : {closed, full}) {
        TempDir dir;
        std::vector<std::string> names;
        for (int i = 0; i < 40; ++i) {
            names.push_back(numbered("bad", i, ".txt"));
            names.push_back(numbered("good", i, ".dff"));
            write_file(dir / names.back(), dff_at(dsd512));
        }
        auto r = run_in(dir, dff64, names, options);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, "");
        for (int i = 0; i < 40; ++i) {
            EXPECT_EQ(read_file(dir / numbered("good", i, ".dff")), dff_at(2822400)) << i;
        }
        // Nothing failed: nothing to print, and success.
        r = run_in(dir, dff128, {"good0.dff", "good39.dff"}, options);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(read_file(dir / "good39.dff"), dff_at(5644800));
    }
}

TEST(RateCommandLine, NamesOfAnyLengthArePrintedAndOpenedWhole) {
    TempDir dir;
    const std::string long_name(5000, 'n');
    // A '%' in a name is text, not a format.
    const auto r = run_in(dir, dff64, {long_name + ".txt", "100%s%d.dff"});
    EXPECT_EQ(r.out, "Usage: File extension is not 'dff'. " + long_name +
                         ".txt\nUsage: Can't open file. 100%s%d.dff\n");

    // A real file whose path is far longer than 260 bytes.
    std::string path = dir.path();
    for (char c : {'a', 'b', 'c'}) {
        path += "/" + std::string(200, c);
        ASSERT_EQ(::mkdir(path.c_str(), 0755), 0);
    }
    path += "/" + std::string(200, 'd') + ".dff";
    write_file(path, dff_at(dsd512));
    const auto deep = run_program(dff256, {path});
    EXPECT_EQ(deep.status, 0);
    EXPECT_EQ(deep.out, "");
    EXPECT_EQ(read_file(path), with_bytes(dff_at(dsd512), 60, {0x00, 0xAC, 0x44, 0x00}));
}

// --- DFF rewrite ---------------------------------------------------------------

TEST(DffRateSet, EachToolChangesOnlyTheRateBytes) {
    const std::array<std::pair<const std::string*, std::array<std::uint8_t, 4>>, 3> tools{{
        {&dff64, {0x00, 0x2B, 0x11, 0x00}},
        {&dff128, {0x00, 0x56, 0x22, 0x00}},
        {&dff256, {0x00, 0xAC, 0x44, 0x00}},
    }};
    for (const auto& [program, rate] : tools) {
        TempDir dir;
        const Bytes before = dff_at(dsd512);
        write_file(dir / "take.dff", before);
        const auto r = run_in(dir, *program, {"take.dff"});
        EXPECT_EQ(r.status, 0) << *program;
        EXPECT_EQ(r.out, "");
        const Bytes after = read_file(dir / "take.dff");
        ASSERT_EQ(after.size(), before.size());
        for (std::size_t i = 0; i < after.size(); ++i) {
            const std::uint8_t expected = i >= 60 && i < 64 ? rate[i - 60] : before[i];
            EXPECT_EQ(after[i], expected) << *program << " byte " << i;
        }
    }
}

TEST(DffRateSet, FileAlreadyAtTheTargetIsNotWritten) {
    TempDir dir;
    write_file(dir / "same.dff", dff_at(5644800));
    write_file(dir / "other.dff", dff_at(2822400));
    set_old_mtime(dir / "same.dff");
    set_old_mtime(dir / "other.dff");
    const auto r = run_in(dir, dff128, {"same.dff", "other.dff"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(read_file(dir / "same.dff"), dff_at(5644800));
    EXPECT_EQ(mtime_of(dir / "same.dff"), old_time);
    EXPECT_EQ(read_file(dir / "other.dff"), dff_at(5644800));
    EXPECT_NE(mtime_of(dir / "other.dff"), old_time);
}

TEST(DffRateSet, AnyCompressionIsLeftAlone) {
    TempDir dir;
    const auto form = [](const std::vector<Bytes>& prop, const char* sound_id) {
        return testgen::dff_form({testgen::dff_fver(), testgen::dff_prop(prop),
                                  testgen::dff_chunk(sound_id, testgen::pattern_bytes(64))});
    };
    const Bytes fs = testgen::dff_fs(dsd512);
    const std::pair<std::string, Bytes> files[] = {
        // DST first, plain DSD last: the first one still counts.
        {"both.dff", form({fs, testgen::dff_cmpr("DST ", "DST Encoded"),
                           testgen::dff_cmpr("DSD ", "not compressed")},
                          "DSD ")},
        {"other.dff", form({fs, testgen::dff_cmpr("XYZ ", "unknown")}, "DSD ")},
        {"sound.dff", form({fs, testgen::dff_cmpr("DSD ", "not compressed")}, "DST ")},
    };
    std::vector<std::string> names;
    for (const auto& [name, bytes] : files) {
        write_file(dir / name, bytes);
        names.push_back(name);
    }
    const auto r = run_in(dir, dff64, names);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out,
              "Usage: DST compressed, rate not changed. both.dff\n"
              "Usage: DST compressed, rate not changed. other.dff\n"
              "Usage: DST compressed, rate not changed. sound.dff\n");
    for (const auto& [name, bytes] : files) {
        EXPECT_EQ(read_file(dir / name), bytes) << name;
    }
}

TEST(DffRateSet, RejectedFilesStayByteForByte) {
    const Bytes good = dff_at(dsd512);
    const std::vector<std::pair<std::string, Bytes>> files{
        {"empty.dff", {}},
        {"short.dff", Bytes(good.begin(), good.begin() + 40)},
        {"cut.dff", Bytes(good.begin(), good.end() - 1)},
        {"text.dff", {'h', 'e', 'l', 'l', 'o', '\n'}},
        {"wave.dff", testgen::canonical_wav({}, testgen::pattern_bytes(64))},
        {"fs8.dff", testgen::dff_form({testgen::dff_fver(), testgen::dff_prop({testgen::dff_chunk(
                                                                "FS  ", Bytes(8, 1))})})},
        {"dst.dff",
         testgen::dff_form({testgen::dff_fver(),
                            testgen::dff_prop({testgen::dff_fs(2822400), testgen::dff_chnl_stereo(),
                                               testgen::dff_cmpr("DST ", "DST Encoded")}),
                            testgen::dff_chunk("DST ", testgen::pattern_bytes(32))})},
        // Past the properties every chunk header still counts: a sound chunk
        // declaring 4 GiB in a small file, a DST chunk after a DSD one.
        {"sound4g.dff", with_bytes(good, 122, {0, 0, 0, 1, 0, 0, 0, 0})},
        {"dst2.dff",
         testgen::dff_form({testgen::dff_fver(),
                            testgen::dff_prop({testgen::dff_fs(2822400), testgen::dff_chnl_stereo(),
                                               testgen::dff_cmpr("DSD ", "not compressed")}),
                            testgen::dff_chunk("DSD ", testgen::pattern_bytes(32)),
                            testgen::dff_chunk("DST ", testgen::pattern_bytes(32))})},
    };
    TempDir dir;
    std::vector<std::string> names;
    for (const auto& [name, bytes] : files) {
        write_file(dir / name, bytes);
        names.push_back(name);
    }
    const auto r = run_in(dir, dff64, names);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out,
              "Usage: Not a 'DFF' file. empty.dff\n"
              "Usage: Not a 'DFF' file. short.dff\n"
              "Usage: Not a 'DFF' file. cut.dff\n"
              "Usage: Not a 'DFF' file. text.dff\n"
              "Usage: Not a 'DFF' file. wave.dff\n"
              "Usage: Not a 'DFF' file. fs8.dff\n"
              "Usage: DST compressed, rate not changed. dst.dff\n"
              "Usage: Not a 'DFF' file. sound4g.dff\n"
              "Usage: DST compressed, rate not changed. dst2.dff\n");
    EXPECT_EQ(r.err, "");
    for (const auto& [name, bytes] : files) {
        EXPECT_EQ(read_file(dir / name), bytes) << name;
    }
}

// A file-size limit below the field's offset makes the write itself fail.
// The limit applies to standard output too, so it must leave room for the
// message.
TEST(DffRateSet, FailedWriteIsReported) {
    TempDir dir;
    write_file(dir / "a.dff", dff_at(dsd512));
    write_file(dir / "b.dff", dff_at(2822400));
    RunOptions options;
    options.file_size_limit = 48;
    options.ignore_sigxfsz = true;
    const auto r = run_in(dir, dff64, {"a.dff", "b.dff"}, options);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "Usage: Can't write file. a.dff\n");
    EXPECT_EQ(read_file(dir / "a.dff"), dff_at(dsd512));
}

// --- WAV rewrite ---------------------------------------------------------------

const testgen::WavFormat stereo24{1, 2, 48000, 24};
const testgen::WavFormat stereo16{1, 2, 48000, 16};

TEST(WavRateSet, Canonical24BitStereoGetsRateAndByteRateOnly) {
    TempDir dir;
    const Bytes before = testgen::canonical_wav(stereo24, testgen::pattern_bytes(600));
    write_file(dir / "take.wav", before);
    const auto r = run_in(dir, wav_rate_set, {"take.wav"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(read_file(dir / "take.wav"),
              with_bytes(before, 24, {0x44, 0xAC, 0x00, 0x00, 0x98, 0x09, 0x04, 0x00}));
}

TEST(WavRateSet, SixteenBitStereoGetsAConsistentByteRate) {
    TempDir dir;
    const Bytes before = testgen::canonical_wav(stereo16, testgen::pattern_bytes(400));
    write_file(dir / "take.WAV", before);
    const auto r = run_in(dir, wav_rate_set, {"take.WAV"});
    EXPECT_EQ(r.status, 0);
    // 44100 and 176400; block align stays 4.
    EXPECT_EQ(read_file(dir / "take.WAV"),
              with_bytes(before, 24, {0x44, 0xAC, 0x00, 0x00, 0x10, 0xB1, 0x02, 0x00}));
}

TEST(WavRateSet, FmtAfterOddJunkInAnRf64File) {
    TempDir dir;
    const Bytes before =
        testgen::wav_file({testgen::riff_chunk("ds64", testgen::ds64_body(0, 12, 2)),
                           testgen::riff_chunk("JUNK", Bytes(27, 0)),
                           testgen::riff_chunk("fmt ", testgen::fmt_extensible_body(stereo24, 1)),
                           testgen::riff_chunk("data", testgen::pattern_bytes(12), 0xFFFFFFFF)},
                          "RF64", 0xFFFFFFFF);
    write_file(dir / "take.wav", before);
    const auto r = run_in(dir, wav_rate_set, {"take.wav"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    // ds64 at 12 (8 + 28), JUNK at 48 (8 + 27 + pad), fmt at 84.
    EXPECT_EQ(read_file(dir / "take.wav"),
              with_bytes(before, 96, {0x44, 0xAC, 0x00, 0x00, 0x98, 0x09, 0x04, 0x00}));
}

TEST(WavRateSet, BothFieldsMustHoldTheirTargetsToBeLeftAlone) {
    TempDir dir;
    const Bytes at_target = testgen::canonical_wav({1, 2, 44100, 16}, testgen::pattern_bytes(40));
    // 44100 Hz already, but the byte rate a 24-bit file would have.
    const Bytes stale = with_bytes(at_target, 28, {0x98, 0x09, 0x04, 0x00});
    write_file(dir / "same.wav", at_target);
    write_file(dir / "stale.wav", stale);
    set_old_mtime(dir / "same.wav");
    const auto r = run_in(dir, wav_rate_set, {"same.wav", "stale.wav"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(read_file(dir / "same.wav"), at_target);
    EXPECT_EQ(mtime_of(dir / "same.wav"), old_time);
    EXPECT_EQ(read_file(dir / "stale.wav"), at_target);
}

TEST(WavRateSet, RejectedFilesStayByteForByte) {
    const Bytes good = testgen::canonical_wav(stereo24, testgen::pattern_bytes(60));
    Bytes adpcm = testgen::fmt_body({2, 2, 44100, 4});
    adpcm[12] = 0x00;  // block align 1024
    adpcm[13] = 0x04;
    const std::vector<std::pair<std::string, Bytes>> files{
        {"adpcm.wav", testgen::wav_file({testgen::riff_chunk("fmt ", adpcm)})},
        {"ext.wav", testgen::wav_file({testgen::riff_chunk(
                        "fmt ", testgen::fmt_extensible_body(stereo24, 0x92))})},
        {"nofmt.wav", testgen::wav_file({testgen::riff_chunk("data", testgen::pattern_bytes(20))})},
        {"short.wav", Bytes(good.begin(), good.begin() + 30)},
        {"tiny.wav", {'R', 'I', 'F', 'F', 0, 0}},
        {"dsd.wav", dff_at(2822400)},
    };
    TempDir dir;
    std::vector<std::string> names;
    for (const auto& [name, bytes] : files) {
        write_file(dir / name, bytes);
        names.push_back(name);
    }
    names.push_back("a.dff");
    const auto r = run_in(dir, wav_rate_set, names);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out,
              "Usage: Not PCM, rate not changed. adpcm.wav\n"
              "Usage: Not PCM, rate not changed. ext.wav\n"
              "Usage: Not a 'WAV' file. nofmt.wav\n"
              "Usage: Not a 'WAV' file. short.wav\n"
              "Usage: Not a 'WAV' file. tiny.wav\n"
              "Usage: Not a 'WAV' file. dsd.wav\n"
              "Usage: File extension is not 'wav'. a.dff\n");
    EXPECT_EQ(r.err, "");
    for (const auto& [name, bytes] : files) {
        EXPECT_EQ(read_file(dir / name), bytes) << name;
    }
}

TEST(WavRateSet, ALawAndMuLawAreRelabelledLikePcm) {
    TempDir dir;
    std::vector<std::pair<std::string, Bytes>> files;
    for (const std::uint16_t tag : {6, 7}) {
        const std::string name = std::to_string(tag);
        files.emplace_back(
            name + ".wav",
            testgen::wav_file({testgen::riff_chunk("fmt ", testgen::fmt_body({tag, 2, 8000, 8}))}));
        files.emplace_back(name + "x.wav",
                           testgen::wav_file({testgen::riff_chunk(
                               "fmt ", testgen::fmt_extensible_body({1, 2, 8000, 8}, tag))}));
    }
    std::vector<std::string> names;
    for (const auto& [name, bytes] : files) {
        write_file(dir / name, bytes);
        names.push_back(name);
    }
    const auto r = run_in(dir, wav_rate_set, names);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    // Rate 44100, byte rate 44100 x block align 2 = 88200, at 24 to 31.
    for (const auto& [name, bytes] : files) {
        EXPECT_EQ(read_file(dir / name),
                  with_bytes(bytes, 24, {0x44, 0xAC, 0x00, 0x00, 0x88, 0x58, 0x01, 0x00}))
            << name;
    }
}

TEST(WavRateSet, NoChannelsOrNoBlockAlignIsNotWav) {
    TempDir dir;
    const Bytes good = testgen::canonical_wav(stereo24, testgen::pattern_bytes(60));
    const Bytes files[] = {with_bytes(good, 22, {0, 0}), with_bytes(good, 32, {0, 0})};
    write_file(dir / "none.wav", files[0]);
    write_file(dir / "zero.wav", files[1]);
    const auto r = run_in(dir, wav_rate_set, {"none.wav", "zero.wav"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "Usage: Not a 'WAV' file. none.wav\nUsage: Not a 'WAV' file. zero.wav\n");
    EXPECT_EQ(read_file(dir / "none.wav"), files[0]);
    EXPECT_EQ(read_file(dir / "zero.wav"), files[1]);
}

TEST(WavRateSet, FailedWriteIsReported) {
    TempDir dir;
    // The fields at 132, past a 100-byte JUNK chunk.
    const Bytes before =
        testgen::wav_file({testgen::riff_chunk("JUNK", Bytes(100, 0)),
                           testgen::riff_chunk("fmt ", testgen::fmt_body(stereo24))});
    write_file(dir / "a.wav", before);
    RunOptions options;
    options.file_size_limit = 64;
    options.ignore_sigxfsz = true;
    const auto r = run_in(dir, wav_rate_set, {"a.wav"}, options);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "Usage: Can't write file. a.wav\n");
    EXPECT_EQ(read_file(dir / "a.wav"), before);
}

}  // namespace
}  // namespace dsd::test
