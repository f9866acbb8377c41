// dff-dsf-convert and dff-dst-decode on DST-compressed DSDIFF files made by
// the test generator, each with its uncompressed twin: exact output
// streams, exit status, and the bytes of every file involved.
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>

#include "dff_builder.hpp"
#include "dff_expect.hpp"
#include "dsf_generator.hpp"
#include "dst_encoder.hpp"
#include "dst_file.hpp"
#include "test_support.hpp"
#include "tone.hpp"

namespace dsd::test {
namespace {

namespace gen = testgen;

const std::string reverse = DFF_DSF_CONVERT;
const std::string decoder = DFF_DST_DECODE;
const std::string rate128 = DFF_RATE_SET_128;

using Files = std::vector<std::string>;

// Tones, one per channel, in whole frames.
Bytes tone_sound(unsigned channels, std::uint32_t rate, std::uint64_t frames) {
    gen::InterleavedTone tone(channels, rate);
    Bytes sound(frames * gen::dst_geometry(channels, rate).sound_bytes());
    tone.next(sound);
    return sound;
}

std::uint64_t be(const Bytes& b, std::size_t at, int n) {
    std::uint64_t v = 0;
    for (int i = 0; i < n; ++i) {
        v = v << 8 | b[at + static_cast<std::size_t>(i)];
    }
    return v;
}

Bytes text_chunk(std::string_view id, std::string_view text) {
    Bytes body(4);
    put_be(body, 0, text.size(), 4);
    for (const char c : text) {
        body.push_back(static_cast<std::uint8_t>(c));
    }
    return gen::dff_chunk(id, body);
}

// Sets DSD_THREADS for the programs run while it lives.
class ThreadCount {
  public:
    explicit ThreadCount(const std::string& count) { ::setenv("DSD_THREADS", count.c_str(), 1); }
    ~ThreadCount() { ::unsetenv("DSD_THREADS"); }
    ThreadCount(const ThreadCount&) = delete;
    ThreadCount& operator=(const ThreadCount&) = delete;
};

class DstCli : public ::testing::Test {
  protected:
    RunResult run(const std::string& program, const std::vector<std::string>& args,
                  RunOptions options = {}) {
        options.cwd = dir.path();
        return run_program(program, args, options);
    }

    // Both programs refuse `dff` (as in.dff) with `message`, before any
    // output exists; an existing file of the output's name stays.
    void expect_refused(const Bytes& dff, const std::string& message,
                        const std::string& decoder_message) {
        write_file(dir / "in.dff", dff);
        write_file(dir / "in.dsf", {'o', 'l', 'd'});
        write_file(dir / "out.dff", {'o', 'l', 'd'});
        for (const auto& [program, args, expected] :
             {std::tuple{reverse, Files{"in.dff"}, message},
              std::tuple{decoder, Files{"in.dff", "out.dff"}, decoder_message}}) {
            const auto r = run(program, args);
            EXPECT_EQ(r.status, 1) << program;
            EXPECT_EQ(r.out, "");
            EXPECT_EQ(r.err, expected) << program;
        }
        EXPECT_EQ(read_file(dir / "in.dff"), dff);
        EXPECT_EQ(read_file(dir / "in.dsf"), (Bytes{'o', 'l', 'd'}));
        EXPECT_EQ(read_file(dir / "out.dff"), (Bytes{'o', 'l', 'd'}));
        EXPECT_EQ(dir.entries(), (Files{"in.dff", "in.dsf", "out.dff"}));
    }

    TempDir dir;
};

// 1, 2 and 6 channels at DSD64 and DSD128, frames that mix every element of
// the syntax, and every kind of chunk around the sound: the DSF is the
// plain twin's, the decoded file is the plain twin, for any thread count;
// the rate rewriters relabel it and still leave the DST file alone.
TEST_F(DstCli, DecodesToThePlainTwinInEveryLayout) {
    for (const unsigned channels : {1u, 2u, 6u}) {
        for (const std::uint32_t rate : {2822400u, 5644800u}) {
            SCOPED_TRACE(std::to_string(channels) + " channels at " + std::to_string(rate));
            gen::DstFileSpec spec;
            spec.channels = channels;
            spec.rate = rate;
            spec.options.random = true;
            spec.options.seed = channels * 1000 + rate / 44100;
            spec.prop_chunks = {gen::dff_chunk("LSCO", {0, 0}), gen::dff_chunk("XLOC", {1, 2, 3})};
            spec.chunks_before = {
                gen::dff_chunk("DIIN",
                               [] {
                                   Bytes body = text_chunk("DIAR", "Artist");
                                   const Bytes title = text_chunk("DITI", "Odd title");
                                   body.insert(body.end(), title.begin(), title.end());
                                   return body;
                               }()),
                gen::dff_chunk("COMT", {0, 0})};
            spec.chunks_after = {gen::dff_chunk("MANF", {'a', 'b', 'c', 'd', 1, 2})};
            if (channels == 2) {
                spec.chunks_after.push_back(gen::dff_chunk("ID3 ", gen::make_id3v2_tag("Tag", 4)));
            }
            spec.chunks_after.push_back(gen::dff_chunk("XYZW", {1, 2, 3}));
            spec.dst_chunks = {gen::dff_chunk("ABCD", {9})};
            spec.dstc = channels != 1;
            spec.dsti = true;
            const Bytes sound = tone_sound(channels, rate, 5);
            Bytes dst = gen::dst_dff_file(spec, sound);
            Bytes plain = gen::plain_dff_file(spec, sound);
            // A pad byte that is not zero is copied as it stands.
            dst.back() = 0x55;
            plain.back() = 0x55;
            write_file(dir / "dst.dff", dst);
            write_file(dir / "plain.dff", plain);

            const auto from_plain = run(reverse, {"plain.dff", "plain.dsf"});
            ASSERT_EQ(from_plain.status, 0) << from_plain.err;
            const auto from_dst = run(reverse, {"dst.dff", "dst.dsf"});
            EXPECT_EQ(from_dst.status, 0);
            EXPECT_EQ(from_dst.out, from_plain.out);
            EXPECT_EQ(from_dst.err, "");
            EXPECT_EQ(read_file(dir / "dst.dsf"), read_file(dir / "plain.dsf"));
            EXPECT_EQ(le(read_file(dir / "dst.dsf"), 64, 8), 5 * rate / 75);

            for (const std::string threads : {"1", "2", "7"}) {
                const ThreadCount count(threads);
                const auto decoded = run(decoder, {"dst.dff", "out.dff"});
                EXPECT_EQ(decoded.status, 0) << threads << ": " << decoded.err;
                EXPECT_EQ(decoded.out, "");
                EXPECT_EQ(decoded.err, "");
                EXPECT_EQ(read_file(dir / "out.dff"), plain) << threads << " threads";
            }
            EXPECT_EQ(read_file(dir / "dst.dff"), dst);

            const auto relabelled = run(rate128, {"out.dff", "dst.dff"});
            EXPECT_EQ(relabelled.status, 1);
            EXPECT_EQ(relabelled.out, "Usage: DST compressed, rate not changed. dst.dff\n");
            EXPECT_EQ(read_file(dir / "dst.dff"), dst);
            EXPECT_EQ(be(read_file(dir / "out.dff"), 60, 4), 5644800u);
            EXPECT_EQ(dir.entries(),
                      (Files{"dst.dff", "dst.dsf", "out.dff", "plain.dff", "plain.dsf"}));
            for (const auto& name : dir.entries()) {
                ::unlink((dir / name).c_str());
            }
        }
    }
}

// Every way a frame can be damaged, in the third of four frames: both
// programs name it and leave nothing behind.
TEST_F(DstCli, DamagedFramesAreNamedAndLeaveNothing) {
    using gen::DstDamage;
    const DstDamage damages[] = {
        DstDamage::header_cut,
        DstDamage::stored_stuffing,
        DstDamage::stored_cut,
        DstDamage::segment_too_short,
        DstDamage::segment_too_long,
        DstDamage::resolution_zero,
        DstDamage::too_many_segments,
        DstDamage::mapping_out_of_range,
        DstDamage::too_many_filters,
        DstDamage::segment_count_mismatch,
        DstDamage::rice_method_3,
        DstDamage::rice_method_too_long,
        DstDamage::coefficient_out_of_range,
        DstDamage::table_entry_out_of_range,
        DstDamage::coded_first_bit,
        DstDamage::unused_bits,
        DstDamage::coded_cut_short,
    };
    const Bytes sound = tone_sound(2, 2822400, 4);
    for (const DstDamage damage : damages) {
        SCOPED_TRACE(static_cast<int>(damage));
        gen::DstFileSpec spec;
        spec.frame_options = [&](std::uint64_t frame, gen::DstEncoderOptions& options) {
            const bool stored =
                damage == DstDamage::stored_stuffing || damage == DstDamage::stored_cut;
            options.stored = stored;
            if (frame == 2) {
                options.damage = damage;
            }
        };
        const Bytes dst = gen::dst_dff_file(spec, sound);
        expect_refused(dst, "Damaged DST frame : 2\n", "Damaged DST frame : 2\n");
    }
}

// A stored frame: the coded bit and the six stuffing bits zero, then the
// sound as it is.
Bytes stored_frame(const Bytes& sound, std::size_t extra = 0) {
    Bytes frame(1 + sound.size() + extra, 0xAA);
    frame[0] = 0;
    std::copy(sound.begin(), sound.end(), frame.begin() + 1);
    return frame;
}

Bytes frame_table(std::uint32_t frames, std::size_t size = 6) {
    Bytes body(6);
    put_be(body, 0, frames, 4);
    put_be(body, 4, 75, 2);
    body.resize(size);
    return gen::dff_chunk("FRTE", body);
}

Bytes joined(const std::vector<Bytes>& chunks) {
    Bytes out;
    for (const Bytes& chunk : chunks) {
        out.insert(out.end(), chunk.begin(), chunk.end());
    }
    return out;
}

// FVER, PROP (FS, CHNL, CMPR) and the sound chunk: the layout whose offsets
// the refusals below name.
Bytes dst_form(std::uint32_t rate, const std::vector<std::string_view>& ids,
               const std::vector<Bytes>& dst_chunks, std::string_view type = "DST ",
               std::string_view sound_id = "DST ", const std::vector<Bytes>& after = {}) {
    std::vector<Bytes> chunks{
        gen::dff_fver(),
        gen::dff_prop({gen::dff_fs(rate), gen::dff_chnl(ids),
                       gen::dff_cmpr(type, type == "DST " ? "DST Encoded" : "not compressed")}),
        gen::dff_chunk(sound_id, joined(dst_chunks))};
    chunks.insert(chunks.end(), after.begin(), after.end());
    return gen::dff_form(chunks);
}

TEST_F(DstCli, ContainerRefusalsComeBeforeAnyOutput) {
    const Bytes sound = gen::pattern_bytes(2 * 4704);
    const Bytes frame = gen::dff_chunk("DSTF", stored_frame(sound));
    const std::vector<std::string_view> stereo{"SLFT", "SRGT"};
    // Stereo, the DST chunk's data starts at 16 + 16 + 12 + 4 + 16 + 22 + 28 + 12 = 126.
    Bytes past_parent = frame;
    put_be(past_parent, 4, 2 * 4704 + 1 + 20, 8);
    const std::pair<Bytes, std::string> both[] = {
        {dst_form(2822400, stereo, {frame_table(3), frame, frame}),
         "DST frame count differs : FRTE 3, file 2\n"},
        {dst_form(2822400, stereo, {frame, frame}), "Missing chunk : 'FRTE'\n"},
        {dst_form(2822400, stereo, {frame_table(1), frame_table(1), frame}),
         "Second chunk : 'FRTE' at 144\n"},
        {dst_form(2822400, stereo, {frame_table(1, 5), frame}),
         "Wrong chunk size : 'FRTE' at 126, size 5\n"},
        {dst_form(2822400, stereo, {frame_table(1), past_parent}, "DST ", "DST ",
                  {gen::dff_chunk("XYZW", Bytes(30, 0))}),
         "Chunk runs past the end of its parent : 'DSTF' at 144\n"},
        {dst_form(2646000, stereo, {frame_table(1), frame}),
         "Wrong sampling frequency : 2646000\n"},
        {dst_form(0, stereo, {frame_table(1), frame}), "Wrong sampling frequency : 0\n"},
        {dst_form(2822400, stereo, {frame_table(1), frame}, "DST ", "DSD "),
         "Compressed sound, not converted : 'DST '\n"},
        {dst_form(2822400, stereo, {frame_table(1), frame}, "DSD ", "DST "),
         "Compressed sound, not converted : 'DST '\n"},
        {dst_form(2822400, stereo, {frame_table(1), frame}, "XYZ ", "DST "),
         "Compressed sound, not converted : 'XYZ '\n"},
        {gen::dff_form({gen::dff_prop(
             {gen::dff_fs(2822400), gen::dff_chnl(stereo), gen::dff_cmpr("DST ", "DST Encoded")})}),
         "Missing chunk : 'DST '\n"},
    };
    for (const auto& [dff, message] : both) {
        SCOPED_TRACE(message);
        expect_refused(dff, message, message);
    }
    // Seven channels; and ids DSF has no layout for, which DSDIFF allows.
    const std::vector<std::string_view> seven{"MLFT", "MRGT", "C", "LFE", "LS", "RS", "C2"};
    expect_refused(dst_form(2822400, seven, {frame_table(0)}), "Wrong numbers of channels : 7\n",
                   "Wrong numbers of channels : 7\n");
    write_file(dir / "in.dff", dst_form(2822400, {"SLFT", "MRGT"}, {frame_table(1), frame}));
    const auto refused = run(reverse, {"in.dff"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.err, "Unsupported channel layout : 'SLFT' 'MRGT'\n");
    const auto decoded = run(decoder, {"in.dff", "plain.dff"});
    EXPECT_EQ(decoded.status, 0) << decoded.err;
    EXPECT_EQ(read_file(dir / "plain.dff"),
              gen::dff_form({gen::dff_fver(),
                             gen::dff_prop({gen::dff_fs(2822400), gen::dff_chnl({"SLFT", "MRGT"}),
                                            gen::dff_cmpr("DSD ", "not compressed")}),
                             gen::dff_chunk("DSD ", sound)}));

    // A stored frame's bytes after its sound are ignored, however many.
    const Bytes long_stored =
        dst_form(2822400, stereo,
                 {frame_table(2), frame, gen::dff_chunk("DSTF", stored_frame(sound, 3 << 20))});
    write_file(dir / "long.dff", long_stored);
    const auto long_decoded = run(decoder, {"long.dff", "long-plain.dff"});
    EXPECT_EQ(long_decoded.status, 0) << long_decoded.err;
    Bytes twice = sound;
    twice.insert(twice.end(), sound.begin(), sound.end());
    EXPECT_EQ(read_file(dir / "long-plain.dff"),
              gen::dff_form({gen::dff_fver(),
                             gen::dff_prop({gen::dff_fs(2822400), gen::dff_chnl(stereo),
                                            gen::dff_cmpr("DSD ", "not compressed")}),
                             gen::dff_chunk("DSD ", twice)}));

    // Uncompressed sound: nothing to decode; dff-dsf-convert converts it.
    ::unlink((dir / "out.dff").c_str());
    const Bytes plain = read_file(dir / "plain.dff");
    const auto not_dst = run(decoder, {"plain.dff", "out.dff"});
    EXPECT_EQ(not_dst.status, 1);
    EXPECT_EQ(not_dst.out, "");
    EXPECT_EQ(not_dst.err, "Sound is not DST compressed : plain.dff\n");
    EXPECT_EQ(read_file(dir / "plain.dff"), plain);
    EXPECT_FALSE(file_exists(dir / "out.dff"));
}

TEST_F(DstCli, DecoderOutputFailuresLeaveNothing) {
    gen::DstFileSpec spec;
    const Bytes dst = gen::dst_dff_file(spec, tone_sound(2, 2822400, 40));
    write_file(dir / "in.dff", dst);
    const std::pair<Files, std::string> cases[] = {
        {{"in.dff", "in.dff"}, " cannot open file : in.dff\n"},
        {{"in.dff", "missing/out.dff"}, " cannot open file : missing/out.dff\n"},
    };
    for (const auto& [args, message] : cases) {
        const auto r = run(decoder, args);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, message);
    }
    ASSERT_EQ(::symlink("in.dff", (dir / "same.dff").c_str()), 0);
    const auto same = run(decoder, {"in.dff", "same.dff"});
    EXPECT_EQ(same.err, " cannot open file : same.dff\n");
    ::unlink((dir / "same.dff").c_str());

    RunOptions limited;
    limited.file_size_limit = 100000;
    for (const auto& [program, output] :
         {std::pair{decoder, std::string("out.dff")}, std::pair{reverse, std::string("out.dsf")}}) {
        const auto r = run(program, {"in.dff", output}, limited);
        EXPECT_EQ(r.status, 1) << program;
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, " write error : 100000\n");
    }
    EXPECT_EQ(read_file(dir / "in.dff"), dst);
    EXPECT_EQ(dir.entries(), Files{"in.dff"});
}

}  // namespace
}  // namespace dsd::test
