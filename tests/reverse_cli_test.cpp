// dff-dsf-convert as users run it: exact output streams, exit status, and
// the bytes of every file involved.
#include <sys/statvfs.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "dff_builder.hpp"
#include "dsf_expect.hpp"
#include "dsf_generator.hpp"
#include "test_support.hpp"
#include "wav_builder.hpp"

namespace dsd::test {
namespace {

namespace gen = testgen;

const std::string reverse = DFF_DSF_CONVERT;
const std::string forward = DSF_DFF_CONVERT;

// Distinct content per channel, never all zero.
Channels channel_data(std::size_t channels, std::size_t bytes) {
    Channels out;
    for (std::size_t c = 0; c < channels; ++c) {
        out.push_back(gen::pattern_bytes(bytes, static_cast<std::uint8_t>(11 + 40 * c)));
    }
    return out;
}

struct Layout {
    std::uint32_t type;
    std::vector<std::string_view> ids;  // in DSF order
};

const Layout layouts[] = {
    {1, {"C"}},
    {2, {"SLFT", "SRGT"}},
    {2, {"MLFT", "MRGT"}},
    {3, {"MLFT", "MRGT", "C"}},
    {4, {"MLFT", "MRGT", "LS", "RS"}},
    {5, {"MLFT", "MRGT", "C", "LFE"}},
    {6, {"MLFT", "MRGT", "C", "LS", "RS"}},
    {7, {"MLFT", "MRGT", "C", "LFE", "LS", "RS"}},
};

class Reverse : public ::testing::Test {
  protected:
    RunResult run(const std::vector<std::string>& args, RunOptions options = {},
                  const std::string& program = reverse) {
        options.cwd = dir.path();
        return run_program(program, args, options);
    }
    // Converts `dff` as in.dff to out.dsf; expects success and `dsf`.
    void expect_converts(const Bytes& dff, const Bytes& dsf, const std::string& err = "") {
        write_file(dir / "in.dff", dff);
        const auto r = run({"in.dff", "out.dsf"});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, header_lines(dsf));
        EXPECT_EQ(r.err, err);
        EXPECT_EQ(read_file(dir / "out.dsf"), dsf);
        EXPECT_EQ(read_file(dir / "in.dff"), dff);
        EXPECT_EQ(dir.entries(), (std::vector<std::string>{"in.dff", "out.dsf"}));
    }
    TempDir dir;
};

TEST_F(Reverse, UsageAndNameErrorsCreateNothing) {
    RunOptions named;
    named.argv0 = "dff-dsf-convert";
    for (const auto& args : {std::vector<std::string>{}, {"a.dff", "b.dsf", "c.dsf"}}) {
        const auto r = run(args, named);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out,
                  "DFF To DSF Converter\nUsage: dff-dsf-convert <in_dff_file> "
                  "<out_dsf_file>\n");
        EXPECT_EQ(r.err, "");
    }
    write_file(dir / "in.dff", gen::dff_file(2822400, {"SLFT", "SRGT"}, gen::pattern_bytes(8)));
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"music"}, "Usage: Wrong filename. music\n"},
        {{"in.dsf"}, "Usage: Input File extension is not 'dff'. in.dsf\n"},
        {{"in.Dff"}, "Usage: Input File extension is not 'dff'. in.Dff\n"},
        {{"in.dff", "out"}, "Usage: Wrong filename. out\n"},
        {{"in.dff", "out.dff"}, "Usage: Output File extension is not 'dsf'. out.dff\n"},
        {{"in.dff", "out.Dsf"}, "Usage: Output File extension is not 'dsf'. out.Dsf\n"},
        {{"missing.dff"}, "Usage: Can't open file. missing.dff\n"},
    };
    for (const auto& [args, message] : cases) {
        const auto r = run(args);
        EXPECT_EQ(r.status, 1) << message;
        EXPECT_EQ(r.out, message);
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(dir.entries(), std::vector<std::string>{"in.dff"});
    }
}

TEST_F(Reverse, OutputNameFollowsTheInput) {
    const Channels channels = channel_data(2, 100);
    const Bytes dff = gen::dff_file(2822400, {"SLFT", "SRGT"}, interleaved(channels));
    for (const auto& [in, out] : {std::pair<std::string, std::string>{"a.dff", "a.dsf"},
                                  {"B.DFF", "B.dsf"},
                                  {"c.d.dff", "c.d.dsf"}}) {
        write_file(dir / in, dff);
        const auto r = run({in});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(read_file(dir / out), expected_dsf(2822400, 2, channels));
    }
    EXPECT_EQ(dir.entries().size(), 6u);
}

// Each layout with its ids in DSF order and reversed, at sizes around a
// block and across the converter's read size.
TEST_F(Reverse, EveryLayoutInAnyOrderAndSizesAroundABlock) {
    for (const auto& layout : layouts) {
        const std::size_t n = layout.ids.size();
        std::vector<std::size_t> sizes{0, 1, 4095, 4096, 4097};
        sizes.push_back(65536 / n * 4 + 4096 + 7);  // more than one read
        for (const std::size_t bytes : sizes) {
            const Channels channels = channel_data(n, bytes);
            const Bytes dsf = expected_dsf(5644800, layout.type, channels);
            SCOPED_TRACE(std::to_string(layout.type) + ", " + std::to_string(bytes) + " bytes");
            expect_converts(gen::dff_file(5644800, layout.ids, interleaved(channels)), dsf);
            const std::vector<std::string_view> reversed(layout.ids.rbegin(), layout.ids.rend());
            const Channels reversed_channels(channels.rbegin(), channels.rend());
            expect_converts(gen::dff_file(5644800, reversed, interleaved(reversed_channels)), dsf);
        }
    }
    // A mixed order.
    const Channels channels = channel_data(6, 5000);
    const Channels file_order{channels[3], channels[0], channels[5],
                              channels[2], channels[4], channels[1]};
    expect_converts(
        gen::dff_file(2822400, {"LFE", "MLFT", "RS", "C", "LS", "MRGT"}, interleaved(file_order)),
        expected_dsf(2822400, 7, channels));
}

TEST_F(Reverse, TagChunkBeforeOrAfterTheSoundIsCopied) {
    const Channels channels = channel_data(2, 5000);
    for (const Bytes& tag :
         {gen::make_id3v2_tag("Even", 3, 64), gen::make_id3v2_tag("Odd", 4, 77, true)}) {
        for (const bool first : {true, false}) {
            SCOPED_TRACE(std::to_string(tag.size()) + (first ? " before" : " after"));
            expect_converts(
                gen::dff_file(2822400, {"SLFT", "SRGT"}, interleaved(channels), tag, first),
                expected_dsf(2822400, 2, channels, tag));
        }
    }
}

TEST_F(Reverse, OtherChunksAnywhereAreSkipped) {
    const Channels channels = channel_data(3, 4097);
    const Bytes dff = gen::dff_form({
        gen::dff_chunk("DIIN", gen::dff_chunk("DITI", {0, 0, 0, 3, 'a', 'b', 'c'})),
        gen::dff_chunk("DSD ", interleaved(channels)),
        gen::dff_chunk("COMT", {1, 2, 3}),
        gen::dff_prop(
            {gen::dff_chunk("ABSS", {0, 1, 2, 3, 4}), gen::dff_chnl({"C", "MRGT", "MLFT"}),
             gen::dff_chunk("LSCO", {0, 1}), gen::dff_fs(2822400)},
            "SND "),
        gen::dff_prop({}, "XYZ "),
        gen::dff_chunk("MANF", {'a'}),
        gen::dff_fver(),
    });
    // Without an "ID3 " chunk, the title in DIIN becomes the tag.
    const Bytes titles{'I', 'D', '3', 4, 0, 0, 0, 0, 0, 14,  'T', 'I',
                       'T', '2', 0,   0, 0, 4, 0, 0, 3, 'a', 'b', 'c'};
    expect_converts(dff, expected_dsf(2822400, 3, {channels[2], channels[1], channels[0]}, titles));
}

// DIIN's artist and title, without an "ID3 " tag, become an ID3v2.4 tag:
// TIT2 then TPE1, each up to its first NUL, UTF-8 (encoding 3) when valid,
// else ISO-8859-1 (encoding 0); empty texts are left out.
TEST_F(Reverse, DiinTitlesBecomeATagWhenThereIsNone) {
    // Byte by byte: GCC 12 takes range inserts here for overflows.
    const auto append = [](Bytes& out, auto&& bytes) {
        for (const auto b : bytes) {
            out.push_back(static_cast<std::uint8_t>(b));
        }
    };
    const auto text = [&](std::string_view id, std::string_view value) {
        Bytes body(4);
        put_be(body, 0, value.size(), 4);
        append(body, value);
        return gen::dff_chunk(id, body);
    };
    const auto frame = [&](std::string_view id, std::uint8_t encoding, std::string_view value) {
        Bytes f;
        append(f, id);
        append(f, Bytes{0, 0, 0, static_cast<std::uint8_t>(value.size() + 1), 0, 0, encoding});
        append(f, value);
        return f;
    };
    const auto tag = [&](const std::vector<Bytes>& frames) {
        Bytes body;
        for (const Bytes& f : frames) {
            append(body, f);
        }
        Bytes t{'I', 'D', '3', 4, 0, 0, 0, 0, 0, static_cast<std::uint8_t>(body.size())};
        append(t, body);
        return t;
    };
    const Channels channels = channel_data(2, 100);
    const auto with = [&](const std::vector<Bytes>& diin, const std::optional<Bytes>& id3) {
        Bytes body;
        for (const Bytes& chunk : diin) {
            append(body, chunk);
        }
        std::vector<Bytes> chunks{
            gen::dff_chunk("DIIN", body),
            gen::dff_prop({gen::dff_fs(2822400), gen::dff_chnl_stereo()}),
            gen::dff_chunk("DSD ", interleaved(channels)),
        };
        if (id3) {
            chunks.push_back(gen::dff_chunk("ID3 ", *id3));
        }
        return gen::dff_form(chunks);
    };
    const Bytes id3v2 = gen::make_id3v2_tag("From ID3", 3);
    const struct {
        std::vector<Bytes> diin;
        std::optional<Bytes> id3;
        Bytes tag;
        std::string warning;
    } cases[] = {
        {{text("DIAR", "Bj\xc3\xb6rk"), text("DITI", "Caf\xe9")},
         std::nullopt,
         tag({frame("TIT2", 0, "Caf\xe9"), frame("TPE1", 3, "Bj\xc3\xb6rk")}),
         ""},
        {{text("DITI", std::string("Title\0\0", 7)), text("DIAR", "")},
         std::nullopt,
         tag({frame("TIT2", 3, "Title")}),
         ""},
        {{text("DIAR", ""), gen::dff_chunk("EMID", {1})}, std::nullopt, {}, ""},
        // An ID3v2 tag wins; a chunk holding something else does not.
        {{text("DITI", "Title")}, id3v2, id3v2, ""},
        {{text("DITI", "Title")},
         Bytes{'T', 'A', 'G'},
         tag({frame("TIT2", 3, "Title")}),
         "ID3 chunk holds no ID3v2 tag, not copied : in.dff\n"},
        // A break inside DIIN keeps what came before it.
        {{text("DIAR", "Artist"), gen::dff_chunk("DITI", {0, 0})},
         std::nullopt,
         tag({frame("TPE1", 3, "Artist")}),
         ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.tag.size());
        expect_converts(with(c.diin, c.id3), expected_dsf(2822400, 2, channels, c.tag), c.warning);
    }
}

TEST_F(Reverse, ChunkWithoutAnId3TagIsNotCopiedWithAWarning) {
    const Channels channels = channel_data(1, 10);
    const Bytes dff =
        gen::dff_file(2822400, {"C"}, interleaved(channels), Bytes{'T', 'A', 'G', 1, 2});
    expect_converts(dff, expected_dsf(2822400, 1, channels),
                    "ID3 chunk holds no ID3v2 tag, not copied : in.dff\n");
}

TEST_F(Reverse, EveryRefusalIsOneLineAndLeavesNothing) {
    const Bytes sound = gen::dff_chunk("DSD ", gen::pattern_bytes(8));
    const auto with = [&](const std::vector<Bytes>& locals, const std::vector<Bytes>& more = {}) {
        std::vector<Bytes> chunks{gen::dff_fver(), gen::dff_prop(locals)};
        chunks.insert(chunks.end(), more.begin(), more.end());
        return gen::dff_form(chunks);
    };
    const Bytes fs = gen::dff_fs(2822400);
    const Bytes stereo = gen::dff_chnl_stereo();
    const Bytes plain = gen::dff_cmpr("DSD ", "not compressed");
    Bytes truncated = gen::dff_file(2822400, {"SLFT", "SRGT"}, gen::pattern_bytes(100));
    truncated.resize(truncated.size() - 10);
    Bytes odd_start{0x01, 0x1b, 'A', 'B', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};

    const std::pair<Bytes, std::string> cases[] = {
        {gen::canonical_wav({}, gen::pattern_bytes(20)), "Not a 'DFF' format : RIFF\n"},
        {odd_start, "Not a 'DFF' format : \\x01\\x1bAB\n"},
        {Bytes{'F', 'R'}, "Not a 'DFF' format : FR\n"},
        {gen::dff_form({}, std::nullopt, "AIFF"), "Not a 'DFF' format : AIFF\n"},
        {truncated, "Chunk runs past the end of the file : 'FRM8' at 0\n"},
        {with({gen::dff_chunk("FS  ", {0, 0x2B, 0x11, 0}, 40), stereo}, {sound}),
         "Chunk runs past the end of its parent : 'FS  ' at 48\n"},
        {with({fs, stereo, plain}, {sound, gen::dff_prop({fs})}), "Second chunk : 'PROP' at 138\n"},
        {with({fs, stereo, plain}, {sound, sound}), "Second chunk : 'DSD ' at 138\n"},
        {with({fs, stereo, fs}, {sound}), "Second chunk : 'FS  ' at 86\n"},
        {with({fs, stereo, stereo}, {sound}), "Second chunk : 'CHNL' at 86\n"},
        {with({gen::dff_chunk("FS  ", Bytes(8, 1)), stereo}, {sound}),
         "Wrong chunk size : 'FS  ' at 48, size 8\n"},
        {with({fs, gen::dff_chunk("CHNL", {0, 2, 'S', 'L', 'F', 'T'})}, {sound}),
         "Wrong chunk size : 'CHNL' at 64, size 6\n"},
        {with({fs, stereo, gen::dff_cmpr("DST ", "DST Encoded")}, {sound}),
         "Compressed sound, not converted : 'DST '\n"},
        {with({fs, stereo, plain}, {gen::dff_chunk("DST ", gen::pattern_bytes(8))}),
         "Compressed sound, not converted : 'DST '\n"},
        {with({stereo}, {sound}), "Missing chunk : 'FS  '\n"},
        {with({fs}, {sound}), "Missing chunk : 'CHNL'\n"},
        {with({fs, stereo}), "Missing chunk : 'DSD '\n"},
        {gen::dff_form({gen::dff_chunk("DSD ", {})}), "Missing chunk : 'FS  '\n"},
        {with({gen::dff_fs(0), stereo}, {sound}), "Wrong sampling frequency : 0\n"},
        {with({fs, gen::dff_chnl({})}, {sound}), "Wrong numbers of channels : 0\n"},
        {with({fs, gen::dff_chnl({"MLFT", "MRGT", "C", "LFE", "LS", "RS", "C2"})}, {sound}),
         "Wrong numbers of channels : 7\n"},
        {with({fs, gen::dff_chnl({"SLFT", "MRGT"})}, {sound}),
         "Unsupported channel layout : 'SLFT' 'MRGT'\n"},
        {with({fs, gen::dff_chnl({"MLFT", "MLFT"})}, {sound}),
         "Unsupported channel layout : 'MLFT' 'MLFT'\n"},
        {with({fs, gen::dff_chnl({"SLFT"})}, {sound}), "Unsupported channel layout : 'SLFT'\n"},
        {with({fs, gen::dff_chnl({"MLFT", "MRGT", "LFE"})}, {sound}),
         "Unsupported channel layout : 'MLFT' 'MRGT' 'LFE '\n"},
        {with({fs, gen::dff_chnl({"C\x7f"})}, {sound}),
         "Unsupported channel layout : 'C\\x7f  '\n"},
        {with({fs, gen::dff_chnl({"MLFT", "MRGT", "C"})}, {sound}), "Wrong data size : 8\n"},
    };
    for (const auto& [dff, message] : cases) {
        SCOPED_TRACE(message);
        write_file(dir / "bad.dff", dff);
        write_file(dir / "bad.dsf", {'o', 'l', 'd'});
        const auto r = run({"bad.dff"});
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, message);
        EXPECT_EQ(read_file(dir / "bad.dff"), dff);
        EXPECT_EQ(read_file(dir / "bad.dsf"), (Bytes{'o', 'l', 'd'}));
        EXPECT_EQ(dir.entries(), (std::vector<std::string>{"bad.dff", "bad.dsf"}));
    }
}

TEST_F(Reverse, OutputFailuresAreOneLineAndLeaveNothing) {
    const Channels channels = channel_data(2, 200000);
    write_file(dir / "in.dff", gen::dff_file(2822400, {"SLFT", "SRGT"}, interleaved(channels)));
    auto r = run({"in.dff", "missing/out.dsf"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, " cannot open file : missing/out.dsf\n");

    // The shared driver's staging: an output that is the input is refused.
    ASSERT_EQ(::symlink("in.dff", (dir / "same.dsf").c_str()), 0);
    const Bytes dff = read_file(dir / "in.dff");
    r = run({"in.dff", "same.dsf"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, " cannot open file : same.dsf\n");
    EXPECT_EQ(read_file(dir / "in.dff"), dff);
    ::unlink((dir / "same.dsf").c_str());

    write_file(dir / "in.dsf", {1, 2, 3});
    RunOptions limited;
    limited.file_size_limit = 100000;
    r = run({"in.dff"}, limited);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, " write error : 100000\n");
    EXPECT_EQ(read_file(dir / "in.dsf"), (Bytes{1, 2, 3}));
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"in.dff", "in.dsf"}));
}

// The input cut short by another program while the loop runs, as for the
// forward converters: stopped once the first chunk of sound is read (a file
// of data, and a sparse one), it loses its end; the read error names where
// the file now ends.
TEST_F(Reverse, InputShrinkingDuringTheConversionIsAReadError) {
    if (!tracing_available()) {
        GTEST_SKIP() << "needs ptrace of a natively run converter to stop it inside its loop";
    }
    const Bytes sound = interleaved(channel_data(2, 64 * 4096));
    const Bytes dff = gen::dff_file(2822400, {"SLFT", "SRGT"}, sound);
    const std::uint64_t sound_offset = dff.size() - sound.size();
    for (const bool sparse : {false, true}) {
        if (sparse) {
            write_file(dir / "in.dff",
                       Bytes(dff.begin(), dff.end() - static_cast<std::ptrdiff_t>(sound.size())));
            ASSERT_EQ(::truncate((dir / "in.dff").c_str(), static_cast<off_t>(dff.size())), 0);
        } else {
            write_file(dir / "in.dff", dff);
        }
        const std::uint64_t cut = sound_offset + 40 * 8192 + 100;
        RunOptions options;
        options.stop_after_syscall = is_large_pread;
        options.while_stopped = [&] {
            ASSERT_EQ(::truncate((dir / "in.dff").c_str(), static_cast<off_t>(cut)), 0);
        };
        const auto r = run({"in.dff"}, options);
        EXPECT_TRUE(r.stopped) << sparse;
        EXPECT_EQ(r.status, 1) << sparse;
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, " read error : " + std::to_string(cut) + "\n");
        EXPECT_EQ(dir.entries(), std::vector<std::string>{"in.dff"});
    }
}

// dsf-dff-convert and back gives the same DSF, tag included, and both
// print the same four lines.
TEST_F(Reverse, RoundTripGivesTheSameDsf) {
    const std::optional<Bytes> tags[] = {std::nullopt, gen::make_id3v2_tag("Title", 3, 64),
                                         gen::make_id3v2_tag("Odd", 4, 91, true)};
    for (const std::uint64_t samples : {0ull, 8ull, 32768ull, 5 * 32768ull + 800}) {
        for (const auto& tag : tags) {
            SCOPED_TRACE(std::to_string(samples) + " samples, tag " +
                         std::to_string(tag ? tag->size() : 0));
            gen::DsfSpec spec;
            spec.sample_count = samples;
            spec.id3_tag = tag;
            const Bytes dsf = gen::make_dsf(spec);
            write_file(dir / "a.dsf", dsf);
            const auto there = run({"a.dsf", "b.dff"}, {}, forward);
            ASSERT_EQ(there.status, 0) << there.err;
            const auto back = run({"b.dff", "c.dsf"});
            EXPECT_EQ(back.status, 0) << back.err;
            EXPECT_EQ(back.out, there.out);
            EXPECT_EQ(back.err, "");
            EXPECT_EQ(read_file(dir / "c.dsf"), dsf);
        }
    }
}

// Sound past 4 GiB: every size field needs all 64 bits. The input is
// sparse; the output is not, so the case needs the room for it.
TEST(ReverseLarge, SoundBeyondFourGigabytes) {
    TempDir dir;
    const std::uint64_t per_channel = (1ull << 31) + 4096 + 3;
    const std::uint64_t blocks = per_channel / 4096 + 1;
    const std::uint64_t output_size = 92 + blocks * 4096 * 2;
    struct statvfs fs {};
    if (::statvfs(dir.path().c_str(), &fs) != 0 ||
        static_cast<std::uint64_t>(fs.f_bavail) * fs.f_frsize < output_size + (256ull << 20)) {
        GTEST_SKIP() << "needs " << (output_size >> 20) << " MiB free in " << dir.path();
    }
    const std::string in = dir / "large.dff";
    const std::string out = dir / "large.dsf";
    const Bytes header = gen::dff_file(2822400, {"SLFT", "SRGT"}, {});
    Bytes sized = header;
    put_be(sized, 4, header.size() - 12 + 2 * per_channel, 8);
    put_be(sized, header.size() - 8, 2 * per_channel, 8);
    write_file(in, sized);
    ASSERT_EQ(::truncate(in.c_str(), static_cast<off_t>(header.size() + 2 * per_channel)), 0);
    {
        // The last frame, to find in the last block of each channel.
        FILE* f = std::fopen(in.c_str(), "r+b");
        ASSERT_NE(f, nullptr);
        ASSERT_EQ(::fseeko(f, static_cast<off_t>(header.size() + 2 * per_channel - 2), SEEK_SET),
                  0);
        std::fputc(0x01, f);
        std::fputc(0x03, f);
        ASSERT_EQ(std::fclose(f), 0);
    }
    const auto r = run_program(reverse, {in, out});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "Sampling frequency <2822400>\nbit number <1>\nsample number <" +
                         std::to_string(per_channel * 8) + ">\nDSD Data size <" +
                         std::to_string(blocks * 8192) + ">\n");
    EXPECT_EQ(std::filesystem::file_size(out), output_size);
    FILE* f = std::fopen(out.c_str(), "rb");
    ASSERT_NE(f, nullptr);
    Bytes head(92);
    EXPECT_EQ(std::fread(head.data(), 1, 92, f), 92u);
    EXPECT_EQ(le(head, 12, 8), output_size);
    EXPECT_EQ(le(head, 64, 8), per_channel * 8);
    EXPECT_EQ(le(head, 84, 8), 12 + blocks * 8192);
    const std::uint64_t last = (per_channel - 1) % 4096;
    for (const auto& [block, value] : {std::pair<std::uint64_t, int>{0, 0x80}, {1, 0xC0}}) {
        const std::uint64_t at = 92 + (blocks - 1) * 8192 + block * 4096 + last;
        ASSERT_EQ(::fseeko(f, static_cast<off_t>(at), SEEK_SET), 0);
        EXPECT_EQ(std::fgetc(f), value);
        EXPECT_EQ(std::fgetc(f), 0);  // the zero fill after it
    }
    std::fclose(f);
}

}  // namespace
}  // namespace dsd::test
