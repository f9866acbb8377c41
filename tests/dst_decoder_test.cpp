// The DST frame decoder against frames the test encoder builds: every
// syntax element decodes back to the sound it coded, every broken limit
// makes the frame damaged, and the threaded stream gives the same bytes as
// one thread.
#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <optional>
#include <random>

#include "dst.hpp"
#include "dst_frame_builder.hpp"

namespace {

using namespace dsd::test::dst;
using dsd::dst::FrameDecoder;
using dsd::dst::FrameStatus;

constexpr std::size_t L64 = 4704;  // 2822400 Hz
constexpr std::size_t L8 = 588;    // 352800 Hz, the smallest frame

std::optional<Bytes> decode(const Bytes& frame, unsigned channels, std::size_t L) {
    FrameDecoder decoder(channels, L);
    Bytes sound(channels * L);
    if (decoder.decode(frame, sound) != FrameStatus::ok) {
        return std::nullopt;
    }
    return sound;
}

Bytes random_bytes(std::mt19937& rng, std::size_t n) {
    Bytes out(n);
    for (auto& b : out) {
        b = static_cast<std::uint8_t>(rng());
    }
    return out;
}

Bytes tones(unsigned channels, std::size_t L, std::uint32_t rate = 2822400) {
    std::vector<Bytes> each;
    for (unsigned c = 0; c < channels; ++c) {
        each.push_back(tone(700.0 + 350.0 * c, rate, L));
    }
    return interleave(each);
}

// A frame spec with one filter (coefficients `coef`) and one table.
FrameSpec plain_spec(unsigned channels, std::size_t L, std::vector<int> coef = {100, -20, 7},
                     std::vector<int> entry = {60, 40, 20, 8}) {
    FrameSpec spec;
    spec.channels = channels;
    spec.bytes_per_channel = L;
    spec.filters = {{std::move(coef), {}}};
    spec.tables = {{std::move(entry), {}}};
    return spec;
}

bool round_trips(const FrameSpec& spec, const Bytes& sound) {
    return decode(compressed_frame(spec, sound), spec.channels, spec.bytes_per_channel) == sound;
}

bool damaged(const FrameSpec& spec, const Bytes& sound) {
    return !decode(compressed_frame(spec, sound), spec.channels, spec.bytes_per_channel);
}

TEST(DstGeometry, RatesDstAllows) {
    using dsd::dst::frame_bytes_per_channel;
    EXPECT_EQ(frame_bytes_per_channel(2822400), 4704u);
    EXPECT_EQ(frame_bytes_per_channel(5644800), 9408u);
    EXPECT_EQ(frame_bytes_per_channel(22579200), 37632u);
    EXPECT_EQ(frame_bytes_per_channel(352800), 588u);
    EXPECT_EQ(frame_bytes_per_channel(3 * 352800), 1764u);
    for (const std::uint32_t fs : {0u, 176400u, 2822401u, 3072000u, 4410000u}) {
        EXPECT_EQ(frame_bytes_per_channel(fs), 0u) << fs;
    }
    EXPECT_GE(dsd::dst::available_threads(), 1u);
}

TEST(DstStored, SoundAsItStandsExtraBytesIgnored) {
    std::mt19937 rng(1);
    const Bytes sound = random_bytes(rng, 3 * L8);
    Bytes frame = stored_frame(sound);
    EXPECT_EQ(decode(frame, 3, L8), sound);
    frame[0] = 0x00;  // the free bit clear
    EXPECT_EQ(decode(frame, 3, L8), sound);
    // Longer than any compressed frame: still valid.
    frame.resize(dsd::dst::max_frame_bytes(3, L8) + 10, 0xFF);
    EXPECT_EQ(decode(frame, 3, L8), sound);

    for (unsigned bit = 0; bit < 6; ++bit) {
        Bytes bad = stored_frame(sound);
        bad[0] |= static_cast<std::uint8_t>(1u << bit);
        EXPECT_FALSE(decode(bad, 3, L8)) << "stuffing bit " << bit;
    }
    frame.resize(3 * L8);  // one byte short
    EXPECT_FALSE(decode(frame, 3, L8));
    EXPECT_FALSE(decode({}, 3, L8));
    // A decoder of a geometry DST does not have, or a wrong sound size.
    Bytes out(7 * L8);
    EXPECT_EQ(FrameDecoder(7, L8).decode(stored_frame(out), out), FrameStatus::damaged);
    out.resize(3 * 600);
    EXPECT_EQ(FrameDecoder(3, 600).decode(stored_frame(out), out), FrameStatus::damaged);
    out.resize(3 * L8 - 1);
    EXPECT_EQ(FrameDecoder(3, L8).decode(stored_frame(sound), out), FrameStatus::damaged);
}

TEST(DstCompressed, FittedTonesOfEveryChannelCountAndRate) {
    for (const std::uint32_t rate : {2822400u, 5644800u, 22579200u}) {
        const std::size_t L = rate / 600;
        for (unsigned channels = rate > 5644800 ? 6 : 1; channels <= 6; ++channels) {
            const Bytes sound = tones(channels, L, rate);
            const FrameSpec spec = fitted_spec(channels, L, sound, 8 + 4 * channels, 40);
            const Bytes frame = compressed_frame(spec, sound);
            EXPECT_LT(frame.size(), sound.size() * 3 / 4) << "a real prediction compresses";
            EXPECT_EQ(decode(frame, channels, L), sound) << channels << " channels at " << rate;
        }
    }
}

// Random valid specs mixing every element: segmentations (same for all
// channels or not, any resolution, up to the limits), mappings, filter
// orders 1 to 128, tables of 1 to 64 entries, raw and Rice coding with each
// method, half probability.
class SpecMaker {
  public:
    explicit SpecMaker(std::uint32_t seed) : rng_(seed) {}

    FrameSpec make(unsigned channels, std::size_t L) {
        FrameSpec spec;
        spec.channels = channels;
        spec.bytes_per_channel = L;
        spec.first_bit = pick(0, 1);
        spec.filter_segmentation = segmentation(channels, L, 4, 128);
        spec.tables_same_segmentation = pick(0, 2) == 0;
        spec.table_segmentation = spec.tables_same_segmentation ? spec.filter_segmentation
                                                                : segmentation(channels, L, 8, 4);
        const auto filter_counts = counts(spec.filter_segmentation, channels);
        const auto table_counts = counts(spec.table_segmentation, channels);
        spec.filter_mapping = mapping(filter_counts);
        spec.tables_same_mapping = filter_counts == table_counts && pick(0, 1) == 0;
        spec.table_mapping = spec.tables_same_mapping ? spec.filter_mapping : mapping(table_counts);
        for (unsigned c = 0; c < channels; ++c) {
            spec.half_probability.push_back(pick(0, 2) == 0);
        }
        for (unsigned f = 0; f < numbers(spec.filter_mapping); ++f) {
            const unsigned order = pick(0, 3) == 0 ? 128 : pick(1, 128);
            Filter filter{{}, coding(order)};
            const int spread = 1 << pick(2, 8);
            for (unsigned i = 0; i < order; ++i) {
                filter.coef.push_back(std::clamp(pick(-spread, spread), -256, 255));
            }
            spec.filters.push_back(filter);
        }
        for (unsigned t = 0; t < numbers(spec.table_mapping); ++t) {
            const unsigned length = pick(0, 4) == 0 ? 1 : pick(1, 64);
            Table table{{}, coding(length)};
            for (unsigned i = 0; i < length; ++i) {
                table.entry.push_back(pick(1, 128));
            }
            spec.tables.push_back(table);
        }
        return spec;
    }

    int pick(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }

  private:
    Segmentation segmentation(unsigned channels, std::size_t L, unsigned max_segments,
                              std::uint32_t min_bytes) {
        Segmentation s;
        s.same_for_all = pick(0, 1) == 0;
        s.resolution = static_cast<std::uint32_t>(pick(1, pick(0, 1) == 0 ? 8 : 300));
        s.lengths.assign(s.same_for_all ? 1 : channels, {});
        for (auto& list : s.lengths) {
            const unsigned wanted =
                pick(0, static_cast<int>(max_segments) - (s.same_for_all ? 0 : 1));
            std::size_t defined = 0;
            const std::uint32_t shortest = (min_bytes + s.resolution - 1) / s.resolution;
            while (list.size() < wanted) {
                const std::size_t longest = (L - defined - min_bytes) / s.resolution;
                if (longest < shortest) {
                    break;
                }
                const auto length = static_cast<std::uint32_t>(
                    pick(static_cast<int>(shortest),
                         static_cast<int>(std::min<std::size_t>(longest, shortest + 40))));
                list.push_back(length);
                defined += std::size_t{s.resolution} * length;
            }
        }
        return s;
    }

    static std::vector<unsigned> counts(const Segmentation& s, unsigned channels) {
        std::vector<unsigned> out;
        for (unsigned c = 0; c < channels; ++c) {
            out.push_back(static_cast<unsigned>(s.lengths[s.same_for_all ? 0 : c].size()) + 1);
        }
        return out;
    }

    Mapping mapping(const std::vector<unsigned>& segment_counts) {
        Mapping m;
        const auto channels = static_cast<unsigned>(segment_counts.size());
        m.same_for_all = std::all_of(segment_counts.begin(), segment_counts.end(),
                                     [&](unsigned n) { return n == segment_counts[0]; }) &&
                         pick(0, 1) == 0;
        m.numbers.assign(m.same_for_all ? 1 : channels, {});
        unsigned count = 1;
        for (std::size_t c = 0; c < m.numbers.size(); ++c) {
            for (unsigned s = 0; s < segment_counts[c]; ++s) {
                unsigned v =
                    c == 0 && s == 0 ? 0 : static_cast<unsigned>(pick(0, static_cast<int>(count)));
                v = std::min(v, 2 * channels - 1);
                count = std::max(count, v + 1);
                m.numbers[c].push_back(v);
            }
        }
        return m;
    }

    static unsigned numbers(const Mapping& m) {
        unsigned n = 0;
        for (const auto& list : m.numbers) {
            for (const unsigned v : list) {
                n = std::max(n, v + 1);
            }
        }
        return n;
    }

    Coding coding(unsigned values) {
        Coding c;
        c.rice = values > 1 && pick(0, 2) != 0;
        c.method = values > 2
                       ? static_cast<unsigned>(pick(0, std::min(2, static_cast<int>(values) - 2)))
                       : 0;
        c.m = static_cast<unsigned>(pick(0, 7));
        return c;
    }

    std::mt19937 rng_;
};

TEST(DstCompressed, RandomMixesOfEverySyntaxElement) {
    for (std::uint32_t seed = 1; seed <= 120; ++seed) {
        SpecMaker maker(seed);
        const auto channels = static_cast<unsigned>(maker.pick(1, 6));
        const std::size_t L = seed % 8 == 0 ? L64 : L8;
        const FrameSpec spec = maker.make(channels, L);
        std::mt19937 rng(seed);
        const Bytes sound = seed % 2 == 0 ? tones(channels, L) : random_bytes(rng, channels * L);
        ASSERT_TRUE(round_trips(spec, sound)) << "seed " << seed;
    }
}

TEST(DstCompressed, TableOfLengthOneReadsNothingMore) {
    FrameSpec spec = plain_spec(2, L8);
    spec.tables_same_mapping = false;
    spec.table_mapping.same_for_all = false;
    spec.table_mapping.numbers = {{0}, {1}};
    spec.tables = {{{128}, {}}, {{30, 20, 10, 5, 3}, {true, 1, 2}}};
    const Bytes sound = tones(2, L8);
    EXPECT_TRUE(round_trips(spec, sound));
    spec.tables[0] = {{128}, {true, 0, 0}};  // rice asked for: still nothing written
    EXPECT_TRUE(round_trips(spec, sound));
}

TEST(DstCompressed, HalfProbabilityOverTheFirstFilterOrderBits) {
    const Bytes sound = tones(3, L8);
    for (const unsigned order : {1u, 13u, 64u, 127u, 128u}) {
        FrameSpec spec = plain_spec(3, L8, std::vector<int>(order, -3));
        spec.half_probability = {true, false, true};
        EXPECT_TRUE(round_trips(spec, sound)) << order;
    }
}

// The extreme prediction 128 x 256 wraps to -32768.
TEST(DstCompressed, ExtremeCoefficients) {
    const Bytes sound(2 * L8, 0x00);
    for (const int c : {-256, 255}) {
        EXPECT_TRUE(round_trips(plain_spec(2, L8, std::vector<int>(128, c)), sound)) << c;
        EXPECT_TRUE(round_trips(plain_spec(2, L8, std::vector<int>(128, c)), tones(2, L8))) << c;
    }
}

TEST(DstSegmentation, ExplicitLimitsWithTheAsymmetry) {
    const Bytes sound = tones(2, L64);
    // (explicit segments, same for all channels, filters?) -> valid
    for (const bool filters : {true, false}) {
        const unsigned max = filters ? 4 : 8;
        const std::uint32_t min_bytes = filters ? 128 : 4;
        for (const bool same : {true, false}) {
            for (const unsigned n : {max - 1, max}) {
                FrameSpec spec = plain_spec(2, L64);
                Segmentation s;
                s.same_for_all = same;
                s.lengths.assign(same ? 1 : 2, std::vector<std::uint32_t>(n, min_bytes));
                spec.tables_same_segmentation = filters;
                spec.tables_same_mapping = filters;
                (filters ? spec.filter_segmentation : spec.table_segmentation) = s;
                const bool valid = same || n < max;
                EXPECT_EQ(round_trips(spec, sound), valid)
                    << (filters ? "filters " : "tables ") << n << (same ? " same" : " each");
                if (same && n == max) {
                    s.lengths[0].push_back(min_bytes);
                    (filters ? spec.filter_segmentation : spec.table_segmentation) = s;
                    EXPECT_TRUE(damaged(spec, sound)) << "one more than " << max;
                }
            }
        }
    }
}

TEST(DstSegmentation, LengthsAndResolutionInRange) {
    const Bytes sound = tones(2, L64);
    const auto with = [&](std::uint32_t resolution, std::vector<std::uint32_t> lengths) {
        FrameSpec spec = plain_spec(2, L64);
        spec.filter_segmentation.resolution = resolution;
        spec.filter_segmentation.lengths = {std::move(lengths)};
        return spec;
    };
    EXPECT_TRUE(round_trips(with(1, {128}), sound));
    EXPECT_TRUE(damaged(with(1, {127}), sound)) << "shorter than 1024 bits";
    EXPECT_TRUE(round_trips(with(1, {L64 - 256, 128}), sound)) << "leaves exactly 1024";
    EXPECT_TRUE(damaged(with(1, {L64 - 256, 129}), sound)) << "leaves less";
    EXPECT_TRUE(round_trips(with(L64 - 128, {1}), sound)) << "largest resolution";
    EXPECT_TRUE(damaged(with(L64 - 127, {1}), sound)) << "resolution too large";
    EXPECT_TRUE(damaged(with(0, {1}), sound)) << "resolution 0";
    EXPECT_TRUE(round_trips(with(64, {2, 3}), sound));
    EXPECT_TRUE(damaged(with(64, {1}), sound)) << "64 bytes";
}

TEST(DstMapping, NumbersAndLimits) {
    const Bytes sound = tones(2, L64);
    FrameSpec spec = plain_spec(2, L64);
    spec.tables_same_mapping = false;  // one table
    spec.filter_segmentation.lengths = {{200, 200}};
    spec.filter_mapping.numbers = {{0, 1, 2}};
    spec.filters.assign(3, spec.filters[0]);
    spec.filters[1].coef = {-50, 30};
    EXPECT_TRUE(round_trips(spec, sound));
    spec.filter_mapping.numbers = {{0, 1, 3}};  // 3 before 2 exists
    spec.filters.push_back(spec.filters[1]);
    EXPECT_TRUE(damaged(spec, sound));

    // Per channel, up to 2 x N filters.
    spec.filter_mapping.same_for_all = false;
    spec.filter_mapping.numbers = {{0, 1, 2}, {3, 0, 1}};
    spec.filters.assign(4, spec.filters[1]);
    EXPECT_TRUE(round_trips(spec, sound));
    spec.filter_mapping.numbers = {{0, 1, 2}, {3, 4, 1}};
    spec.filters.assign(5, spec.filters[1]);
    EXPECT_TRUE(damaged(spec, sound)) << "5 filters for 2 channels";

    // Same mapping for all channels needs as many segments in each.
    spec = plain_spec(2, L64);
    spec.filter_segmentation.same_for_all = false;
    spec.filter_segmentation.lengths = {{200}, {}};
    spec.filter_mapping.numbers = {{0, 0}};
    EXPECT_TRUE(damaged(spec, sound));
    // Tables sharing the filter mapping need as many segments.
    spec = plain_spec(2, L64);
    spec.tables_same_segmentation = false;
    spec.table_segmentation.lengths = {{100}};
    EXPECT_TRUE(damaged(spec, sound));
    spec.tables_same_mapping = false;
    spec.table_mapping.numbers = {{0, 0}};
    EXPECT_TRUE(round_trips(spec, sound));
}

TEST(DstDamage, CodingsAndValuesOutOfRange) {
    const Bytes sound = tones(1, L8);
    std::vector<int> coef = {90, -40, 20, 10, -5};
    const auto filter = [&](Coding c, std::vector<int> values) {
        FrameSpec spec = plain_spec(1, L8, std::move(values));
        spec.filters[0].coding = c;
        return spec;
    };
    const auto table = [&](Coding c, std::vector<int> values) {
        FrameSpec spec = plain_spec(1, L8);
        spec.tables[0] = {std::move(values), c};
        return spec;
    };
    for (unsigned method = 0; method < 3; ++method) {
        EXPECT_TRUE(round_trips(filter({true, method, 3}, coef), sound));
        EXPECT_TRUE(round_trips(table({true, method, 2}, {60, 50, 40, 30, 20}), sound));
    }
    EXPECT_TRUE(damaged(filter({true, 3, 3}, coef), sound)) << "method 3";
    EXPECT_TRUE(damaged(table({true, 3, 3}, {60, 50, 40, 30, 20}), sound)) << "method 3";
    EXPECT_TRUE(damaged(filter({true, 2, 3}, {1, 2, 3}), sound)) << "3 raw values of 3";
    EXPECT_TRUE(round_trips(filter({true, 1, 3}, {1, 2, 3}), sound));
    EXPECT_TRUE(damaged(table({true, 1, 3}, {5, 6}), sound)) << "2 raw entries of 2";
    for (const int out : {256, -257}) {
        coef[3] = out;
        EXPECT_TRUE(damaged(filter({true, 0, 4}, coef), sound)) << out;
    }
    coef[3] = 255;
    EXPECT_TRUE(round_trips(filter({true, 0, 4}, coef), sound));
    coef[3] = -256;
    EXPECT_TRUE(round_trips(filter({true, 0, 4}, coef), sound));
    for (const int out : {0, 129}) {
        EXPECT_TRUE(damaged(table({true, 1, 3}, {60, 50, out, 30}), sound)) << out;
    }
    EXPECT_TRUE(round_trips(table({true, 1, 3}, {60, 128, 1, 30}), sound));
}

TEST(DstDamage, FrameEndsInsideItsHeaderOrFirstCodedBitSet) {
    SpecMaker maker(7);
    const FrameSpec spec = maker.make(4, L8);
    const Bytes sound = tones(4, L8);
    const Bytes frame = compressed_frame(spec, sound);
    ASSERT_EQ(decode(frame, 4, L8), sound);
    const std::size_t header = header_bits(spec);
    for (std::size_t cut = 1; cut <= header / 8; ++cut) {
        EXPECT_FALSE(
            decode(Bytes(frame.begin(), frame.begin() + static_cast<std::ptrdiff_t>(cut)), 4, L8))
            << cut;
    }
    Bytes flipped = frame;
    flipped[header / 8] ^= static_cast<std::uint8_t>(0x80 >> (header % 8));
    EXPECT_FALSE(decode(flipped, 4, L8));
}

// A sound that follows its prediction everywhere codes as zeros only, so
// the code's end can move without changing what is decoded: the end check
// alone decides.
TEST(DstDamage, CodedDataEndsWithinItsLimits) {
    FrameSpec spec = plain_spec(2, L8, {1}, {128});
    spec.first_bit = 1;
    const Bytes sound(2 * L8, 0x00);
    const Bytes frame = compressed_frame(spec, sound);
    ASSERT_EQ(decode(frame, 2, L8), sound);
    const auto resized = [&](std::ptrdiff_t change) {
        Bytes f = frame;
        f.resize(static_cast<std::size_t>(static_cast<std::ptrdiff_t>(f.size()) + change), 0);
        return decode(f, 2, L8);
    };
    EXPECT_EQ(resized(1), sound) << "up to 7 unread bits";
    EXPECT_FALSE(resized(3)) << "unused coded data";
    EXPECT_EQ(resized(-20), sound) << "read up to 176 bits past the end";
    EXPECT_FALSE(resized(-23)) << "coded data cut short";

    // The same on a real frame: trailing bytes are unused data.
    const Bytes tone_sound = tones(2, L64);
    Bytes real = compressed_frame(fitted_spec(2, L64, tone_sound, 32, 24), tone_sound);
    ASSERT_EQ(decode(real, 2, L64), tone_sound);
    real.resize(real.size() + 3, 0);
    EXPECT_FALSE(decode(real, 2, L64));
    real.resize(dsd::dst::max_frame_bytes(2, L64) + 1, 0);
    EXPECT_FALSE(decode(real, 2, L64));
}

// Frames decoded together give what each gives alone, whatever each is:
// stored, damaged early or late, with half probability (whose start is
// decoded apart), with a coder that starts at C = 4095, or of any shape.
TEST(DstTogether, SameAsOneByOne) {
    constexpr unsigned channels = 2;
    std::vector<Bytes> frames;
    for (std::uint32_t seed = 1; seed <= 6; ++seed) {
        SpecMaker maker(seed * 17);
        FrameSpec spec = maker.make(channels, L8);
        spec.half_probability.assign(channels, seed % 2 == 0);
        const Bytes sound = seed % 3 == 0 ? tones(channels, L8) : Bytes(channels * L8, 0x69);
        frames.push_back(compressed_frame(spec, sound));
        if (seed == 3) {
            const std::size_t code = header_bits(spec) + 1;
            Bytes stuck = frames.back();
            for (std::size_t bit = code; bit < code + 12; ++bit) {
                stuck[bit / 8] |= static_cast<std::uint8_t>(0x80 >> (bit % 8));
            }
            frames.push_back(stuck);
        }
    }
    frames.push_back(stored_frame(tones(channels, L8)));
    frames.push_back(Bytes(frames[0].begin(), frames[0].begin() + 3));  // cut in its header
    Bytes longer = frames[1];
    longer.resize(longer.size() + 3, 0);  // unused coded data
    frames.push_back(longer);

    FrameDecoder decoder(channels, L8);
    std::vector<std::pair<FrameStatus, Bytes>> alone;
    for (const Bytes& f : frames) {
        Bytes sound(channels * L8);
        const FrameStatus status = decoder.decode(f, sound);
        alone.emplace_back(status, status == FrameStatus::ok ? sound : Bytes());
    }
    // Every frame with every other as a pair and as a triple, then all of
    // them in one list, longer than the decoder takes at once.
    const auto same_as_alone = [&](const std::vector<std::size_t>& picked) {
        std::vector<Bytes> sounds(picked.size(), Bytes(channels * L8));
        std::vector<FrameDecoder::Job> jobs;
        for (std::size_t k = 0; k < picked.size(); ++k) {
            jobs.push_back({frames[picked[k]], sounds[k]});
        }
        decoder.decode(jobs);
        for (std::size_t k = 0; k < picked.size(); ++k) {
            const auto& [status, sound] = alone[picked[k]];
            EXPECT_EQ(jobs[k].status, status) << "frame " << picked[k] << " at " << k;
            EXPECT_TRUE(status != FrameStatus::ok || sounds[k] == sound)
                << "frame " << picked[k] << " at " << k;
        }
    };
    const std::size_t n = frames.size();
    for (std::size_t i = 0; i < n; ++i) {
        for (std::size_t j = 0; j < n; ++j) {
            same_as_alone({i, j});
            same_as_alone({i, j, (i + 2 * j + 1) % n});
        }
    }
    std::vector<std::size_t> all(n);
    std::iota(all.begin(), all.end(), std::size_t{0});
    same_as_alone(all);
}

// The frames of a stream, with frame `bad` (if any) damaged.
struct VectorSource : dsd::dst::FrameSource {
    std::vector<Bytes> frames;
    std::size_t at = 0;
    std::size_t fail_at = SIZE_MAX;
    Next next(std::vector<std::uint8_t>& frame) override {
        if (at == fail_at) {
            return Next::failed;
        }
        if (at == frames.size()) {
            return Next::end;
        }
        frame = frames[at++];
        return Next::frame;
    }
};

struct VectorSink : dsd::dst::SoundSink {
    Bytes taken;
    std::size_t frames = 0;
    std::size_t fail_at = SIZE_MAX;
    bool take(std::span<const std::uint8_t> sound) override {
        if (frames == fail_at) {
            return false;
        }
        ++frames;
        taken.insert(taken.end(), sound.begin(), sound.end());
        return true;
    }
};

TEST(DstStream, SameBytesForAnyThreadCountAndFirstDamagedFrame) {
    using dsd::dst::StreamStatus;
    constexpr unsigned channels = 3;
    std::vector<Bytes> frames;
    Bytes expected;
    for (std::uint32_t k = 0; k < 40; ++k) {
        SpecMaker maker(100 + k);
        std::mt19937 rng(k);
        const Bytes sound = random_bytes(rng, channels * L8);
        frames.push_back(k % 5 == 3 ? stored_frame(sound)
                                    : compressed_frame(maker.make(channels, L8), sound));
        expected.insert(expected.end(), sound.begin(), sound.end());
    }
    const auto run = [&](unsigned threads, std::size_t source_fail, std::size_t sink_fail) {
        VectorSource source;
        source.frames = frames;
        source.fail_at = source_fail;
        VectorSink sink;
        sink.fail_at = sink_fail;
        const auto result = dsd::dst::decode_stream(source, sink, channels, L8, threads);
        return std::make_pair(result, sink.taken);
    };
    for (const unsigned threads : {1u, 2u, 7u, 0u}) {
        const auto [result, taken] = run(threads, SIZE_MAX, SIZE_MAX);
        EXPECT_EQ(result.status, StreamStatus::ok) << threads;
        EXPECT_EQ(result.frames, frames.size());
        EXPECT_TRUE(taken == expected) << threads << " threads";

        const auto failed_source = run(threads, 17, SIZE_MAX);
        EXPECT_EQ(failed_source.first.status, StreamStatus::source_failed);
        EXPECT_EQ(failed_source.first.frames, 17u);
        const auto failed_sink = run(threads, SIZE_MAX, 9);
        EXPECT_EQ(failed_sink.first.status, StreamStatus::sink_failed);
        EXPECT_EQ(failed_sink.first.frames, 9u);
    }
    // Damaged frames 22 and 31: 22 is reported, before a later source failure too.
    frames[22].resize(frames[22].size() + 3, 0);
    frames[31].resize(2);
    for (const unsigned threads : {1u, 2u, 7u}) {
        for (const std::size_t source_fail : {SIZE_MAX, std::size_t{30}}) {
            const auto [result, taken] = run(threads, source_fail, SIZE_MAX);
            EXPECT_EQ(result.status, StreamStatus::damaged) << threads;
            EXPECT_EQ(result.frames, 22u) << threads;
            EXPECT_TRUE(std::equal(taken.begin(), taken.end(), expected.begin()));
            EXPECT_EQ(taken.size(), 22 * channels * L8);
        }
    }
}

}  // namespace
