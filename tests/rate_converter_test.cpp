// A DFF file made by dsf-dff-convert, relabelled by each DFF rate rewriter:
// the converter and the rewriters must agree on where the rate lives.
#include <gtest/gtest.h>

#include <array>
#include <string>

#include "dsf_generator.hpp"
#include "test_support.hpp"

namespace dsd::test {
namespace {

TEST(ConvertedDff, EachDffToolChangesOnlyTheRateBytes) {
    TempDir dir;
    testgen::DsfSpec spec;
    spec.sampling_frequency = 2822400;
    spec.sample_count = 3 * 4096 * 8;  // three block pairs of one-bit samples
    write_file(dir / "in.dsf", testgen::make_dsf(spec));
    const auto converted = run_program(DSF_DFF_CONVERT, {dir / "in.dsf", dir / "take.dff"});
    ASSERT_EQ(converted.status, 0) << converted.out << converted.err;
    const Bytes before = read_file(dir / "take.dff");
    ASSERT_GT(before.size(), 130u);
    EXPECT_EQ(Bytes(before.begin() + 60, before.begin() + 64), (Bytes{0x00, 0x2B, 0x11, 0x00}));

    const std::array<std::pair<std::string, Bytes>, 3> tools{{
        {DFF_RATE_SET_64, {0x00, 0x2B, 0x11, 0x00}},
        {DFF_RATE_SET_128, {0x00, 0x56, 0x22, 0x00}},
        {DFF_RATE_SET_256, {0x00, 0xAC, 0x44, 0x00}},
    }};
    for (const auto& [program, rate] : tools) {
        write_file(dir / "copy.dff", before);
        const auto r = run_program(program, {dir / "copy.dff"});
        EXPECT_EQ(r.status, 0) << program;
        EXPECT_EQ(r.out, "") << program;
        Bytes expected = before;
        std::copy(rate.begin(), rate.end(), expected.begin() + 60);
        EXPECT_EQ(read_file(dir / "copy.dff"), expected) << program;
    }
}

// Tags stay where readers find them after a relabel.
TEST(ConvertedDff, TaggedFileKeepsItsTagWhenRelabelled) {
    TempDir dir;
    testgen::DsfSpec spec;
    spec.sample_count = 2 * 4096 * 8 + 3;
    spec.id3_tag = testgen::make_id3v2_tag("Relabelled", 3, 45);
    write_file(dir / "in.dsf", testgen::make_dsf(spec));
    ASSERT_EQ(run_program(DSF_DFF_CONVERT, {dir / "in.dsf", dir / "t.dff"}).status, 0);
    const Bytes before = read_file(dir / "t.dff");
    const auto r = run_program(DFF_RATE_SET_128, {dir / "t.dff"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    Bytes expected = before;
    expected[61] = 0x56;
    expected[62] = 0x22;
    EXPECT_EQ(read_file(dir / "t.dff"), expected);

    const auto python = python_with_mutagen();
    if (!python) {
        GTEST_SKIP() << "reading the tag back needs Python's mutagen (python3-mutagen)";
    }
    const auto read = run_program(*python, {"-c",
                                            "import sys, mutagen\n"
                                            "f = mutagen.File(sys.argv[1])\n"
                                            "print(f.info.sample_rate, f.tags['TIT2'])\n",
                                            dir / "t.dff"});
    EXPECT_EQ(read.status, 0) << read.err;
    EXPECT_EQ(read.out, "5644800 Relabelled\n");
}

}  // namespace
}  // namespace dsd::test
