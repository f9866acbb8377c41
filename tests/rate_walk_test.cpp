// The chunk walks of the rate rewriters, on headers built in memory.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "byte_order.hpp"
#include "dff_builder.hpp"
#include "dsdiff.hpp"
#include "message_format.hpp"
#include "messages.hpp"
#include "wav.hpp"
#include "wav_builder.hpp"

namespace dsd::rate {
namespace {

using testgen::Bytes;

std::string text_at(const Bytes& bytes, std::size_t offset, std::size_t length) {
    return std::string(bytes.begin() + static_cast<std::ptrdiff_t>(offset),
                       bytes.begin() + static_cast<std::ptrdiff_t>(offset + length));
}

DffRateField locate_dff(const Bytes& bytes) {
    return locate_dff_rate_field(memory_source(bytes));
}

WavFormatFields locate_wav(const Bytes& bytes) {
    return locate_wav_format(memory_source(bytes));
}

Bytes with_be64(Bytes bytes, std::size_t offset, std::uint64_t value) {
    store_be64(std::span(bytes).subspan(offset, 8), value);
    return bytes;
}

// --- The header builders against the converters' 130-byte layout ---------

TEST(DffBuilder, ConverterHeaderHasTheConvertersLayout) {
    const Bytes h = testgen::converter_dff_header(2822400, 1000);
    ASSERT_EQ(h.size(), 130u);
    EXPECT_EQ(text_at(h, 0, 4), "FRM8");
    EXPECT_EQ(load_be64(std::span(h).subspan(4, 8)), 1000u + 118u);
    EXPECT_EQ(text_at(h, 12, 4), "DSD ");
    EXPECT_EQ(text_at(h, 16, 4), "FVER");
    EXPECT_EQ(load_be64(std::span(h).subspan(20, 8)), 4u);
    EXPECT_EQ(load_be32(std::span(h).subspan(28, 4)), 0x01040000u);
    EXPECT_EQ(text_at(h, 32, 4), "PROP");
    EXPECT_EQ(load_be64(std::span(h).subspan(36, 8)), 74u);
    EXPECT_EQ(text_at(h, 44, 8), "SND FS  ");
    EXPECT_EQ(load_be64(std::span(h).subspan(52, 8)), 4u);
    EXPECT_EQ(load_be32(std::span(h).subspan(60, 4)), 2822400u);
    EXPECT_EQ(text_at(h, 64, 4), "CHNL");
    EXPECT_EQ(load_be64(std::span(h).subspan(68, 8)), 10u);
    EXPECT_EQ(text_at(h, 76, 10), std::string("\0\2SLFTSRGT", 10));
    EXPECT_EQ(text_at(h, 86, 4), "CMPR");
    EXPECT_EQ(load_be64(std::span(h).subspan(90, 8)), 20u);
    EXPECT_EQ(text_at(h, 98, 20), std::string("DSD \x0enot compressed\0", 20));
    EXPECT_EQ(text_at(h, 118, 4), "DSD ");
    EXPECT_EQ(load_be64(std::span(h).subspan(122, 8)), 1000u);
}

// --- DFF walk ----------------------------------------------------------------

TEST(DffWalk, FindsTheRateAtSixtyInTheConvertersLayout) {
    const auto field = locate_dff(testgen::converter_dff_file(5644800, testgen::pattern_bytes(64)));
    EXPECT_EQ(field.finding, DffFinding::found);
    EXPECT_EQ(field.offset, 60u);
    EXPECT_EQ(field.rate, 5644800u);
}

TEST(DffWalk, FindsFsWhereverItStandsInProp) {
    const Bytes file = testgen::dff_form(
        {testgen::dff_fver(),
         testgen::dff_prop({testgen::dff_chnl_stereo(), testgen::dff_cmpr("DSD ", "not compressed"),
                            testgen::dff_fs(2822400)}),
         testgen::dff_chunk("DSD ", testgen::pattern_bytes(16))});
    const auto field = locate_dff(file);
    ASSERT_EQ(field.finding, DffFinding::found);
    // 16 form + 16 FVER + 16 PROP header and type + 22 CHNL + 32 CMPR + 12.
    EXPECT_EQ(field.offset, 114u);
    EXPECT_EQ(field.rate, 2822400u);
}

TEST(DffWalk, SkipsOtherChunksAndTheirPadBytes) {
    const Bytes file = testgen::dff_form(
        {testgen::dff_fver(), testgen::dff_chunk("COMT", {'a', 'b', 'c', 'd', 'e'}),
         testgen::dff_prop({}, "XYZ "),  // another property type
         testgen::dff_prop({testgen::dff_chunk("ABSS", {1, 2, 3}), testgen::dff_fs(11289600)}),
         testgen::dff_chunk("DSD ", testgen::pattern_bytes(8))});
    const auto field = locate_dff(file);
    ASSERT_EQ(field.finding, DffFinding::found);
    // COMT at 32 (17 + pad = 18), PROP "XYZ " at 50 (16), PROP at 66,
    // its locals from 82, ABSS (15 + pad = 16), FS at 98.
    EXPECT_EQ(field.offset, 110u);
    EXPECT_EQ(field.rate, 11289600u);
}

TEST(DffWalk, DstCompressedIsReported) {
    const Bytes dst_first = testgen::dff_form(
        {testgen::dff_fver(),
         testgen::dff_prop({testgen::dff_cmpr("DST ", "DST Encoded"), testgen::dff_fs(2822400)})});
    EXPECT_EQ(locate_dff(dst_first).finding, DffFinding::dst_compressed);
    const Bytes dst_last =
        testgen::dff_form({testgen::dff_fver(),
                           testgen::dff_prop({testgen::dff_fs(2822400), testgen::dff_chnl_stereo(),
                                              testgen::dff_cmpr("DST ", "DST Encoded")})});
    EXPECT_EQ(locate_dff(dst_last).finding, DffFinding::dst_compressed);
}

TEST(DffWalk, RejectsFilesThatAreNotDsdiff) {
    const Bytes good = testgen::converter_dff_file(2822400, testgen::pattern_bytes(8));
    auto changed = [&](std::size_t offset, std::string_view text) {
        Bytes b = good;
        std::copy(text.begin(), text.end(), b.begin() + static_cast<std::ptrdiff_t>(offset));
        return b;
    };
    EXPECT_EQ(locate_dff(changed(0, "FORM")).finding, DffFinding::not_dff);
    EXPECT_EQ(locate_dff(changed(12, "DSF ")).finding, DffFinding::not_dff);
    EXPECT_EQ(locate_dff(changed(32, "PROQ")).finding, DffFinding::not_dff);  // no PROP
    EXPECT_EQ(locate_dff(changed(44, "SNE ")).finding, DffFinding::not_dff);  // no SND PROP
    EXPECT_EQ(locate_dff(changed(48, "FS_ ")).finding, DffFinding::not_dff);  // no FS
    EXPECT_EQ(locate_dff(with_be64(good, 52, 8)).finding, DffFinding::not_dff);
    EXPECT_EQ(locate_dff(with_be64(good, 4, 0)).finding, DffFinding::not_dff);  // unfinished

    const Bytes two_rates = testgen::dff_form(
        {testgen::dff_prop({testgen::dff_fs(2822400), testgen::dff_fs(5644800)})});
    EXPECT_EQ(locate_dff(two_rates).finding, DffFinding::not_dff);
    const Bytes fs_of_two =
        testgen::dff_form({testgen::dff_prop({testgen::dff_chunk("FS  ", {0, 1})})});
    EXPECT_EQ(locate_dff(fs_of_two).finding, DffFinding::not_dff);
    EXPECT_EQ(locate_dff(testgen::canonical_wav({}, testgen::pattern_bytes(200))).finding,
              DffFinding::not_dff);
}

TEST(DffWalk, EveryTruncationIsRejected) {
    const Bytes file = testgen::converter_dff_file(2822400, testgen::pattern_bytes(8));
    ASSERT_EQ(locate_dff(file).finding, DffFinding::found);
    for (std::size_t length = 0; length < file.size(); ++length) {
        const Bytes prefix(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(length));
        EXPECT_EQ(locate_dff(prefix).finding, DffFinding::not_dff) << "length " << length;
    }
}

// Sizes near 2^64 would wrap an offset computed before the bounds check.
TEST(DffWalk, SizesPastTheEndAreRejectedWithoutWrapping) {
    const Bytes good = testgen::converter_dff_file(2822400, testgen::pattern_bytes(8));
    for (const std::size_t size_field : {4, 20, 36, 52, 68, 90}) {
        for (const std::uint64_t huge :
             {~std::uint64_t{0}, ~std::uint64_t{0} - 11, ~std::uint64_t{0} - 27,
              std::uint64_t{1} << 63, std::uint64_t{good.size()}}) {
            EXPECT_EQ(locate_dff(with_be64(good, size_field, huge)).finding, DffFinding::not_dff)
                << "size field at " << size_field << " = " << huge;
        }
    }
}

TEST(DffWalk, ReadFailureIsNotMistakenForAFormat) {
    const Bytes file = testgen::converter_dff_file(2822400, {});
    ByteSource failing = memory_source(file);
    failing.read_exact = [](std::uint64_t, std::span<std::uint8_t>) { return false; };
    EXPECT_EQ(locate_dff_rate_field(failing).finding, DffFinding::unreadable);
}

// Whatever a damaged header says, a field that is found lies inside the file
// and really is the body of a four-byte "FS  " chunk.
TEST(DffWalk, DamagedHeadersNeverYieldAFieldOutsideAnFsChunk) {
    const Bytes good = testgen::converter_dff_file(2822400, testgen::pattern_bytes(16));
    std::mt19937 random(12345);
    for (int round = 0; round < 20000; ++round) {
        Bytes b = good;
        const int changes = 1 + static_cast<int>(random() % 3);
        for (int i = 0; i < changes; ++i) {
            b[random() % 130] = static_cast<std::uint8_t>(random());
        }
        const auto field = locate_dff(b);
        if (field.finding == DffFinding::found) {
            ASSERT_GE(field.offset, 28u);
            ASSERT_LE(field.offset + 4, b.size());
            EXPECT_EQ(text_at(b, field.offset - 12, 4), "FS  ");
            EXPECT_EQ(load_be64(std::span(b).subspan(field.offset - 8, 8)), 4u);
        }
    }
}

// --- WAV walk ----------------------------------------------------------------

const testgen::WavFormat stereo24{1, 2, 48000, 24};

TEST(WavWalk, FindsFmtInTheCanonicalLayout) {
    const auto fmt = locate_wav(testgen::canonical_wav(stereo24, testgen::pattern_bytes(60)));
    ASSERT_EQ(fmt.finding, WavFinding::found);
    EXPECT_EQ(fmt.rate_offset, 24u);
    EXPECT_EQ(fmt.sample_rate, 48000u);
    EXPECT_EQ(fmt.byte_rate, 288000u);
    EXPECT_EQ(fmt.block_align, 6u);
}

TEST(WavWalk, JunkOfAnyLengthBeforeFmt) {
    for (const auto& [junk, rate_offset] : {std::pair{26, 58}, std::pair{27, 60}}) {
        const Bytes file = testgen::wav_file(
            {testgen::riff_chunk("JUNK", Bytes(static_cast<std::size_t>(junk), 0)),
             testgen::riff_chunk("fmt ", testgen::fmt_body(stereo24)),
             testgen::riff_chunk("data", testgen::pattern_bytes(12))});
        const auto fmt = locate_wav(file);
        ASSERT_EQ(fmt.finding, WavFinding::found) << "JUNK of " << junk;
        EXPECT_EQ(fmt.rate_offset, static_cast<std::uint64_t>(rate_offset)) << "JUNK of " << junk;
    }
}

TEST(WavWalk, FmtInsideAnotherChunkIsNotTheFormat) {
    Bytes decoy(24, 0);
    std::copy_n("fmt \x10", 5, decoy.begin());
    const Bytes file =
        testgen::wav_file({testgen::riff_chunk("bext", decoy),
                           testgen::riff_chunk("fmt ", testgen::fmt_body(stereo24))});
    const auto fmt = locate_wav(file);
    ASSERT_EQ(fmt.finding, WavFinding::found);
    EXPECT_EQ(fmt.rate_offset, 12u + 32u + 12u);
}

TEST(WavWalk, RiffSizeFieldIsIgnored) {
    for (const std::uint32_t riff_size : {0u, 0xFFFFFFFFu, 4u}) {
        const Bytes file =
            testgen::wav_file({testgen::riff_chunk("JUNK", Bytes(40, 0)),
                               testgen::riff_chunk("fmt ", testgen::fmt_body(stereo24))},
                              "RIFF", riff_size);
        EXPECT_EQ(locate_wav(file).finding, WavFinding::found) << "RIFF size " << riff_size;
    }
}

TEST(WavWalk, Rf64TakesBigSizesFromDs64) {
    // A data chunk and a table-listed chunk before "fmt ", both with the
    // 32-bit size saying "see ds64".
    const Bytes file =
        testgen::wav_file({testgen::riff_chunk("ds64", testgen::ds64_body(0, 6, 1, {{"LIST", 10}})),
                           testgen::riff_chunk("data", testgen::pattern_bytes(6), 0xFFFFFFFF),
                           testgen::riff_chunk("LIST", Bytes(10, 'x'), 0xFFFFFFFF),
                           testgen::riff_chunk("fmt ", testgen::fmt_body(stereo24))},
                          "RF64", 0xFFFFFFFF);
    const auto fmt = locate_wav(file);
    ASSERT_EQ(fmt.finding, WavFinding::found);
    // ds64 at 12 (8 + 40), data at 60 (8 + 6), LIST at 74 (8 + 10), fmt at 92.
    EXPECT_EQ(fmt.rate_offset, 104u);

    Bytes bw64 = file;
    std::copy_n("BW64", 4, bw64.begin());
    EXPECT_EQ(locate_wav(bw64).finding, WavFinding::found);

    // A ds64 size near 2^64 ends the walk instead of wrapping back.
    const Bytes wrapping = testgen::wav_file(
        {testgen::riff_chunk("ds64", testgen::ds64_body(0, ~std::uint64_t{0} - 7, 1)),
         testgen::riff_chunk("data", testgen::pattern_bytes(6), 0xFFFFFFFF),
         testgen::riff_chunk("fmt ", testgen::fmt_body(stereo24))},
        "RF64", 0xFFFFFFFF);
    EXPECT_EQ(locate_wav(wrapping).finding, WavFinding::not_wav);

    // A plain RIFF file has no ds64 sizes: 0xFFFFFFFF runs past the end.
    Bytes riff = file;
    std::copy_n("RIFF", 4, riff.begin());
    EXPECT_EQ(locate_wav(riff).finding, WavFinding::not_wav);
}

// ADPCM: 4-bit samples in blocks of 1024 bytes.
Bytes adpcm_fmt_body() {
    Bytes fmt = testgen::fmt_body({2, 2, 48000, 4});
    fmt[12] = 0x00;
    fmt[13] = 0x04;
    return fmt;
}

TEST(WavWalk, OnlyFixedFrameLayoutsAreRewritable) {
    auto finding_for = [](const Bytes& fmt_chunk_body) {
        return locate_wav(testgen::wav_file({testgen::riff_chunk("fmt ", fmt_chunk_body)})).finding;
    };
    EXPECT_EQ(finding_for(testgen::fmt_body({3, 2, 96000, 32})), WavFinding::found);
    EXPECT_EQ(finding_for(testgen::fmt_extensible_body(stereo24, 1)), WavFinding::found);
    EXPECT_EQ(finding_for(testgen::fmt_extensible_body({1, 2, 48000, 32}, 3)), WavFinding::found);
    // A-law and mu-law: one byte per sample, plain or extensible.
    for (const std::uint16_t tag : {6, 7}) {
        EXPECT_EQ(finding_for(testgen::fmt_body({tag, 1, 8000, 8})), WavFinding::found) << tag;
        EXPECT_EQ(finding_for(testgen::fmt_extensible_body({1, 2, 8000, 8}, tag)),
                  WavFinding::found)
            << tag;
    }

    EXPECT_EQ(finding_for(adpcm_fmt_body()), WavFinding::not_pcm);
    EXPECT_EQ(finding_for(testgen::fmt_extensible_body(stereo24, 2)), WavFinding::not_pcm);
    // Ambisonic B-format PCM: code 1 but a different GUID.
    const Bytes b_format{0x01, 0x00, 0x00, 0x00, 0x21, 0x07, 0xD3, 0x11,
                         0x86, 0x44, 0xC8, 0xC1, 0xCA, 0x00, 0x00, 0x00};
    EXPECT_EQ(finding_for(testgen::fmt_extensible_body(stereo24, 1, b_format)),
              WavFinding::not_pcm);
    // Extensible, but too short to hold its sub-format.
    Bytes short_extensible = testgen::fmt_extensible_body(stereo24, 1);
    short_extensible.resize(18);
    EXPECT_EQ(finding_for(short_extensible), WavFinding::not_pcm);
}

TEST(WavWalk, NoChannelsOrNoBlockAlignIsNotWav) {
    for (const std::size_t field : {2u, 12u}) {
        for (const Bytes& body :
             {testgen::fmt_body(stereo24), testgen::fmt_extensible_body(stereo24, 1)}) {
            Bytes bad = body;
            bad[field] = 0;
            bad[field + 1] = 0;
            EXPECT_EQ(locate_wav(testgen::wav_file({testgen::riff_chunk("fmt ", bad)})).finding,
                      WavFinding::not_wav)
                << field;
        }
    }
}

TEST(WavWalk, RejectsFilesThatAreNotWav) {
    const Bytes fmt = testgen::riff_chunk("fmt ", testgen::fmt_body(stereo24));
    EXPECT_EQ(locate_wav(testgen::wav_file({testgen::riff_chunk("data", Bytes(8, 1))})).finding,
              WavFinding::not_wav);
    EXPECT_EQ(locate_wav(testgen::wav_file({fmt}, "RIFX")).finding, WavFinding::not_wav);
    Bytes avi = testgen::wav_file({fmt});
    std::copy_n("AVI ", 4, avi.begin() + 8);
    EXPECT_EQ(locate_wav(avi).finding, WavFinding::not_wav);
    Bytes fourteen = testgen::fmt_body(stereo24);
    fourteen.resize(14);
    EXPECT_EQ(locate_wav(testgen::wav_file({testgen::riff_chunk("fmt ", fourteen)})).finding,
              WavFinding::not_wav);
    // A huge size before "fmt " ends the walk instead of wrapping past it.
    for (const std::uint32_t huge : {0xFFFFFFFFu, 0xFFFFFFF0u, 0x80000000u}) {
        const Bytes file = testgen::wav_file({testgen::riff_chunk("JUNK", Bytes(8, 0), huge), fmt});
        EXPECT_EQ(locate_wav(file).finding, WavFinding::not_wav) << huge;
    }
    EXPECT_EQ(locate_wav(testgen::converter_dff_file(2822400, {})).finding, WavFinding::not_wav);
}

TEST(WavWalk, TruncationInsideTheFmtChunkIsRejected) {
    const Bytes file = testgen::canonical_wav(stereo24, testgen::pattern_bytes(12));
    for (std::size_t length = 0; length < 36; ++length) {
        const Bytes prefix(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(length));
        EXPECT_EQ(locate_wav(prefix).finding, WavFinding::not_wav) << "length " << length;
    }
}

// --- Message texts -------------------------------------------------------------

TEST(Messages, NameIsInsertedVerbatim) {
    EXPECT_EQ(format_message(text::cannot_open, "100%s.dff"),
              "Usage: Can't open file. 100%s.dff\n");
    EXPECT_EQ(format_message(text::usage_text, "tool"),
              "Change sampling rate\nUsage: tool <diff_file1> <diff_file2>.... \n");
}

}  // namespace
}  // namespace dsd::rate
