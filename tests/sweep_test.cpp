// Truncated and corrupted inputs, swept byte by byte through the built
// programs: every one must end cleanly, with the message and status the
// input calls for, the input unchanged and nothing left behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "dff_expect.hpp"
#include "dsf_generator.hpp"
#include "test_support.hpp"

namespace dsd::test {
namespace {

const std::string convert = DSF_DFF_CONVERT;

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
        o.err = " read error : " + std::to_string(std::max(offset, size)) + "\n";
        return true;
    };
    if (short_before(0, 4)) {
        return o;
    }
    if (!std::equal(dsf.begin(), dsf.begin() + 4, "DSD ")) {
        const auto end = std::find(dsf.begin(), dsf.begin() + 4, 0);
        o.err = "Not a 'DSF' format : " + std::string(dsf.begin(), end) + "\n";
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
    o.out += "Sampling frequency <" + std::to_string(le(dsf, 56, 4)) + ">\n";
    if (short_before(60, 4)) {
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
    // Whole block pairs are read, up to the one holding the last sample.
    const std::uint64_t per_channel = std::min((samples + 7) / 8, (chunk - 12) / 2);
    const std::uint64_t pairs = (per_channel + 4095) / 4096;
    if (size < 92 + pairs * 8192) {
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

}  // namespace
}  // namespace dsd::test
