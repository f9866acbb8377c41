// The DST decoder against the test generator's encoder: every syntax
// element, frame by frame and as whole files, every damage the decoder must
// notice, and FFmpeg as an independent decoder of the generated files.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>

#include "byte_order.hpp"
#include "dff_builder.hpp"
#include "dst.hpp"
#include "dst_encoder.hpp"
#include "dst_file.hpp"
#include "test_support.hpp"
#include "tone.hpp"

namespace dsd::test {
namespace {

using testgen::DstDamage;
using testgen::DstEncoderOptions;
using testgen::DstFramePlan;
using testgen::DstGeometry;

constexpr std::uint32_t dsd64 = 2822400;
constexpr std::uint32_t dsd128 = 5644800;
constexpr std::uint32_t dsd256 = 11289600;

enum class Sound { tone, noise, silence };

Bytes frame_sound(const DstGeometry& g, std::uint32_t rate, Sound kind, std::uint64_t seed) {
    switch (kind) {
        case Sound::noise:
            return testgen::random_sound(g.sound_bytes(), seed);
        case Sound::silence:
            return Bytes(g.sound_bytes(), 0x00);
        default: {
            Bytes sound(g.sound_bytes());
            testgen::InterleavedTone(g.channels, rate, 700.0 + 50.0 * static_cast<double>(seed % 7))
                .next(sound);
            return sound;
        }
    }
}

// One decoder per geometry, reused as the library intends.
class Decoders {
  public:
    // The decoded sound, or nothing when the decoder reports damage.
    std::optional<Bytes> decode(const Bytes& frame, const DstGeometry& g) {
        auto& decoder = decoders_[{g.channels, g.bytes_per_channel}];
        if (!decoder) {
            decoder = std::make_unique<dst::FrameDecoder>(g.channels, g.bytes_per_channel);
        }
        Bytes sound(g.sound_bytes());
        if (decoder->decode(frame, sound) != dst::FrameStatus::ok) {
            return std::nullopt;
        }
        return sound;
    }

  private:
    std::map<std::pair<unsigned, std::size_t>, std::unique_ptr<dst::FrameDecoder>> decoders_;
};

// The end of the coded data as the decoder must judge it.
void expect_end_in_bounds(const testgen::DstFrameInfo& info, const std::string& what) {
    if (info.coded_bits == 0) {
        return;  // stored
    }
    EXPECT_GE(info.end_pos + 7, info.coded_bits) << what;
    EXPECT_LE(info.end_pos, info.coded_bits + 176) << what;
}

// Which syntax elements a set of plans used.
class Coverage {
  public:
    void note(const DstFramePlan& plan, const DstGeometry& g) {
        const unsigned n = g.channels;
        seen_.insert(std::to_string(n) + " channels");
        seen_.insert(g.bytes_per_channel == dsd64 / 600 ? "DSD64" : "DSD128");
        if (plan.stored) {
            seen_.insert("stored frame");
            if (plan.stored_extra_bytes > 0) {
                seen_.insert("bytes after a stored frame's sound");
            }
            return;
        }
        segmentation(plan.filter_segments, "filter", testgen::dst_filter_max_segments, 128, g);
        if (plan.tables_same_segmentation) {
            seen_.insert("tables share the filter segmentation");
        } else {
            segmentation(plan.table_segments, "table", testgen::dst_table_max_segments, 4, g);
        }
        mapping(plan.filter_mapping, "filter", n);
        if (plan.tables_same_mapping) {
            seen_.insert("tables share the filter mapping");
        } else {
            mapping(plan.table_mapping, "table", n);
        }
        for (const bool half : plan.half_probability) {
            if (half) {
                seen_.insert("half probability");
            }
        }
        for (const auto& f : plan.filters) {
            coding(f.coding, "coefficients");
            if (f.coefficients.size() == 1 || f.coefficients.size() == 128) {
                seen_.insert("filter order " + std::to_string(f.coefficients.size()));
            }
            if (std::all_of(f.coefficients.begin(), f.coefficients.end(),
                            [](int c) { return c == -256; }) &&
                f.coefficients.size() == 128) {
                seen_.insert("prediction of 2^15");
            }
        }
        for (const auto& t : plan.tables) {
            if (t.entries.size() == 1) {
                seen_.insert("table of length 1");
                continue;
            }
            coding(t.coding, "entries");
            if (t.entries.size() == 64) {
                seen_.insert("table of length 64");
            }
        }
        seen_.insert(plan.first_bit ? "leading bit 1" : "leading bit 0");
    }

    // Every element a decoder must read, in the names note() gives.
    std::vector<std::string> missing() const {
        std::vector<std::string> all{"stored frame",
                                     "bytes after a stored frame's sound",
                                     "tables share the filter segmentation",
                                     "tables share the filter mapping",
                                     "half probability",
                                     "filter order 1",
                                     "filter order 128",
                                     "prediction of 2^15",
                                     "table of length 1",
                                     "table of length 64",
                                     "leading bit 0",
                                     "leading bit 1",
                                     "DSD64",
                                     "DSD128"};
        for (int c = 1; c <= 6; ++c) {
            all.push_back(std::to_string(c) + " channels");
        }
        for (const std::string what : {"filter", "table"}) {
            for (const std::string how : {"same for all channels", "per channel"}) {
                all.push_back(what + " segmentation " + how);
                all.push_back(what + " segmentation " + how + " at its limit");
                all.push_back(what + " mapping " + how);
            }
            all.push_back(what + " segment resolution above the minimum length");
            all.push_back("2 x N " + what + "s");
        }
        for (const std::string what : {"coefficients", "entries"}) {
            all.push_back("raw " + what);
            for (int method = 0; method < 3; ++method) {
                all.push_back("Rice " + what + " method " + std::to_string(method));
            }
        }
        std::vector<std::string> out;
        for (const auto& name : all) {
            if (!seen_.contains(name)) {
                out.push_back(name);
            }
        }
        return out;
    }

  private:
    void segmentation(const testgen::DstSegmentation& s, const std::string& what,
                      unsigned max_segments, unsigned min_bytes, const DstGeometry& g) {
        const std::string how = s.same_for_all_channels ? "same for all channels" : "per channel";
        const std::string name = what + " segmentation " + how;
        seen_.insert(name);
        std::size_t most = 0;
        for (unsigned c = 0; c < g.channels; ++c) {
            most = std::max(most, s.lengths[c].size());
        }
        if (most == (s.same_for_all_channels ? max_segments : max_segments - 1)) {
            seen_.insert(name + " at its limit");
        }
        if (most > 0 && s.resolution > min_bytes) {
            seen_.insert(what + " segment resolution above the minimum length");
        }
    }
    void mapping(const testgen::DstMapping& m, const std::string& what, unsigned n) {
        seen_.insert(what + " mapping " +
                     (m.same_for_all_channels ? "same for all channels" : "per channel"));
        unsigned count = 0;
        for (const auto& list : m.numbers) {
            for (const unsigned number : list) {
                count = std::max(count, number + 1);
            }
        }
        if (count == 2 * n) {
            seen_.insert("2 x N " + what + "s");
        }
    }
    void coding(const testgen::DstCoding& c, const std::string& what) {
        seen_.insert(c.rice ? "Rice " + what + " method " + std::to_string(c.method)
                            : "raw " + what);
    }

    std::set<std::string> seen_;
};

// Mixes of every element drawn from many seeds: 1 to 6 channels, DSD64 and
// DSD128, tone, noise and silence; every frame decodes to its sound, and the
// seeds together use every element.
TEST(DstRoundTrip, RandomFramesOfEveryElementDecodeToTheirSound) {
    Decoders decoders;
    Coverage coverage;
    for (std::uint64_t seed = 1; seed <= 150; ++seed) {
        const unsigned channels = 1 + seed % 6;
        const std::uint32_t rate = seed % 5 == 0 ? dsd128 : dsd64;
        const DstGeometry g = testgen::dst_geometry(channels, rate);
        const Bytes sound = frame_sound(g, rate, static_cast<Sound>(seed % 3), seed);
        DstEncoderOptions options;
        options.seed = seed;
        options.random = true;
        const DstFramePlan plan = testgen::plan_dst_frame(sound, g, options);
        coverage.note(plan, g);
        testgen::DstFrameInfo info;
        const Bytes frame = testgen::write_dst_frame(plan, sound, g, DstDamage::none, &info);
        const std::string what = "seed " + std::to_string(seed);
        expect_end_in_bounds(info, what);
        const auto decoded = decoders.decode(frame, g);
        ASSERT_TRUE(decoded) << what << ": reported damaged";
        ASSERT_TRUE(*decoded == sound) << what << ": decoded to other sound";
    }
    EXPECT_EQ(coverage.missing(), std::vector<std::string>{});
}

// The limits exactly, and the choices a random mix meets too rarely.
TEST(DstRoundTrip, FramesAtEveryLimitDecodeToTheirSound) {
    struct Case {
        std::string name;
        std::function<void(const DstGeometry&, DstEncoderOptions&)> options;
        // Changes to the plan itself, after the encoder's choices.
        std::function<void(const DstGeometry&, DstFramePlan&)> plan = nullptr;
        Sound sound = Sound::tone;
    };
    const auto shares_nothing = [](DstEncoderOptions& o) {
        o.tables_same_segmentation = false;
        o.tables_same_mapping = false;
    };
    const std::vector<Case> cases{
        {"most segments, same for all channels",
         [&](const DstGeometry& g, DstEncoderOptions& o) {
             shares_nothing(o);
             o.filter_segments = testgen::even_dst_segments(g, true, {4}, true);
             o.table_segments = testgen::even_dst_segments(g, false, {8}, true);
         }},
        {"most segments per channel",
         [&](const DstGeometry& g, DstEncoderOptions& o) {
             shares_nothing(o);
             o.filter_segments =
                 testgen::even_dst_segments(g, true, std::vector<unsigned>(g.channels, 3), false);
             o.table_segments =
                 testgen::even_dst_segments(g, false, std::vector<unsigned>(g.channels, 7), false);
         }},
        {"largest resolution: one segment leaving the minimum",
         [&](const DstGeometry& g, DstEncoderOptions& o) {
             shares_nothing(o);
             const auto filter_span = static_cast<unsigned>(g.bytes_per_channel - 128);
             const auto table_span = static_cast<unsigned>(g.bytes_per_channel - 4);
             o.filter_segments = {true, filter_span, {g.channels, {1}}};
             o.table_segments = {false, table_span, {g.channels, {1}}};
         }},
        {"shortest segments",
         [&](const DstGeometry& g, DstEncoderOptions& o) {
             shares_nothing(o);
             o.filter_segments = {true, 1, {g.channels, {128, 128, 128, 128}}};
             o.table_segments = {true, 1, {g.channels, std::vector<unsigned>(8, 4)}};
         }},
        {"2 x N filters and tables, numbered in turn",
         [&](const DstGeometry& g, DstEncoderOptions& o) {
             shares_nothing(o);
             o.filter_segments =
                 testgen::even_dst_segments(g, true, std::vector<unsigned>(g.channels, 1), false);
             o.table_segments =
                 testgen::even_dst_segments(g, false, std::vector<unsigned>(g.channels, 5), false);
             testgen::DstMapping filters{false, {}};
             testgen::DstMapping tables{false, {}};
             for (unsigned c = 0; c < g.channels; ++c) {
                 filters.numbers.push_back({2 * c, 2 * c + 1});
                 tables.numbers.push_back({2 * c, 2 * c + 1, 2 * c, 0, 2 * c + 1, c});
             }
             o.filter_mapping = filters;
             o.table_mapping = tables;
         }},
        {"tables share the mapping, not the segmentation",
         [&](const DstGeometry& g, DstEncoderOptions& o) {
             o.tables_same_segmentation = false;
             o.tables_same_mapping = true;
             o.filter_segments = testgen::even_dst_segments(g, true, {2}, true);
             o.table_segments = {true, 3, {g.channels, {40, 1000}}};
         }},
        {"one filter and one table for all channels",
         [&](const DstGeometry& g, DstEncoderOptions& o) {
             o.filter_mapping = testgen::DstMapping{true, {g.channels, {0}}};
         }},
        {"tables of length 1, half probability, leading bit 0",
         [&](const DstGeometry& g, DstEncoderOptions& o) {
             o.table_length = 1;
             o.half_probability = std::vector<bool>(g.channels, true);
             o.first_bit = false;
         }},
        {"Rice with the longest and shortest parameter",
         [&](const DstGeometry&, DstEncoderOptions& o) {
             o.filter_coding = testgen::DstCoding{true, 2, 0};
             o.table_coding = testgen::DstCoding{true, 1, 7};
         }},
        {"raw values, order 1 and tables of length 2",
         [&](const DstGeometry&, DstEncoderOptions& o) {
             o.filter_order = 1;
             o.filter_coding = testgen::DstCoding{};
             o.table_length = 2;
             o.table_coding = testgen::DstCoding{};
         }},
        {"prediction of 2^15 wraps to -2^15",
         [&](const DstGeometry&, DstEncoderOptions& o) { o.table_length = 64; },
         [&](const DstGeometry&, DstFramePlan& plan) {
             for (auto& f : plan.filters) {
                 f.coefficients.assign(128, -256);
             }
             plan.filters[0].coding = {true, 0, std::nullopt};
         },
         Sound::silence},
        {"stored, with a spare bit and bytes after the sound",
         [&](const DstGeometry&, DstEncoderOptions& o) { o.stored = true; },
         [&](const DstGeometry&, DstFramePlan& plan) {
             plan.stored_spare_bit = true;
             plan.stored_extra_bytes = 3;
         },
         Sound::noise},
    };
    Decoders decoders;
    for (const auto& c : cases) {
        for (unsigned channels = 1; channels <= 6; ++channels) {
            const DstGeometry g = testgen::dst_geometry(channels, dsd64);
            const Bytes sound = frame_sound(g, dsd64, c.sound, channels);
            DstEncoderOptions options;
            c.options(g, options);
            DstFramePlan plan = testgen::plan_dst_frame(sound, g, options);
            if (c.plan) {
                c.plan(g, plan);
            }
            testgen::DstFrameInfo info;
            const Bytes frame = testgen::write_dst_frame(plan, sound, g, DstDamage::none, &info);
            const std::string what = c.name + ", " + std::to_string(channels) + " channels";
            expect_end_in_bounds(info, what);
            const auto decoded = decoders.decode(frame, g);
            ASSERT_TRUE(decoded) << what << ": reported damaged";
            EXPECT_TRUE(*decoded == sound) << what << ": decoded to other sound";
        }
    }
}

// The tone compresses at every rate, and decodes back.
TEST(DstRoundTrip, ToneCompressesAtEveryRate) {
    Decoders decoders;
    for (const std::uint32_t rate : {dsd64, dsd128, dsd256}) {
        for (const unsigned channels : {1U, 2U, 6U}) {
            const DstGeometry g = testgen::dst_geometry(channels, rate);
            const Bytes sound = frame_sound(g, rate, Sound::tone, 0);
            testgen::DstFrameInfo info;
            const Bytes frame = testgen::encode_dst_frame(sound, g, {}, &info);
            const std::string what = std::to_string(rate) + " Hz, " + std::to_string(channels);
            expect_end_in_bounds(info, what);
            EXPECT_LT(2 * frame.size(), sound.size()) << what;
            const auto decoded = decoders.decode(frame, g);
            ASSERT_TRUE(decoded) << what;
            EXPECT_TRUE(*decoded == sound) << what;
        }
    }
}

// Each damage is reported, on the frame that decodes when undamaged.
TEST(DstRoundTrip, EveryDamageIsReported) {
    const std::vector<std::pair<DstDamage, std::string>> damages{
        {DstDamage::header_cut, "header cut"},
        {DstDamage::stored_stuffing, "stored frame's stuffing bits"},
        {DstDamage::stored_cut, "stored frame cut"},
        {DstDamage::segment_too_short, "segment too short"},
        {DstDamage::segment_too_long, "segment too long"},
        {DstDamage::resolution_zero, "resolution 0"},
        {DstDamage::too_many_segments, "too many segments"},
        {DstDamage::mapping_out_of_range, "filter number not introduced"},
        {DstDamage::too_many_filters, "2 x N + 1 filters"},
        {DstDamage::segment_count_mismatch, "shared mapping, other segment count"},
        {DstDamage::rice_method_3, "method 3"},
        {DstDamage::rice_method_too_long, "method predicting from all values"},
        {DstDamage::coefficient_out_of_range, "coefficient 256"},
        {DstDamage::table_entry_out_of_range, "table entry 129"},
        {DstDamage::coded_first_bit, "coded data starting with 1"},
        {DstDamage::unused_bits, "unused bits after the coded data"},
        {DstDamage::coded_cut_short, "coded data cut short"},
    };
    Decoders decoders;
    for (const unsigned channels : {1U, 2U, 5U}) {
        const DstGeometry g = testgen::dst_geometry(channels, dsd64);
        const Bytes sound = frame_sound(g, dsd64, Sound::tone, 3);
        for (const auto& [damage, name] : damages) {
            DstEncoderOptions options;
            options.stored =
                damage == DstDamage::stored_stuffing || damage == DstDamage::stored_cut;
            const std::string what = name + ", " + std::to_string(channels) + " channels";
            EXPECT_TRUE(decoders.decode(testgen::encode_dst_frame(sound, g, options), g))
                << what << ": undamaged";
            options.damage = damage;
            EXPECT_FALSE(decoders.decode(testgen::encode_dst_frame(sound, g, options), g)) << what;
        }
    }
}

TEST(DstEncoder, SameSeedSameFrame) {
    const DstGeometry g = testgen::dst_geometry(3, dsd64);
    const Bytes sound = frame_sound(g, dsd64, Sound::tone, 1);
    DstEncoderOptions options;
    options.random = true;
    const Bytes first = testgen::encode_dst_frame(sound, g, options);
    EXPECT_TRUE(testgen::encode_dst_frame(sound, g, options) == first);
    options.seed = 2;
    EXPECT_FALSE(testgen::encode_dst_frame(sound, g, options) == first);
}

// --- Files ---------------------------------------------------------------------

struct Chunk {
    std::string id;
    Bytes data;
};

// The chunks of a DSDIFF container's data, in order.
std::vector<Chunk> chunks_of(std::span<const std::uint8_t> data) {
    std::vector<Chunk> out;
    std::size_t at = 0;
    while (at + 12 <= data.size()) {
        const auto size = static_cast<std::size_t>(load_be64(data.subspan(at + 4, 8)));
        const auto id = data.subspan(at, 4);
        const auto body = data.subspan(at + 12, std::min(size, data.size() - at - 12));
        out.push_back({std::string(id.begin(), id.end()), Bytes(body.begin(), body.end())});
        at += 12 + size + size % 2;
    }
    return out;
}

std::vector<std::string> ids_of(const std::vector<Chunk>& chunks) {
    std::vector<std::string> ids;
    ids.reserve(chunks.size());
    for (const auto& c : chunks) {
        ids.push_back(c.id);
    }
    return ids;
}

testgen::DstFileSpec edited_master_spec(unsigned channels, std::uint32_t rate) {
    testgen::DstFileSpec spec;
    spec.channels = channels;
    spec.rate = rate;
    spec.prop_chunks = {testgen::dff_chunk("ABSS", {0, 1, 2, 3, 4, 5, 6, 7})};
    spec.chunks_before = {
        testgen::dff_chunk("COMT", {0, 0}),
        testgen::dff_chunk("DIIN", testgen::dff_chunk("DITI", {0, 0, 0, 1, 'T'}))};
    spec.dst_chunks = {testgen::dff_chunk("XDST", {9})};
    spec.chunks_after = {testgen::dff_chunk("MANF", {'A', 'B', 'C', 'D', 1}),
                         testgen::dff_chunk("ID3 ", {'I', 'D', '3', 4, 0, 0, 0, 0, 0, 0})};
    spec.dstc = true;
    spec.dsti = true;
    return spec;
}

// The plain twin is the file a DST decoder must write: built here again from
// its chunks, and holding every chunk of the DST file but the sound's.
TEST(DstFile, PlainTwinHoldsTheDstFilesChunksAndTheDecodedSound) {
    Decoders decoders;
    const unsigned channels = 3;
    const auto spec = edited_master_spec(channels, dsd64);
    const DstGeometry g = testgen::dst_geometry(channels, dsd64);
    Bytes sound(5 * g.sound_bytes());
    testgen::InterleavedTone(channels, dsd64).next(sound);
    const Bytes dst_file = testgen::dst_dff_file(spec, sound);
    const Bytes plain = testgen::plain_dff_file(spec, sound);

    const Bytes expected_plain = testgen::dff_form(
        {testgen::dff_chunk("FVER", {1, 5, 0, 0}),
         testgen::dff_prop({testgen::dff_fs(dsd64), testgen::dff_chnl({"MLFT", "MRGT", "C   "}),
                            testgen::dff_cmpr("DSD ", "not compressed"), spec.prop_chunks[0]}),
         spec.chunks_before[0], spec.chunks_before[1], testgen::dff_chunk("DSD ", sound),
         spec.chunks_after[0], spec.chunks_after[1]});
    EXPECT_TRUE(plain == expected_plain);

    ASSERT_EQ(load_be64(std::span(dst_file).subspan(4, 8)), dst_file.size() - 12);
    const auto top = chunks_of(std::span(dst_file).subspan(16));
    const auto plain_top = chunks_of(std::span(plain).subspan(16));
    ASSERT_EQ(ids_of(top), (std::vector<std::string>{"FVER", "PROP", "COMT", "DIIN", "DST ", "DSTI",
                                                     "MANF", "ID3 "}));
    const Bytes dst_prop =
        testgen::dff_prop({testgen::dff_fs(dsd64), testgen::dff_chnl({"MLFT", "MRGT", "C   "}),
                           testgen::dff_cmpr("DST ", "DST Encoded"), spec.prop_chunks[0]});
    EXPECT_TRUE(top[1].data == Bytes(dst_prop.begin() + 12, dst_prop.end()));
    for (const std::size_t i : {0U, 2U, 3U}) {
        EXPECT_TRUE(top[i].data == plain_top[i].data) << top[i].id;
    }
    for (const std::size_t i : {6U, 7U}) {
        EXPECT_TRUE(top[i].data == plain_top[i - 1].data) << top[i].id;
    }
    const auto inner = chunks_of(top[4].data);
    ASSERT_EQ(inner.size(), 2 + 2 * 5U);
    EXPECT_EQ(inner[0].id, "FRTE");
    EXPECT_TRUE(inner[0].data == (Bytes{0, 0, 0, 5, 0, 75}));
    EXPECT_EQ(inner[1].id, "XDST");
    Bytes decoded;
    for (std::size_t f = 0; f < 5; ++f) {
        ASSERT_EQ(inner[2 + 2 * f].id, "DSTF");
        ASSERT_EQ(inner[3 + 2 * f].id, "DSTC");
        const auto frame = decoders.decode(inner[2 + 2 * f].data, g);
        ASSERT_TRUE(frame) << "frame " << f;
        decoded.insert(decoded.end(), frame->begin(), frame->end());
    }
    EXPECT_TRUE(decoded == sound);
    EXPECT_EQ(top[5].data.size(), 12 * 5U);

    // Streamed, both files at once: the same bytes.
    std::ostringstream streamed_dst;
    std::ostringstream streamed_plain;
    ASSERT_TRUE(testgen::write_dst_dff(
        spec, 5,
        [&](std::uint64_t i, std::span<std::uint8_t> frame) {
            std::copy_n(sound.begin() + static_cast<std::ptrdiff_t>(i * g.sound_bytes()),
                        g.sound_bytes(), frame.begin());
        },
        streamed_dst, &streamed_plain));
    EXPECT_TRUE(streamed_dst.str() == std::string(dst_file.begin(), dst_file.end()));
    EXPECT_TRUE(streamed_plain.str() == std::string(plain.begin(), plain.end()));
}

// --- FFmpeg ----------------------------------------------------------------------

std::string ffmpeg_pcm(const std::string& ffmpeg, const std::string& file) {
    const auto r =
        run_program(ffmpeg, {"-v", "error", "-i", file, "-f", "s32le", "-c:a", "pcm_s32le", "-"});
    EXPECT_EQ(r.status, 0) << file << ": " << r.err;
    return r.out;
}

// FFmpeg decodes each DST file the generator makes, within the syntax it
// reads (one segment per channel with both segmentation flags set, any
// mapping, every filter order and coding, no tables of length 1, no stored
// frames), to the PCM it decodes from the plain twin. It exits 0 on frames
// it misreads too, so the lengths are compared as well.
TEST(DstFfmpeg, DecodesEveryGeneratedFileAsItsPlainTwin) {
    const auto ffmpeg = find_on_path("ffmpeg");
    if (!ffmpeg) {
        GTEST_SKIP() << "ffmpeg is not installed (Debian package: ffmpeg)";
    }
    TempDir dir;
    struct FileCase {
        unsigned channels;
        std::uint32_t rate;
        bool random;
    };
    const std::vector<FileCase> cases{{1, dsd64, true},  {2, dsd64, true},  {3, dsd64, true},
                                      {4, dsd64, true},  {5, dsd64, true},  {6, dsd64, true},
                                      {2, dsd128, true}, {6, dsd128, true}, {2, dsd64, false},
                                      {6, dsd64, false}};
    for (const auto& c : cases) {
        auto spec = edited_master_spec(c.channels, c.rate);
        spec.options.random = c.random;
        spec.options.ffmpeg_readable = true;
        spec.options.seed = c.channels * 100 + c.rate / 44100;
        const DstGeometry g = testgen::dst_geometry(c.channels, c.rate);
        Bytes sound(8 * g.sound_bytes());
        testgen::InterleavedTone(c.channels, c.rate).next(sound);
        const std::string name = std::to_string(c.channels) + "ch_" + std::to_string(c.rate) +
                                 (c.random ? "_random" : "_best");
        write_file(dir / (name + ".dff"), testgen::dst_dff_file(spec, sound));
        write_file(dir / (name + "_plain.dff"), testgen::plain_dff_file(spec, sound));
        const std::string from_dst = ffmpeg_pcm(*ffmpeg, dir / (name + ".dff"));
        const std::string from_plain = ffmpeg_pcm(*ffmpeg, dir / (name + "_plain.dff"));
        ASSERT_FALSE(from_plain.empty()) << name;
        EXPECT_EQ(from_dst.size(), from_plain.size()) << name;
        EXPECT_TRUE(from_dst == from_plain) << name;
    }
}

}  // namespace
}  // namespace dsd::test
