// The one DSDIFF chunk walk and the DSF header writer, on files built in
// memory.
#include <gtest/gtest.h>

#include <string>

#include "dff_builder.hpp"
#include "dsdiff.hpp"
#include "dsf.hpp"
#include "dsf_expect.hpp"
#include "id3_tag.hpp"
#include "wav_builder.hpp"

namespace dsd {
namespace {

using testgen::Bytes;
namespace gen = testgen;

DffWalk walk(const Bytes& bytes) {
    return walk_dff(memory_source(bytes));
}

std::string id_text(const ChunkId& id) {
    return std::string(id.begin(), id.end());
}

Bytes stereo_prop() {
    return gen::dff_prop(
        {gen::dff_fs(2822400), gen::dff_chnl_stereo(), gen::dff_cmpr("DSD ", "not compressed")});
}

TEST(DsdiffWalk, ChunksInAnyOrderWithPadBytesAndUnknownChunksSkipped) {
    const Bytes tag = {'I', 'D', '3', 3, 0, 0, 0};
    const Bytes file = gen::dff_form({
        gen::dff_fver(),                                    // 16: 16 bytes
        gen::dff_chunk("COMT", {'a', 'b', 'c', 'd', 'e'}),  // 32: 12 + 5 + pad
        gen::dff_chunk("ID3 ", tag),                        // 50: 12 + 7 + pad
        gen::dff_chunk("DSD ", gen::pattern_bytes(6)),      // 70: 18
        gen::dff_chunk("XYZW", {1, 2, 3}),                  // 88: 16
        gen::dff_prop({gen::dff_chunk("ABSS", {1, 2, 3}), gen::dff_fs(5644800),
                       gen::dff_chnl({"MLFT", "MRGT", "C"}),
                       gen::dff_cmpr("DSD ", "not compressed")}),  // 104: 12 + 4, locals at 120
        gen::dff_chunk("ID3 ", {'I', 'D', '3'}),                   // a second tag chunk is not used
    });
    const DffWalk w = walk(file);
    ASSERT_EQ(w.error, DffWalkError::none);
    ASSERT_TRUE(w.id3 && w.sound && w.rate_offset);
    EXPECT_EQ(w.id3->offset, 62u);
    EXPECT_EQ(w.id3->size, 7u);
    EXPECT_EQ(w.sound->offset, 82u);
    EXPECT_EQ(w.sound->size, 6u);
    EXPECT_FALSE(w.sound_is_dst);
    EXPECT_TRUE(w.has_sound_properties);
    // ABSS at 120 (15 + pad), FS at 136.
    EXPECT_EQ(*w.rate_offset, 148u);
    EXPECT_EQ(w.rate, 5644800u);
    EXPECT_TRUE(w.has_channels);
    ASSERT_EQ(w.channel_count, 3u);
    EXPECT_EQ(id_text(w.channel_ids[0]), "MLFT");
    EXPECT_EQ(id_text(w.channel_ids[1]), "MRGT");
    EXPECT_EQ(id_text(w.channel_ids[2]), "C   ");
    EXPECT_FALSE(w.compressed());
}

TEST(DsdiffWalk, PadByteMayBeMissingAtTheEnd) {
    Bytes file = gen::dff_form({gen::dff_fver(), stereo_prop(),
                                gen::dff_chunk("DSD ", gen::pattern_bytes(4)),
                                gen::dff_chunk("ID3 ", {'I', 'D', '3', 4, 0})});
    file.pop_back();
    test::put_be(file, 4, file.size() - 12, 8);
    const DffWalk w = walk(file);
    ASSERT_EQ(w.error, DffWalkError::none);
    ASSERT_TRUE(w.id3);
    EXPECT_EQ(w.id3->size, 5u);
    EXPECT_EQ(w.id3->offset + 5, file.size());
}

TEST(DsdiffWalk, ManyChannelsAreCountedAndTheirIdsNotKept) {
    const Bytes file = gen::dff_form(
        {gen::dff_prop({gen::dff_fs(2822400),
                        gen::dff_chnl({"C1", "C2", "C3", "C4", "C5", "C6", "C7", "C8"})}),
         gen::dff_chunk("DSD ", gen::pattern_bytes(16))});
    const DffWalk w = walk(file);
    ASSERT_EQ(w.error, DffWalkError::none);
    EXPECT_EQ(w.channel_count, 8u);
}

TEST(DsdiffWalk, CompressionIsAnyTypeButDsdOrADstSoundChunk) {
    const auto with_cmpr = [](std::vector<Bytes> cmprs) {
        std::vector<Bytes> locals{gen::dff_fs(2822400), gen::dff_chnl_stereo()};
        locals.insert(locals.end(), cmprs.begin(), cmprs.end());
        return gen::dff_form({gen::dff_prop(locals), gen::dff_chunk("DSD ", {})});
    };
    const DffWalk dst_first =
        walk(with_cmpr({gen::dff_cmpr("DST ", "DST Encoded"), gen::dff_cmpr("DSD ", "x")}));
    ASSERT_TRUE(dst_first.compression);
    EXPECT_EQ(id_text(*dst_first.compression), "DST ");
    EXPECT_EQ(id_text(*walk(with_cmpr({gen::dff_cmpr("XYZ1", "")})).compression), "XYZ1");
    EXPECT_FALSE(
        walk(with_cmpr({gen::dff_cmpr("DSD ", ""), gen::dff_cmpr("DSD ", "")})).compressed());
    const DffWalk dst_sound = walk(gen::dff_form({stereo_prop(), gen::dff_chunk("DST ", {1, 2})}));
    EXPECT_TRUE(dst_sound.sound_is_dst);
    EXPECT_TRUE(dst_sound.compressed());

    // The rate rewriters leave every compressed file alone.
    for (const Bytes& file :
         {with_cmpr({gen::dff_cmpr("DST ", "DST Encoded"), gen::dff_cmpr("DSD ", "x")}),
          gen::dff_form({gen::dff_chunk("DST ", {1, 2}), stereo_prop()})}) {
        EXPECT_EQ(locate_dff_rate_field(memory_source(file)).finding, DffFinding::dst_compressed);
    }
}

TEST(DsdiffWalk, EveryBreakOfTheLayoutStopsTheWalk) {
    struct Case {
        std::string what;
        Bytes file;
        DffWalkError error;
        std::string id;
        std::uint64_t offset;
        std::uint64_t size;
    };
    const Bytes sound = gen::dff_chunk("DSD ", gen::pattern_bytes(8));
    const Bytes good = gen::dff_form({gen::dff_fver(), stereo_prop(), sound});
    // The converters' layout: FVER at 16, PROP at 32, its locals at 48 (FS),
    // 64 (CHNL) and 86 (CMPR), the sound chunk at 118.
    const auto with_size = [&](std::size_t at, std::uint64_t size) {
        Bytes b = good;
        test::put_be(b, at, size, 8);
        return b;
    };
    Bytes past_form = good;  // the form ends inside the sound chunk
    test::put_be(past_form, 4, good.size() - 12 - 4, 8);
    const Bytes prop_ending_in_two_bytes =
        gen::dff_form({gen::dff_prop({gen::dff_fs(2822400), Bytes{'A', 'B'}}), sound});

    const Case cases[] = {
        {"a WAV file", gen::canonical_wav({}, gen::pattern_bytes(20)), DffWalkError::not_dsdiff,
         "RIFF", 0, 4},
        {"another form type", gen::dff_form({}, std::nullopt, "AIFF"), DffWalkError::not_dsdiff,
         "AIFF", 12, 4},
        {"three bytes", Bytes{'F', 'R', 'M'}, DffWalkError::not_dsdiff, std::string("FRM\0", 4), 0,
         3},
        {"unfinished form", with_size(4, 0), DffWalkError::wrong_chunk_size, "FRM8", 0, 0},
        {"truncated form", with_size(4, good.size() - 11), DffWalkError::past_end_of_file, "FRM8",
         0, good.size() - 11},
        {"sound past the end", with_size(122, 9), DffWalkError::past_end_of_file, "DSD ", 118, 9},
        {"sound past the form", past_form, DffWalkError::past_parent, "DSD ", 118, 8},
        {"FS past PROP", with_size(52, 60), DffWalkError::past_parent, "FS  ", 48, 60},
        {"CMPR past PROP", with_size(90, 21), DffWalkError::past_parent, "CMPR", 86, 21},
        {"no room for a header in PROP", prop_ending_in_two_bytes, DffWalkError::past_parent,
         std::string("AB\0\0", 4), 48, 0},
        {"huge PROP", with_size(36, ~std::uint64_t{0}), DffWalkError::past_end_of_file, "PROP", 32,
         ~std::uint64_t{0}},
        {"FS of 8 bytes", gen::dff_form({gen::dff_prop({gen::dff_chunk("FS  ", Bytes(8, 1))})}),
         DffWalkError::wrong_chunk_size, "FS  ", 32, 8},
        {"CHNL shorter than its ids",
         gen::dff_form({gen::dff_prop({gen::dff_chunk("CHNL", {0, 3, 'C', ' ', ' ', ' '})})}),
         DffWalkError::wrong_chunk_size, "CHNL", 32, 6},
        {"CHNL without a count", gen::dff_form({gen::dff_prop({gen::dff_chunk("CHNL", {0})})}),
         DffWalkError::wrong_chunk_size, "CHNL", 32, 1},
        {"CMPR without a type", gen::dff_form({gen::dff_prop({gen::dff_chunk("CMPR", {1, 2})})}),
         DffWalkError::wrong_chunk_size, "CMPR", 32, 2},
        {"second PROP", gen::dff_form({stereo_prop(), sound, stereo_prop()}),
         DffWalkError::second_chunk, "PROP", 16 + 86 + 20, 74},
        {"second FS", gen::dff_form({gen::dff_prop({gen::dff_fs(1), gen::dff_fs(1)})}),
         DffWalkError::second_chunk, "FS  ", 48, 4},
        {"second CHNL",
         gen::dff_form({gen::dff_prop({gen::dff_chnl_stereo(), gen::dff_chnl_stereo()})}),
         DffWalkError::second_chunk, "CHNL", 54, 10},
        {"second sound chunk", gen::dff_form({sound, stereo_prop(), sound}),
         DffWalkError::second_chunk, "DSD ", 16 + 20 + 86, 8},
        {"DST after DSD", gen::dff_form({sound, gen::dff_chunk("DST ", {1, 2})}),
         DffWalkError::second_chunk, "DST ", 36, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const DffWalk w = walk(c.file);
        EXPECT_EQ(w.error, c.error);
        EXPECT_EQ(id_text(w.error_id), c.id);
        EXPECT_EQ(w.error_offset, c.offset);
        EXPECT_EQ(w.error_size, c.size);
    }
    EXPECT_EQ(walk(good).error, DffWalkError::none);
}

// The rewriters need the properties whole; what comes after them only
// matters when it is compressed sound.
TEST(DsdiffWalk, RewritersLookPastTheSoundPropertiesOnlyForCompression) {
    const Bytes sound = gen::dff_chunk("DSD ", gen::pattern_bytes(8));
    const auto rate_field = [](const Bytes& file) {
        return locate_dff_rate_field(memory_source(file)).finding;
    };
    EXPECT_EQ(rate_field(gen::dff_form({stereo_prop(), sound, sound})), DffFinding::found);
    EXPECT_EQ(rate_field(gen::dff_form({stereo_prop(), gen::dff_prop({gen::dff_fs(1)})})),
              DffFinding::found);
    EXPECT_EQ(rate_field(gen::dff_form({sound, sound, stereo_prop()})), DffFinding::not_dff);
    EXPECT_EQ(rate_field(gen::dff_form({gen::dff_chunk("DST ", {}), sound, stereo_prop()})),
              DffFinding::dst_compressed);
    EXPECT_EQ(rate_field(gen::dff_form({gen::dff_prop({gen::dff_fs(1), gen::dff_fs(1)}), sound})),
              DffFinding::not_dff);
    Bytes truncated_sound = gen::dff_form({gen::dff_fver(), stereo_prop(), sound});
    test::put_be(truncated_sound, 122, 100, 8);
    EXPECT_EQ(rate_field(truncated_sound), DffFinding::found);
    // A property chunk too small for a type is none.
    EXPECT_EQ(walk(gen::dff_form({gen::dff_chunk("PROP", {'S', 'N'}), stereo_prop(), sound})).error,
              DffWalkError::none);
}

TEST(DsdiffWalk, ReadFailuresAreReportedWithTheirOffset) {
    const Bytes file = gen::dff_form({gen::dff_fver(), stereo_prop()});
    for (const std::uint64_t failing : {0u, 16u, 44u, 60u, 76u, 98u}) {
        ByteSource source = memory_source(file);
        const auto inner = source.read_exact;
        source.read_exact = [&](std::uint64_t offset, std::span<std::uint8_t> out) {
            return offset != failing && inner(offset, out);
        };
        const DffWalk w = walk_dff(source);
        EXPECT_EQ(w.error, DffWalkError::unreadable) << failing;
        EXPECT_EQ(w.error_offset, failing);
    }
}

Bytes frame_table(std::uint32_t frames) {
    Bytes body(6);
    test::put_be(body, 0, frames, 4);
    test::put_be(body, 4, 75, 2);
    return gen::dff_chunk("FRTE", body);
}

Bytes concatenated(const std::vector<Bytes>& chunks) {
    Bytes out;
    for (const Bytes& chunk : chunks) {
        out.insert(out.end(), chunk.begin(), chunk.end());
    }
    return out;
}

// Frames of every length class (even, odd, empty, larger than a read
// window), a check value after some, unknown chunks between them.
std::vector<Bytes> sample_frames() {
    return {gen::pattern_bytes(10, 1), gen::pattern_bytes(7, 2), Bytes{},
            gen::pattern_bytes(3 << 20, 3), gen::pattern_bytes(5000, 4)};
}

Bytes dst_body(const std::vector<Bytes>& frames) {
    std::vector<Bytes> chunks{frame_table(static_cast<std::uint32_t>(frames.size()))};
    for (std::size_t i = 0; i < frames.size(); ++i) {
        chunks.push_back(gen::dff_chunk("DSTF", frames[i]));
        chunks.push_back(gen::dff_chunk(i % 2 == 0 ? "DSTC" : "XYZW", {1, 2, 3, 4}));
    }
    return concatenated(chunks);
}

TEST(DsdiffDst, FramesCountedAndReadInOrder) {
    const std::vector<Bytes> frames = sample_frames();
    const Bytes file = gen::dff_form(
        {stereo_prop(), gen::dff_chunk("DST ", dst_body(frames)), gen::dff_chunk("DSTI", {9})});
    const DffWalk w = walk(file);
    ASSERT_EQ(w.error, DffWalkError::none);
    ASSERT_TRUE(w.sound && w.sound_is_dst);
    const DffDstWalk dst = walk_dff_dst(memory_source(file), *w.sound);
    EXPECT_EQ(dst.error, DffWalkError::none);
    EXPECT_TRUE(dst.has_frame_table);
    EXPECT_EQ(dst.frame_count, frames.size());
    EXPECT_EQ(dst.frame_rate, 75u);
    EXPECT_EQ(dst.frames, frames.size());

    const ByteSource source = memory_source(file);
    DffDstFrameReader reader(source, *w.sound);
    Bytes frame{0xEE};
    for (const Bytes& expected : frames) {
        ASSERT_EQ(reader.next(frame, 4 << 20), DffDstFrameReader::Next::frame);
        EXPECT_EQ(frame, expected);
    }
    EXPECT_EQ(reader.next(frame, 4 << 20), DffDstFrameReader::Next::end);

    // Of a frame over the limit, only its first bytes are read, and the
    // next frame is found.
    DffDstFrameReader limited(source, *w.sound);
    for (const Bytes& expected : frames) {
        ASSERT_EQ(limited.next(frame, 8), DffDstFrameReader::Next::frame);
        EXPECT_EQ(frame, Bytes(expected.begin(),
                               expected.begin() + std::min<std::ptrdiff_t>(8, expected.size())));
    }
    EXPECT_EQ(limited.next(frame, 8), DffDstFrameReader::Next::end);

    // A read failure is named by where the read started.
    // FRTE, three frames (10, 7 + pad and 0 bytes), each with a chunk after it.
    const std::uint64_t fourth = w.sound->offset + 18 + 3 * (12 + 16) + 10 + 8;
    ByteSource failing = memory_source(file);
    const auto inner = failing.read_exact;
    failing.read_exact = [&](std::uint64_t offset, std::span<std::uint8_t> out) {
        return offset != fourth + 12 && inner(offset, out);
    };
    DffDstFrameReader broken(failing, *w.sound);
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(broken.next(frame, 4 << 20), DffDstFrameReader::Next::frame);
    }
    EXPECT_EQ(broken.next(frame, 4 << 20), DffDstFrameReader::Next::unreadable);
    EXPECT_EQ(broken.failed_at(), fourth + 12);
}

TEST(DsdiffDst, WhatTheChunkLacksOrBreaks) {
    const auto dst_walk = [](const Bytes& body) {
        const Bytes file = gen::dff_form({gen::dff_chunk("DST ", body), gen::dff_fver()});
        return walk_dff_dst(memory_source(file), {28, body.size()});
    };
    const Bytes frame = gen::dff_chunk("DSTF", {0});
    const DffDstWalk no_table = dst_walk(concatenated({frame, frame}));
    EXPECT_EQ(no_table.error, DffWalkError::none);
    EXPECT_FALSE(no_table.has_frame_table);
    EXPECT_EQ(no_table.frames, 2u);
    const DffDstWalk empty = dst_walk({});
    EXPECT_EQ(empty.frames, 0u);
    EXPECT_FALSE(empty.has_frame_table);
    const DffDstWalk differing = dst_walk(concatenated({frame_table(3), frame}));
    EXPECT_EQ(differing.frame_count, 3u);
    EXPECT_EQ(differing.frames, 1u);

    Bytes past_parent = frame;
    test::put_be(past_parent, 4, 4, 8);
    const struct {
        Bytes body;
        DffWalkError error;
        std::string id;
        std::uint64_t offset;
        std::uint64_t size;
    } cases[] = {
        {concatenated({frame_table(1), frame_table(1)}), DffWalkError::second_chunk, "FRTE", 46, 6},
        {gen::dff_chunk("FRTE", {0, 0, 0, 1, 0}), DffWalkError::wrong_chunk_size, "FRTE", 28, 5},
        {concatenated({frame_table(1), past_parent}), DffWalkError::past_parent, "DSTF", 46, 4},
    };
    for (const auto& c : cases) {
        const DffDstWalk w = dst_walk(c.body);
        EXPECT_EQ(w.error, c.error) << c.id;
        EXPECT_EQ(id_text(w.error_id), c.id);
        EXPECT_EQ(w.error_offset, c.offset);
        EXPECT_EQ(w.error_size, c.size);
    }
}

// Reads inside the window, across its end, larger than it, past the end
// it may fill to, and backwards, all give the source's bytes.
TEST(WindowedReader, EveryReadGivesTheSourceBytes) {
    const Bytes bytes = gen::pattern_bytes(1000, 7);
    ByteSource source = memory_source(bytes);
    int reads = 0;
    const auto inner = source.read_exact;
    source.read_exact = [&](std::uint64_t offset, std::span<std::uint8_t> out) {
        ++reads;
        return inner(offset, out);
    };
    WindowedReader reader(source, 900, 64);
    const std::pair<std::uint64_t, std::size_t> reads_made[] = {
        {0, 12}, {12, 12}, {60, 4}, {60, 8}, {100, 200}, {10, 3}, {880, 20}, {890, 20}, {990, 10}};
    for (const auto& [offset, length] : reads_made) {
        Bytes out(length);
        ASSERT_TRUE(reader.read_exact(offset, out)) << offset;
        EXPECT_EQ(out, Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(offset),
                             bytes.begin() + static_cast<std::ptrdiff_t>(offset + length)));
    }
    // One fill for the first three; then a refill at 60, a direct read, a
    // refill at 10, one at 880 (20 bytes, up to the end), one at 890 and a
    // direct read after it, and a direct read past the end.
    EXPECT_EQ(reads, 8);
    Bytes out(20);
    EXPECT_FALSE(reader.read_exact(995, out));
}

Bytes text_chunk(std::string_view id, std::string_view text, std::uint32_t count) {
    Bytes body(4 + text.size());
    test::put_be(body, 0, count, 4);
    // Byte by byte: GCC 12 takes a range insert here for an overflow.
    for (std::size_t i = 0; i < text.size(); ++i) {
        body[4 + i] = static_cast<std::uint8_t>(text[i]);
    }
    return gen::dff_chunk(id, body);
}

Bytes text_chunk(std::string_view id, std::string_view text) {
    return text_chunk(id, text, static_cast<std::uint32_t>(text.size()));
}

DffDiin diin_of(const Bytes& file) {
    const DffWalk w = walk(file);
    EXPECT_EQ(w.error, DffWalkError::none);
    EXPECT_TRUE(w.diin);
    return w.diin ? read_dff_diin(memory_source(file), *w.diin) : DffDiin{};
}

TEST(DsdiffDiin, ArtistAndTitleAmongOtherChunks) {
    // Odd texts with their pad byte, a size that counts the pad, markers and
    // an identifier around them; the first DIIN and the first of each text
    // count.
    Bytes counted_pad = text_chunk("DITI", "Odd");
    test::put_be(counted_pad, 4, 8, 8);
    const Bytes file = gen::dff_form({
        gen::dff_fver(),
        gen::dff_chunk("DIIN",
                       [&] {
                           Bytes body = gen::dff_chunk("EMID", {'x', 0, 0});
                           for (const Bytes& chunk :
                                {gen::dff_chunk("MARK", Bytes(22, 0)),
                                 text_chunk("DIAR", "Bj\xf6rk"), counted_pad,
                                 text_chunk("DIAR", "Second"), text_chunk("DITI", "Second")}) {
                               body.insert(body.end(), chunk.begin(), chunk.end());
                           }
                           return body;
                       }()),
        gen::dff_chunk("DIIN", text_chunk("DIAR", "Other")),
        stereo_prop(),
    });
    const DffDiin diin = diin_of(file);
    EXPECT_EQ(diin.error, DffWalkError::none);
    EXPECT_EQ(diin.artist, "Bj\xf6rk");
    EXPECT_EQ(diin.title, "Odd");

    const DffDiin none = diin_of(gen::dff_form({gen::dff_chunk("DIIN", {})}));
    EXPECT_EQ(none.error, DffWalkError::none);
    EXPECT_FALSE(none.artist || none.title);
    EXPECT_EQ(diin_of(gen::dff_form({gen::dff_chunk("DIIN", text_chunk("DITI", ""))})).title, "");
}

TEST(DsdiffDiin, BreaksKeepWhatCameBefore) {
    const Bytes artist = text_chunk("DIAR", "A");
    const auto diin = [&](const Bytes& second) {
        Bytes body = artist;
        body.insert(body.end(), second.begin(), second.end());
        return diin_of(gen::dff_form({gen::dff_chunk("DIIN", body), gen::dff_fver()}));
    };
    Bytes past_parent = text_chunk("DITI", "T");
    test::put_be(past_parent, 4, 10, 8);
    // The DIIN data starts at 28, the second chunk at 28 + 18.
    const struct {
        Bytes chunk;
        DffWalkError error;
        std::string id;
        std::uint64_t size;
    } cases[] = {
        {text_chunk("DITI", "Title", 6), DffWalkError::wrong_chunk_size, "DITI", 9},
        {gen::dff_chunk("DITI", {0, 0, 0}), DffWalkError::wrong_chunk_size, "DITI", 3},
        {past_parent, DffWalkError::past_parent, "DITI", 10},
    };
    for (const auto& c : cases) {
        const DffDiin d = diin(c.chunk);
        EXPECT_EQ(d.error, c.error) << c.id;
        EXPECT_EQ(id_text(d.error_id), c.id);
        EXPECT_EQ(d.error_offset, 46u);
        EXPECT_EQ(d.error_size, c.size);
        EXPECT_EQ(d.artist, "A");
        EXPECT_FALSE(d.title);
    }
    // A text past the limit is left out; the walk goes on.
    const std::string longest(dff_max_text_length, 'x');
    EXPECT_EQ(diin(text_chunk("DITI", longest)).title, longest);
    const DffDiin too_long = diin(text_chunk("DITI", longest + "y"));
    EXPECT_EQ(too_long.error, DffWalkError::none);
    EXPECT_FALSE(too_long.title);

    ByteSource failing = memory_source(gen::dff_form({gen::dff_chunk("DIIN", artist)}));
    const auto inner = failing.read_exact;
    failing.read_exact = [&](std::uint64_t offset, std::span<std::uint8_t> out) {
        return offset != 44 && inner(offset, out);
    };
    const DffDiin unreadable = read_dff_diin(failing, {28, 18});
    EXPECT_EQ(unreadable.error, DffWalkError::unreadable);
    EXPECT_EQ(unreadable.error_offset, 44u);
}

TEST(Id3Tag, TextFramesInVersion24) {
    const Id3TextFrame frames[] = {{"TPE1", "Bj\xc3\xb6rk"},
                                   {"TIT2", "Caf\xe9", Id3TextEncoding::latin1}};
    const auto tag = make_id3v24_tag(frames);
    ASSERT_TRUE(tag);
    const Bytes expected{'I', 'D', '3',  4,    0,   0,   0, 0, 0, 32,     // header
                         'T', 'P', 'E',  '1',  0,   0,   0, 7, 0, 0,  3,  // frame 1
                         'B', 'j', 0xc3, 0xb6, 'r', 'k',                  //
                         'T', 'I', 'T',  '2',  0,   0,   0, 5, 0, 0,  0, 'C', 'a', 'f', 0xe9};
    EXPECT_EQ(*tag, expected);
    EXPECT_EQ(make_id3v24_tag({}), (Bytes{'I', 'D', '3', 4, 0, 0, 0, 0, 0, 0}));

    // Sizes are syncsafe: 200 bytes of frame body is 0x01 0x48.
    const Id3TextFrame long_frame[] = {{"TALB", std::string(199, 'a')}};
    const auto long_tag = make_id3v24_tag(long_frame);
    ASSERT_TRUE(long_tag);
    EXPECT_EQ(Bytes(long_tag->begin() + 6, long_tag->begin() + 10), (Bytes{0, 0, 1, 0x52}));
    EXPECT_EQ(Bytes(long_tag->begin() + 14, long_tag->begin() + 18), (Bytes{0, 0, 1, 0x48}));
    EXPECT_EQ(long_tag->size(), 10u + 10 + 200);

    const Id3TextFrame bad_id[] = {{"TIT", "x"}};
    EXPECT_FALSE(make_id3v24_tag(bad_id));
}

TEST(Id3Tag, Utf8IsCheckedAndLatin1Converted) {
    for (const std::string_view good : {"", "plain", "\xc3\xa9", "\xe2\x98\x83", "\xf0\x9f\x8e\xb5",
                                        "\xf4\x8f\xbf\xbf", "\xed\x9f\xbf"}) {
        EXPECT_TRUE(is_valid_utf8(good)) << good;
    }
    for (const std::string_view bad :
         {"\xe9", "caf\xe9", "\xc3", "\xc3\x28", "\xc0\xaf", "\xe0\x80\xaf", "\xed\xa0\x80",
          "\xf4\x90\x80\x80", "\xf8\x88\x80\x80\x80", "\x80", "\xe2\x98"}) {
        EXPECT_FALSE(is_valid_utf8(bad)) << bad;
    }
    EXPECT_EQ(latin1_to_utf8("Caf\xe9 \xa0\xff!"), "Caf\xc3\xa9 \xc2\xa0\xc3\xbf!");
    EXPECT_TRUE(is_valid_utf8(latin1_to_utf8("\x80\xbf\xc0\xff")));
}

TEST(DsfWriter, HeaderOfEveryField) {
    DsfLayout layout;
    layout.channel_type = 7;
    layout.channel_count = 6;
    layout.sampling_frequency = 5644800;
    layout.bytes_per_channel = 4097;  // two blocks per channel
    layout.tag_length = 33;
    const auto header = make_dsf_header(layout);
    test::Channels channels(6, Bytes(4097, 0));
    const Bytes expected = test::expected_dsf(5644800, 7, channels, Bytes(33, 0));
    EXPECT_EQ(Bytes(header.begin(), header.end()), Bytes(expected.begin(), expected.begin() + 92));
    EXPECT_EQ(test::le(expected, 12, 8), 92u + 2 * 4096 * 6 + 33);
    EXPECT_EQ(test::le(expected, 20, 8), 92u + 2 * 4096 * 6);
    EXPECT_EQ(dsf_blocks_per_channel(layout), 2u);
    const DsfStreamInfo info = dsf_stream_info(layout);
    EXPECT_EQ(info.sampling_frequency, 5644800u);
    EXPECT_EQ(info.bits_per_sample, 1u);
    EXPECT_EQ(info.sample_count, 4097u * 8);
    EXPECT_EQ(info.data_size, 2u * 4096 * 6);

    // No tag: no metadata pointer; no sound: no blocks.
    layout.tag_length = 0;
    layout.bytes_per_channel = 0;
    layout.channel_count = 1;
    layout.channel_type = 1;
    const auto empty = make_dsf_header(layout);
    EXPECT_EQ(Bytes(empty.begin(), empty.end()), test::expected_dsf(5644800, 1, {Bytes{}}));
}

}  // namespace
}  // namespace dsd
