// The files the tools write, read back by audio readers nobody here wrote:
// ffprobe and ffmpeg, MediaInfo, SoX and Python's mutagen. A case skips only
// when its reader is not installed.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <map>
#include <sstream>

#include "dff_builder.hpp"
#include "dff_expect.hpp"
#include "dsf_expect.hpp"
#include "dsf_generator.hpp"
#include "test_support.hpp"
#include "wav_builder.hpp"

namespace dsd::test {
namespace {

const std::string convert = DSF_DFF_CONVERT;
const std::string reverse = DFF_DSF_CONVERT;
const std::string dummy = DSF_DFF256_DUMMY;
const std::string dff_rate_set_64 = DFF_RATE_SET_64;
const std::string dff_rate_set_128 = DFF_RATE_SET_128;
const std::string dff_rate_set_256 = DFF_RATE_SET_256;
const std::string wav_rate_set = WAV_RATE_SET;

// `name` is a literal, joined to the next one.
// NOLINTBEGIN(bugprone-macro-parentheses)
#define REQUIRE_TOOL(var, name)                                                             \
    const auto var = find_on_path(name);                                                    \
    if (!var) {                                                                             \
        GTEST_SKIP() << name " is not installed (Debian package: " << package(name) << ")"; \
    }
// NOLINTEND(bugprone-macro-parentheses)

std::string package(const std::string& tool) {
    if (tool == "ffprobe") {
        return "ffmpeg";
    }
    if (tool == "soxi") {
        return "sox";
    }
    return tool;
}

// "key=value" lines, as ffprobe's default writer without section wrappers
// prints them.
std::map<std::string, std::string> key_values(const std::string& text) {
    std::map<std::string, std::string> values;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        if (const auto eq = line.find('='); eq != std::string::npos) {
            values[line.substr(0, eq)] = line.substr(eq + 1);
        }
    }
    return values;
}

std::string run_tool(const std::string& tool, const std::vector<std::string>& args) {
    const auto r = run_program(tool, args);
    EXPECT_EQ(r.status, 0) << tool << " failed: " << r.err;
    return r.out;
}

struct Case {
    std::string name;
    std::uint32_t rate;
    std::uint32_t bits;
    std::uint64_t samples;
    std::string title;  // empty: no tag
    bool fixed_rate;    // converted by dsf-dff256-dummy
};

std::uint32_t declared_rate(const Case& c) {
    return c.fixed_rate ? 11289600 : c.rate;
}

// Bytes per channel in the DFF: one per 8 samples, the last one partly fill.
std::uint64_t frames(const Case& c) {
    return (c.samples + 7) / 8;
}

// 1- and 8-bit inputs at each of the usual rates; sample counts that are
// and aren't multiples of 8 and of a block; tags of odd and even length.
const Case cases[] = {
    {"dsd64_1bit", 2822400, 1, 100005, "", false},
    {"dsd64_8bit_tagged", 2822400, 8, 70001, "Track one", false},
    {"dsd128_1bit_tagged", 5644800, 1, 200003, "Zweiter Titel", false},
    {"dsd256_1bit", 11289600, 1, 400000, "", false},
    {"dsd256_8bit", 11289600, 8, 300007, "", false},
    {"dummy256_tagged", 2822400, 1, 90001, "Dummy", true},
};

class Interop : public ::testing::Test {
  protected:
    // Every case converted once for the whole suite.
    static void SetUpTestSuite() {
        dir_ = new TempDir;
        setup_error_.clear();
        for (const auto& c : cases) {
            testgen::DsfSpec spec;
            spec.sampling_frequency = c.rate;
            spec.bits_per_sample = c.bits;
            spec.sample_count = c.samples;
            if (!c.title.empty()) {
                spec.id3_tag = testgen::make_id3v2_tag(c.title, c.bits == 8 ? 4 : 3);
            }
            write_file(dsf(c), testgen::make_dsf(spec));
            const auto r = run_program(c.fixed_rate ? dummy : convert, {dsf(c), dff(c)});
            if (r.status != 0) {
                setup_error_ += c.name + " did not convert: status " + std::to_string(r.status) +
                                ", " + r.err + "\n";
            }
        }
    }
    static void TearDownTestSuite() {
        delete dir_;
        dir_ = nullptr;
    }
    // GoogleTest reports the tests of a suite whose SetUpTestSuite failed as
    // skipped; each test fails on its own instead.
    void SetUp() override {
        if (!setup_error_.empty()) {
            FAIL() << setup_error_;
        }
    }
    static std::string dsf(const Case& c) { return *dir_ / (c.name + ".dsf"); }
    static std::string dff(const Case& c) { return *dir_ / (c.name + ".dff"); }

    static TempDir* dir_;
    static std::string setup_error_;
};

TempDir* Interop::dir_ = nullptr;
std::string Interop::setup_error_;

TEST_F(Interop, FfprobeReadsEveryDffAsDsdiff) {
    REQUIRE_TOOL(ffprobe, "ffprobe");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        // ffmpeg reads DSDIFF with its IFF demuxer and "dsd_msbf" decoder,
        // and counts DSD streams in bytes per channel: its sample rate is
        // the bit rate / 8 and a duration unit is one byte (8 samples).
        // One argument in two parts.
        // NOLINTBEGIN(bugprone-suspicious-missing-comma)
        auto v = key_values(run_tool(*ffprobe, {"-v", "error", "-show_entries",
                                                "stream=codec_name,channels,sample_rate,duration_ts"
                                                ":format=format_name",
                                                "-of", "default=nw=1", dff(c)}));
        // NOLINTEND(bugprone-suspicious-missing-comma)
        EXPECT_EQ(v["format_name"], "iff");
        EXPECT_EQ(v["codec_name"], "dsd_msbf");
        EXPECT_EQ(v["channels"], "2");
        EXPECT_EQ(v["sample_rate"], std::to_string(declared_rate(c) / 8));
        // Its header-based duration is measured from the start of the sound
        // to the end of the file, so a trailing tag chunk lengthens it; the
        // packets it actually reads are what count.
        if (c.title.empty()) {
            EXPECT_EQ(v["duration_ts"], std::to_string(frames(c)));
        }
        const std::string packets =
            run_tool(*ffprobe, {"-v", "error", "-show_entries", "packet=duration", "-of",
                                "default=nw=1:nk=1", dff(c)});
        std::istringstream in(packets);
        std::uint64_t total = 0;
        for (std::uint64_t d = 0; in >> d;) {
            total += d;
        }
        EXPECT_EQ(total, frames(c));
    }
}

TEST_F(Interop, MediaInfoReadsEveryDffAsDsdiff) {
    REQUIRE_TOOL(mediainfo, "mediainfo");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string out = run_tool(*mediainfo, {"--Inform=General;%Format%", dff(c)});
        EXPECT_EQ(out, "DSDIFF\n");
        std::istringstream audio(
            run_tool(*mediainfo,
                     {"--Inform=Audio;%Format%|%Channel(s)%|%SamplingRate%|%Duration%", dff(c)}));
        std::string format, channels, rate;
        double duration_ms = 0;
        std::getline(audio, format, '|');
        std::getline(audio, channels, '|');
        std::getline(audio, rate, '|');
        audio >> duration_ms;
        EXPECT_EQ(format, "DSD");
        EXPECT_EQ(channels, "2");
        EXPECT_EQ(rate, std::to_string(declared_rate(c)));
        // MediaInfo prints milliseconds with three decimals: allow one byte
        // of samples plus half its last digit.
        const double expected_ms = 1000.0 * static_cast<double>(c.samples) / declared_rate(c);
        EXPECT_NEAR(duration_ms, expected_ms, 1000.0 * 8 / declared_rate(c) + 0.0005);
    }
}

TEST_F(Interop, MutagenReadsEveryDffAndItsTitle) {
    const auto python = python_with_mutagen();
    if (!python) {
        GTEST_SKIP() << "Python's mutagen is not installed (Debian package: python3-mutagen)";
    }
    const std::string script =
        "import sys, mutagen\n"
        "for name in sys.argv[1:]:\n"
        "    f = mutagen.File(name)\n"
        "    title = f.tags['TIT2'].text[0] if f.tags is not None and 'TIT2' in f.tags else '-'\n"
        "    print(type(f).__name__, f.info.channels, f.info.sample_rate, repr(f.info.length),"
        " title)\n";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::istringstream out(run_tool(*python, {"-c", script, dsf(c), dff(c)}));
        std::string dsf_type, dsf_title, type, title;
        unsigned dsf_channels = 0, channels = 0;
        std::uint64_t dsf_rate = 0, rate = 0;
        double dsf_length = 0, length = 0;
        out >> dsf_type >> dsf_channels >> dsf_rate >> dsf_length;
        out >> std::ws;
        std::getline(out, dsf_title);
        out >> type >> channels >> rate >> length;
        out >> std::ws;
        std::getline(out, title);
        EXPECT_EQ(dsf_type, "DSF");
        EXPECT_EQ(type, "DSDIFF");
        EXPECT_EQ(channels, 2u);
        EXPECT_EQ(rate, declared_rate(c));
        EXPECT_NEAR(length, static_cast<double>(c.samples) / declared_rate(c),
                    8.0 / declared_rate(c));
        EXPECT_EQ(dsf_title, c.title.empty() ? "-" : c.title);
        EXPECT_EQ(title, dsf_title);
    }
}

// Raw 32-bit stereo PCM as ffmpeg decodes the file.
std::string decode(const std::string& ffmpeg, const std::string& file) {
    return run_tool(ffmpeg, {"-v", "error", "-i", file, "-f", "s32le", "-c:a", "pcm_s32le", "-"});
}

TEST_F(Interop, FfmpegDecodesDsfAndDffToTheSamePcm) {
    REQUIRE_TOOL(ffmpeg, "ffmpeg");
    // ffmpeg's DSD decoders make one PCM frame (a sample per channel) of each
    // byte per channel, i.e. of 8 one-bit samples, with a filter over the
    // last 16 bytes whose history starts in a state of the decoder's own: the
    // LSB-first planar (DSF) and MSB-first interleaved (DFF) decoders differ
    // in their first frames. From the 17th frame on, the output depends on
    // the input alone.
    constexpr std::size_t frame_bytes = 2 * 4;
    constexpr std::size_t skipped = 16 * frame_bytes;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string from_dsf = decode(*ffmpeg, dsf(c));
        const std::string from_dff = decode(*ffmpeg, dff(c));
        // The DFF holds every byte a sample falls in; ffmpeg's DSF reader
        // stops at the last whole byte of the sample count.
        EXPECT_EQ(from_dff.size(), frames(c) * frame_bytes);
        EXPECT_EQ(from_dsf.size(), c.samples / 8 * frame_bytes);
        ASSERT_GT(from_dsf.size(), skipped + 1000 * frame_bytes);
        const std::size_t common = std::min(from_dsf.size(), from_dff.size());
        EXPECT_TRUE(
            from_dsf.compare(skipped, common - skipped, from_dff, skipped, common - skipped) == 0);
        // A real signal, not silence on both sides.
        EXPECT_NE(from_dff.substr(skipped, 4000), std::string(4000, '\0'));
    }
}

TEST_F(Interop, FfprobeSeesTheRateEachDffRewriterSets) {
    REQUIRE_TOOL(ffprobe, "ffprobe");
    const std::pair<std::string, std::uint32_t> rewriters[] = {
        {dff_rate_set_64, 2822400}, {dff_rate_set_128, 5644800}, {dff_rate_set_256, 11289600}};
    for (const auto& c : {cases[0], cases[2]}) {
        for (const auto& [program, target] : rewriters) {
            SCOPED_TRACE(c.name + " relabelled at " + std::to_string(target));
            const std::string copy = *dir_ / "relabelled.dff";
            write_file(copy, read_file(dff(c)));
            const auto r = run_program(program, {copy});
            ASSERT_EQ(r.status, 0) << r.out;
            auto v = key_values(run_tool(
                *ffprobe, {"-v", "error", "-show_entries", "stream=codec_name,channels,sample_rate",
                           "-of", "default=nw=1", copy}));
            EXPECT_EQ(v["codec_name"], "dsd_msbf");
            EXPECT_EQ(v["channels"], "2");
            EXPECT_EQ(v["sample_rate"], std::to_string(target / 8));
        }
    }
}

// 16- and 24-bit stereo WAVs at 48000 Hz, one of them with an odd-length
// JUNK chunk before its format, and the same after wav-rate-set.
class WavInterop : public ::testing::Test {
  protected:
    void SetUp() override {
        const testgen::Bytes samples = testgen::pattern_bytes(4800 * 6, 7);
        write_file(dir / "canonical24.wav", testgen::canonical_wav({1, 2, 48000, 24}, samples));
        write_file(
            dir / "junk16.wav",
            testgen::wav_file({testgen::riff_chunk("JUNK", Bytes(27, 0x20)),
                               testgen::riff_chunk("fmt ", testgen::fmt_body({1, 2, 48000, 16})),
                               testgen::riff_chunk("data", samples)}));
    }
    struct Wav {
        std::string name;
        std::string raw_format;  // ffmpeg's raw PCM format of the file's samples
    };
    const std::vector<Wav> wavs{{"canonical24.wav", "s24le"}, {"junk16.wav", "s16le"}};
    TempDir dir;
};

TEST_F(WavInterop, FfprobeSees44100HzAndTheSameSamples) {
    REQUIRE_TOOL(ffprobe, "ffprobe");
    REQUIRE_TOOL(ffmpeg, "ffmpeg");
    for (const auto& w : wavs) {
        SCOPED_TRACE(w.name);
        const std::string file = dir / w.name;
        const auto pcm = [&] {
            return run_tool(*ffmpeg, {"-v", "error", "-i", file, "-f", w.raw_format, "-c:a",
                                      "pcm_" + w.raw_format, "-"});
        };
        const std::string before = pcm();
        ASSERT_EQ(run_program(wav_rate_set, {file}).status, 0);
        auto v = key_values(
            run_tool(*ffprobe, {"-v", "error", "-show_entries", "stream=sample_rate,channels",
                                "-of", "default=nw=1", file}));
        EXPECT_EQ(v["sample_rate"], "44100");
        EXPECT_EQ(v["channels"], "2");
        EXPECT_EQ(pcm(), before);
        EXPECT_EQ(before.size(), 4800u * 6);
    }
}

TEST_F(WavInterop, SoxiSees44100HzAndSoxTheSameSamples) {
    REQUIRE_TOOL(soxi, "soxi");
    REQUIRE_TOOL(sox, "sox");
    for (const auto& w : wavs) {
        SCOPED_TRACE(w.name);
        const std::string file = dir / w.name;
        const auto raw = [&] { return run_tool(*sox, {file, "-t", "raw", "-"}); };
        const std::string before = raw();
        EXPECT_EQ(run_tool(*soxi, {"-r", file}), "48000\n");
        ASSERT_EQ(run_program(wav_rate_set, {file}).status, 0);
        EXPECT_EQ(run_tool(*soxi, {"-r", file}), "44100\n");
        EXPECT_EQ(run_tool(*soxi, {"-c", file}), "2\n");
        EXPECT_EQ(raw(), before);
        EXPECT_EQ(before.size(), 4800u * 6);
    }
}

// DSDIFF files of real tones, 1, 2 and 6 channels listed in DSF order
// (ffmpeg takes DSDIFF channels in file order), converted to DSF.
class ReverseInterop : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        dir_ = new TempDir;
        const std::vector<std::vector<std::string_view>> layouts{
            {"C"}, {"SLFT", "SRGT"}, {"MLFT", "MRGT", "C", "LFE", "LS", "RS"}};
        for (const auto& ids : layouts) {
            // Tones from the generator's DSF blocks, turned most significant
            // bit first as DSDIFF holds them.
            Channels channels;
            for (std::size_t pair = 0; channels.size() < ids.size(); ++pair) {
                testgen::DsfSpec spec;
                spec.sample_count = 8 * 30000;
                spec.left_hz = 500.0 + 300.0 * static_cast<double>(pair);
                spec.right_hz = spec.left_hz + 150.0;
                const Bytes dsf = testgen::make_dsf(spec);
                for (std::size_t side = 0; side < 2 && channels.size() < ids.size(); ++side) {
                    std::vector<std::uint8_t> bytes;
                    for (std::size_t i = 0; i < 30000; ++i) {
                        bytes.push_back(mirror(dsf[92 + i / 4096 * 8192 + side * 4096 + i % 4096]));
                    }
                    channels.push_back(bytes);
                }
            }
            const std::string name = std::to_string(ids.size()) + "ch";
            const Bytes tag = testgen::make_id3v2_tag("Titel " + name, 3);
            write_file(dff(ids.size()),
                       testgen::dff_file(2822400, ids, interleaved(channels), tag));
            const auto r = run_program(reverse, {dff(ids.size()), dsf(ids.size())});
            ASSERT_EQ(r.status, 0) << name << ": " << r.err;
        }
    }
    static void TearDownTestSuite() {
        delete dir_;
        dir_ = nullptr;
    }
    static std::string dff(std::size_t channels) {
        return *dir_ / (std::to_string(channels) + "ch.dff");
    }
    static std::string dsf(std::size_t channels) {
        return *dir_ / (std::to_string(channels) + "ch.dsf");
    }
    static constexpr std::size_t channel_counts[] = {1, 2, 6};
    static TempDir* dir_;
};

TempDir* ReverseInterop::dir_ = nullptr;

TEST_F(ReverseInterop, FfmpegDecodesTheDsfToTheSamePcmAsTheDff) {
    REQUIRE_TOOL(ffmpeg, "ffmpeg");
    for (const std::size_t channels : channel_counts) {
        SCOPED_TRACE(std::to_string(channels) + " channels");
        const std::string from_dff = decode(*ffmpeg, dff(channels));
        const std::string from_dsf = decode(*ffmpeg, dsf(channels));
        // A frame per byte per channel; the decoders' first 16 frames differ.
        const std::size_t frame_bytes = 4 * channels;
        const std::size_t skipped = 16 * frame_bytes;
        EXPECT_EQ(from_dff.size(), 30000 * frame_bytes);
        EXPECT_EQ(from_dsf.size(), from_dff.size());
        ASSERT_GT(from_dff.size(), skipped + 1000 * frame_bytes);
        EXPECT_TRUE(from_dsf.compare(skipped, std::string::npos, from_dff, skipped) == 0);
        EXPECT_NE(from_dsf.substr(skipped, 4000), std::string(4000, '\0'));
    }
}

TEST_F(ReverseInterop, MutagenReadsTheChannelsAndTheTag) {
    const auto python = python_with_mutagen();
    if (!python) {
        GTEST_SKIP() << "Python's mutagen is not installed (Debian package: python3-mutagen)";
    }
    for (const std::size_t channels : channel_counts) {
        const auto out = run_tool(*python, {"-c",
                                            "import sys, mutagen\n"
                                            "f = mutagen.File(sys.argv[1])\n"
                                            "print(type(f).__name__, f.info.channels, "
                                            "f.info.sample_rate, f.tags['TIT2'])\n",
                                            dsf(channels)});
        EXPECT_EQ(out, "DSF " + std::to_string(channels) + " 2822400 Titel " +
                           std::to_string(channels) + "ch\n");
    }
}

// A DSDIFF file's DIIN artist and title, without an ID3 chunk, as the tag
// of its DSF: FFmpeg reads the same texts from both when they are UTF-8
// (it shows DIIN texts as they stand), and the meant characters from the
// DSF when they are ISO-8859-1 (from the DSDIFF file it shows U+FFFD);
// mutagen, which reads no DIIN, finds them in the DSF's tag.
TEST(TitlesInterop, DiinTitlesReadTheSameFromTheDsf) {
    struct Titles {
        std::string artist;  // as the DIIN chunk holds them
        std::string title;
        std::string artist_utf8;  // as readers must show them
        std::string title_utf8;
        bool utf8;
    };
    const Titles titles[] = {
        {"Plain Artist", "Plain Title", "Plain Artist", "Plain Title", true},
        {"Bj\xc3\xb6rk \xc3\x84", "T\xc3\xaftle \xe2\x98\x83", "Bj\xc3\xb6rk \xc3\x84",
         "T\xc3\xaftle \xe2\x98\x83", true},
        {"Bj\xf6rk", "Caf\xe9 \xc9t\xe9", "Bj\xc3\xb6rk", "Caf\xc3\xa9 \xc3\x89t\xc3\xa9", false},
    };
    const auto ffprobe = find_on_path("ffprobe");
    const auto python = python_with_mutagen();
    if (!ffprobe && !python) {
        GTEST_SKIP() << "neither ffprobe (Debian package: ffmpeg) nor Python's mutagen "
                        "(python3-mutagen) is installed";
    }
    TempDir dir;
    const auto text = [](std::string_view id, const std::string& value) {
        Bytes body(4);
        put_be(body, 0, value.size(), 4);
        for (const char c : value) {
            body.push_back(static_cast<std::uint8_t>(c));
        }
        return testgen::dff_chunk(id, body);
    };
    for (const auto& c : titles) {
        SCOPED_TRACE(c.title_utf8);
        Bytes diin = text("DIAR", c.artist);
        const Bytes title = text("DITI", c.title);
        diin.insert(diin.end(), title.begin(), title.end());
        const Bytes dff = testgen::dff_form(
            {testgen::dff_fver(),
             testgen::dff_prop({testgen::dff_fs(2822400), testgen::dff_chnl_stereo(),
                                testgen::dff_cmpr("DSD ", "not compressed")}),
             testgen::dff_chunk("DIIN", diin),
             testgen::dff_chunk("DSD ", testgen::pattern_bytes(2 * 20000))});
        write_file(dir / "t.dff", dff);
        const auto r = run_program(reverse, {dir / "t.dff", dir / "t.dsf"});
        ASSERT_EQ(r.status, 0) << r.err;
        if (ffprobe) {
            const auto tags = [&](const std::string& file) {
                return key_values(
                    run_tool(*ffprobe, {"-v", "error", "-show_entries", "format_tags=artist,title",
                                        "-of", "default=nw=1", file}));
            };
            auto from_dsf = tags(dir / "t.dsf");
            EXPECT_EQ(from_dsf["TAG:artist"], c.artist_utf8);
            EXPECT_EQ(from_dsf["TAG:title"], c.title_utf8);
            if (c.utf8) {
                EXPECT_EQ(tags(dir / "t.dff"), from_dsf);
            }
        }
        if (python) {
            EXPECT_EQ(run_tool(*python, {"-c",
                                         "import sys, mutagen\n"
                                         "t = mutagen.File(sys.argv[1]).tags\n"
                                         "text = t['TPE1'].text[0] + '|' + t['TIT2'].text[0]\n"
                                         "sys.stdout.buffer.write(text.encode('utf-8'))\n",
                                         dir / "t.dsf"}),
                      c.artist_utf8 + "|" + c.title_utf8);
        }
    }
}

}  // namespace
}  // namespace dsd::test
