// Truncated and corrupted inputs, swept byte by byte through the built
// programs: every one must end cleanly, with the message and status the
// input calls for, the input unchanged and nothing left behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>

#include "dff_builder.hpp"
#include "dff_expect.hpp"
#include "dsf_generator.hpp"
#include "test_support.hpp"
#include "wav_builder.hpp"

namespace dsd::test {
namespace {

const std::string convert = DSF_DFF_CONVERT;
const std::string dff_rate_set_128 = DFF_RATE_SET_128;
const std::string dff_rate_set_256 = DFF_RATE_SET_256;
const std::string wav_rate_set = WAV_RATE_SET;

struct Outcome {
    int status = 0;
    std::string out;
    std::string err;
    std::optional<Bytes> dff;  // the output, when the conversion succeeds
};

// The tag a converter must copy: a whole ID3v2 tag where the metadata
// pointer points; empty when there is none.
Bytes tag_at(const Bytes& dsf, std::uint64_t pointer) {
    if (pointer == 0 || pointer >= dsf.size() || dsf.size() - pointer < 10) {
        return {};
    }
    const auto* h = &dsf[pointer];
    if (h[0] != 'I' || h[1] != 'D' || h[2] != '3' || h[3] < 2 || h[3] > 4 || h[4] == 0xFF) {
        return {};
    }
    std::uint64_t length = 10;
    for (int i = 6; i < 10; ++i) {
        if (h[i] & 0x80) {
            return {};
        }
    }
    length += std::uint64_t{h[6]} << 21 | std::uint64_t{h[7]} << 14 | h[8] << 7 | h[9];
    if (h[3] == 4 && (h[5] & 0x10)) {
        length += 10;
    }
    if (length > dsf.size() - pointer) {
        return {};
    }
    const auto from = dsf.begin() + static_cast<std::ptrdiff_t>(pointer);
    return Bytes(from, from + static_cast<std::ptrdiff_t>(length));
}

// What dsf-dff-convert must do with `dsf`, field by field in file order.
Outcome expected_conversion(const Bytes& dsf) {
    Outcome o;
    o.status = 1;
    const std::uint64_t size = dsf.size();
    const auto short_before = [&](std::uint64_t offset, std::uint64_t width) {
        if (size >= offset + width) {
            return false;
        }
        o.err = " read error : " + std::to_string(size) + "\n";
        return true;
    };
    if (short_before(0, 4)) {
        return o;
    }
    if (!std::equal(dsf.begin(), dsf.begin() + 4, "DSD ")) {
        const auto end = std::find(dsf.begin(), dsf.begin() + 4, 0);
        std::string shown;
        for (auto at = dsf.begin(); at != end; ++at) {
            char hex[8];
            std::snprintf(hex, sizeof hex, *at < 0x20 || *at > 0x7E ? "\\x%02x" : "%c", *at);
            shown += hex;
        }
        o.err = "Not a 'DSF' format : " + shown + "\n";
        return o;
    }
    if (short_before(52, 4)) {
        return o;
    }
    if (le(dsf, 52, 4) != 2) {
        o.err = "Wrong numbers of channels : " + std::to_string(le(dsf, 52, 4)) + "\n";
        return o;
    }
    if (short_before(56, 4)) {
        return o;
    }
    if (le(dsf, 56, 4) == 0) {
        o.err = "Wrong sampling frequency : 0\n";
        return o;
    }
    o.out += "Sampling frequency <" + std::to_string(le(dsf, 56, 4)) + ">\n";
    if (short_before(60, 4)) {
        return o;
    }
    if (le(dsf, 60, 4) != 1 && le(dsf, 60, 4) != 8) {
        o.err = "Wrong bit number : " + std::to_string(le(dsf, 60, 4)) + "\n";
        return o;
    }
    o.out += "bit number <" + std::to_string(le(dsf, 60, 4)) + ">\n";
    if (short_before(64, 8)) {
        return o;
    }
    const std::uint64_t samples = le(dsf, 64, 8);
    o.out += "sample number <" + std::to_string(samples) + ">\n";
    if (short_before(72, 4)) {
        return o;
    }
    if (le(dsf, 72, 4) != 4096) {
        o.err = "Wrong block size : " + std::to_string(le(dsf, 72, 4)) + "\n";
        return o;
    }
    if (short_before(84, 8)) {
        return o;
    }
    const std::uint64_t chunk = le(dsf, 84, 8);
    if (chunk < 12) {
        o.err = "Wrong data size : " + std::to_string(chunk) + "\n";
        return o;
    }
    o.out += "DSD Data size <" + std::to_string(chunk - 12) + ">\n";
    // Every byte used must be in the file.
    if (dsf_sound_extent(dsf).truncated) {
        o.err = " read error : " + std::to_string(size) + "\n";
        return o;
    }
    o.status = 0;
    o.dff =
        expected_dff(dsf, static_cast<std::uint32_t>(le(dsf, 56, 4)), tag_at(dsf, le(dsf, 20, 8)));
    return o;
}

class Sweep : public ::testing::Test {
  protected:
    // Converts `dsf` over an earlier output and checks everything against
    // the expected outcome; `what` names the case in a failure.
    ::testing::AssertionResult converts_as_expected(const Bytes& dsf, const std::string& what) {
        const Bytes earlier{'e', 'a', 'r', 'l', 'i', 'e', 'r'};
        write_file(dir / "in.dsf", dsf);
        write_file(dir / "in.dff", earlier);
        const Outcome want = expected_conversion(dsf);
        RunOptions options;
        options.cwd = dir.path();
        const auto r = run_program(convert, {"in.dsf"}, options);
        auto fail = [&](const std::string& why) {
            return ::testing::AssertionFailure()
                   << what << ": " << why << "\nstatus " << r.status << "\nstdout:\n"
                   << r.out << "stderr:\n"
                   << r.err;
        };
        if (r.status != want.status || r.out != want.out || r.err != want.err) {
            return fail("expected status " + std::to_string(want.status) + "\nstdout:\n" +
                        want.out + "stderr:\n" + want.err + "but got");
        }
        if (read_file(dir / "in.dsf") != dsf) {
            return fail("the input changed");
        }
        if (dir.entries() != std::vector<std::string>{"in.dff", "in.dsf"}) {
            return fail("files left behind");
        }
        if (read_file(dir / "in.dff") != want.dff.value_or(earlier)) {
            return fail(want.dff ? "wrong output" : "the earlier output changed");
        }
        return ::testing::AssertionSuccess();
    }

    TempDir dir;
};

Bytes tagged_dsf() {
    testgen::DsfSpec spec;
    spec.sample_count = 32768 + 100;  // two block pairs, the second barely used
    spec.id3_tag = testgen::make_id3v2_tag("Sweep", 3, 41);
    return testgen::make_dsf(spec);
}

TEST_F(Sweep, EveryPrefixOfADsfEndsCleanly) {
    const Bytes dsf = tagged_dsf();
    const std::size_t sound_end = 92 + 2 * 8192;
    ASSERT_EQ(dsf.size(), sound_end + 41);
    // Every length through the header and well into the first blocks, then
    // a sparse walk through the sound, and every length around the end of
    // the first pair, the end of the sound and through the tag.
    std::set<std::size_t> lengths;
    for (std::size_t n = 0; n <= 400; ++n) {
        lengths.insert(n);
    }
    for (std::size_t n = 400; n < sound_end; n += 61) {
        lengths.insert(n);
    }
    for (std::size_t n = 92 + 8192 - 3; n <= 92 + 8192 + 3; ++n) {
        lengths.insert(n);
    }
    for (std::size_t n = sound_end - 3; n <= dsf.size(); ++n) {
        lengths.insert(n);
    }
    for (const std::size_t n : lengths) {
        const Bytes prefix(dsf.begin(), dsf.begin() + static_cast<std::ptrdiff_t>(n));
        EXPECT_TRUE(converts_as_expected(prefix, "prefix of " + std::to_string(n) + " bytes"));
    }
}

TEST_F(Sweep, EveryCorruptedHeaderByteEndsCleanly) {
    const Bytes dsf = tagged_dsf();
    for (std::size_t at = 0; at < 92; ++at) {
        for (const std::uint8_t value :
             {std::uint8_t{0x00}, std::uint8_t{0xFF}, static_cast<std::uint8_t>(dsf[at] ^ 0x10)}) {
            Bytes bad = dsf;
            bad[at] = value;
            EXPECT_TRUE(converts_as_expected(
                bad, "byte " + std::to_string(at) + " set to " + std::to_string(value)));
        }
    }
}

// Sample counts just under 2^64 need every byte they name: the data chunk
// bounds the sound, and a file that lacks it is a read error, not an empty
// conversion. (A count that wrapped when rounded up to whole bytes once made
// the fuzzer's own check fail on a header-only file like the first case.)
TEST_F(Sweep, SampleCountsNearTwoToThe64) {
    testgen::DsfSpec spec;
    spec.sample_count = 2 * 32768;
    const Bytes dsf = testgen::make_dsf(spec);
    for (const std::uint64_t samples : {~0ull - 1, ~0ull, ~0ull - 7, ~0ull - 6}) {
        Bytes header_only(dsf.begin(), dsf.begin() + 92);
        put_le(header_only, 64, samples, 8);
        EXPECT_TRUE(
            converts_as_expected(header_only, "header only, count " + std::to_string(samples)));
        Bytes whole = dsf;
        put_le(whole, 64, samples, 8);
        const auto want = expected_conversion(whole);
        ASSERT_TRUE(want.dff);
        // All of both block pairs, as for the count that fills them exactly.
        EXPECT_EQ(*want.dff, expected_dff(dsf, 2822400));
        EXPECT_TRUE(converts_as_expected(whole, "count " + std::to_string(samples)));
    }
}

// The rewriters on prefixes and damaged headers: one message naming the file
// and status 1, or a silent rewrite of the rate field alone; never a longer
// file, never a changed byte outside the field.
class RewriterSweep : public ::testing::Test {
  protected:
    struct Run {
        RunResult result;
        Bytes after;
    };
    Run run_on(const std::string& program, const std::string& name, const Bytes& input) {
        write_file(dir / name, input);
        RunOptions options;
        options.cwd = dir.path();
        Run run{run_program(program, {name}, options), read_file(dir / name)};
        std::filesystem::remove(dir / name);
        return run;
    }
    TempDir dir;
};

std::string describe(const RunResult& r) {
    return "status " + std::to_string(r.status) + "\nstdout:\n" + r.out + "stderr:\n" + r.err;
}

::testing::AssertionResult rejected(const RunResult& r, const Bytes& input, const Bytes& after,
                                    const std::string& message) {
    if (r.status != 1 || r.out != message || !r.err.empty()) {
        return ::testing::AssertionFailure()
               << "expected status 1 and " << message << "got " << describe(r);
    }
    if (after != input) {
        return ::testing::AssertionFailure() << "the rejected file changed";
    }
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult rewritten(const RunResult& r, const Bytes& expected,
                                     const Bytes& after) {
    if (r.status != 0 || !r.out.empty() || !r.err.empty()) {
        return ::testing::AssertionFailure() << "expected a silent rewrite, got " << describe(r);
    }
    if (after != expected) {
        return ::testing::AssertionFailure() << "wrong bytes after the rewrite";
    }
    return ::testing::AssertionSuccess();
}

TEST_F(RewriterSweep, EveryPrefixOfADffIsNotADff) {
    // A converter's DFF with a tag of odd length: the form size runs past the
    // end of every shorter file.
    testgen::DsfSpec spec;
    spec.sample_count = 100;
    spec.id3_tag = testgen::make_id3v2_tag("Cut", 3, 23);
    const Bytes dff = expected_dff(testgen::make_dsf(spec), 2822400, *spec.id3_tag);
    for (std::size_t n = 0; n < dff.size(); ++n) {
        const Bytes prefix(dff.begin(), dff.begin() + static_cast<std::ptrdiff_t>(n));
        const auto [r, after] = run_on(dff_rate_set_128, "cut.dff", prefix);
        EXPECT_TRUE(rejected(r, prefix, after, "Usage: Not a 'DFF' file. cut.dff\n"))
            << "prefix of " << n << " bytes";
    }
    Bytes relabelled = dff;
    put_be(relabelled, 60, 5644800, 4);
    const auto [r, after] = run_on(dff_rate_set_128, "whole.dff", dff);
    EXPECT_TRUE(rewritten(r, relabelled, after));
}

// Where a WAV's samples-per-second field is, for a file holding the whole
// "fmt " chunk that starts at `fmt`.
TEST_F(RewriterSweep, EveryPrefixOfAWavHeaderEndsCleanly) {
    const testgen::WavFormat format{1, 2, 48000, 24};
    const Bytes samples = testgen::pattern_bytes(60);
    // The canonical layout, and an RF64 file whose "fmt " follows a ds64 and
    // a JUNK chunk of odd length.
    struct Layout {
        std::string name;
        Bytes wav;
    };
    const Layout layouts[] = {
        {"canonical", testgen::canonical_wav(format, samples)},
        {"rf64", testgen::wav_file({testgen::riff_chunk("ds64", testgen::ds64_body(0, 60, 10)),
                                    testgen::riff_chunk("JUNK", Bytes(27, 0)),
                                    testgen::riff_chunk("fmt ", testgen::fmt_body(format)),
                                    testgen::riff_chunk("data", samples)},
                                   "RF64", 0xFFFFFFFF)},
    };
    for (const auto& [name, wav] : layouts) {
        const std::string text(wav.begin(), wav.end());
        const std::size_t fmt = text.find("fmt ");
        ASSERT_NE(fmt, std::string::npos);
        const std::size_t fmt_end = fmt + 8 + 16;
        for (std::size_t n = 0; n <= wav.size(); ++n) {
            SCOPED_TRACE(name + " prefix of " + std::to_string(n) + " bytes");
            const Bytes prefix(wav.begin(), wav.begin() + static_cast<std::ptrdiff_t>(n));
            const auto [r, after] = run_on(wav_rate_set, "cut.wav", prefix);
            if (n < fmt_end) {
                EXPECT_TRUE(rejected(r, prefix, after, "Usage: Not a 'WAV' file. cut.wav\n"));
            } else {
                // Whatever follows the format is not needed to relabel it.
                Bytes expected = prefix;
                put_le(expected, fmt + 12, 44100, 4);
                put_le(expected, fmt + 16, 44100 * 6, 4);
                EXPECT_TRUE(rewritten(r, expected, after));
            }
        }
    }
}

std::uint64_t be(const Bytes& b, std::size_t at, int n) {
    std::uint64_t v = 0;
    for (int i = 0; i < n; ++i) {
        v = v << 8 | b[at + static_cast<std::size_t>(i)];
    }
    return v;
}

// Bytes of `after` that differ from `before`, as offsets.
std::vector<std::size_t> changed(const Bytes& before, const Bytes& after) {
    std::vector<std::size_t> at;
    for (std::size_t i = 0; i < std::min(before.size(), after.size()); ++i) {
        if (before[i] != after[i]) {
            at.push_back(i);
        }
    }
    return at;
}

TEST_F(RewriterSweep, EveryCorruptedDffHeaderByteEndsCleanly) {
    testgen::DsfSpec spec;
    spec.sample_count = 64;
    const Bytes dff = expected_dff(testgen::make_dsf(spec), 2822400);
    const std::set<std::string> messages = {"Usage: Not a 'DFF' file. bad.dff\n",
                                            "Usage: DST compressed, rate not changed. bad.dff\n"};
    for (std::size_t at = 0; at < 130; ++at) {
        for (const std::uint8_t value :
             {std::uint8_t{0x00}, std::uint8_t{0xFF}, static_cast<std::uint8_t>(dff[at] ^ 0x01)}) {
            SCOPED_TRACE("byte " + std::to_string(at) + " set to " + std::to_string(value));
            Bytes bad = dff;
            bad[at] = value;
            const auto [r, after] = run_on(dff_rate_set_256, "bad.dff", bad);
            EXPECT_EQ(r.err, "");
            ASSERT_EQ(after.size(), bad.size());
            if (r.status == 0) {
                // Only the value of an "FS  " chunk of size 4 may change.
                EXPECT_EQ(r.out, "");
                const auto diff = changed(bad, after);
                ASSERT_FALSE(diff.empty());
                ASSERT_LE(diff.back() - diff.front(), 3u);
                bool in_an_fs_chunk = false;
                for (std::size_t f = std::max<std::size_t>(diff.back(), 15) - 3; f <= diff.front();
                     ++f) {
                    const Bytes chunk_header(bad.begin() + static_cast<std::ptrdiff_t>(f - 12),
                                             bad.begin() + static_cast<std::ptrdiff_t>(f));
                    if (chunk_header == Bytes{'F', 'S', ' ', ' ', 0, 0, 0, 0, 0, 0, 0, 4}) {
                        in_an_fs_chunk = true;
                        EXPECT_EQ(be(after, f, 4), 11289600u);
                    }
                }
                EXPECT_TRUE(in_an_fs_chunk);
            } else {
                EXPECT_EQ(r.status, 1);
                EXPECT_TRUE(messages.count(r.out)) << r.out;
                EXPECT_EQ(after, bad);
            }
        }
    }
}

TEST_F(RewriterSweep, EveryCorruptedWavHeaderByteEndsCleanly) {
    const Bytes wav =
        testgen::wav_file({testgen::riff_chunk("JUNK", Bytes(5, 0)),
                           testgen::riff_chunk("fmt ", testgen::fmt_body({1, 2, 48000, 16})),
                           testgen::riff_chunk("data", testgen::pattern_bytes(40))});
    const std::size_t fmt = std::string(wav.begin(), wav.end()).find("fmt ");
    const std::set<std::string> messages = {"Usage: Not a 'WAV' file. bad.wav\n",
                                            "Usage: Not PCM, rate not changed. bad.wav\n"};
    for (std::size_t at = 0; at < fmt + 24; ++at) {
        for (const std::uint8_t value :
             {std::uint8_t{0x00}, std::uint8_t{0xFF}, static_cast<std::uint8_t>(wav[at] ^ 0x01)}) {
            SCOPED_TRACE("byte " + std::to_string(at) + " set to " + std::to_string(value));
            Bytes bad = wav;
            bad[at] = value;
            const auto [r, after] = run_on(wav_rate_set, "bad.wav", bad);
            EXPECT_EQ(r.err, "");
            ASSERT_EQ(after.size(), bad.size());
            if (r.status == 0) {
                // Rate and byte rate of a "fmt " chunk, consistent with its
                // block align; nothing else.
                EXPECT_EQ(r.out, "");
                const auto diff = changed(bad, after);
                if (diff.empty()) {
                    continue;  // already 44100 with a matching byte rate
                }
                bool inside_a_fmt = false;
                for (std::size_t f = 0; f + 24 <= bad.size(); ++f) {
                    if (std::equal(bad.begin() + static_cast<std::ptrdiff_t>(f),
                                   bad.begin() + static_cast<std::ptrdiff_t>(f + 4), "fmt ") &&
                        diff.front() >= f + 12 && diff.back() < f + 20) {
                        inside_a_fmt = true;
                        EXPECT_EQ(le(after, f + 12, 4), 44100u);
                        EXPECT_EQ(le(after, f + 16, 4), 44100u * le(bad, f + 20, 2));
                    }
                }
                EXPECT_TRUE(inside_a_fmt);
            } else {
                EXPECT_EQ(r.status, 1);
                EXPECT_TRUE(messages.count(r.out)) << r.out;
                EXPECT_EQ(after, bad);
            }
        }
    }
}

}  // namespace
}  // namespace dsd::test
