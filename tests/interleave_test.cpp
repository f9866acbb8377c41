#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <random>
#include <span>
#include <vector>

#include "interleave.hpp"

namespace dsd {
namespace {

std::uint8_t reversed_by_bits(std::uint8_t x) {
    std::uint8_t result = 0;
    for (int bit = 0; bit < 8; ++bit) {
        if (x & (1u << bit)) {
            result = static_cast<std::uint8_t>(result | (0x80u >> bit));
        }
    }
    return result;
}

std::vector<std::uint8_t> reference(std::span<const std::uint8_t> left,
                                    std::span<const std::uint8_t> right, bool reverse) {
    std::vector<std::uint8_t> out;
    for (std::size_t j = 0; j < left.size(); ++j) {
        out.push_back(reverse ? reversed_by_bits(left[j]) : left[j]);
        out.push_back(reverse ? reversed_by_bits(right[j]) : right[j]);
    }
    return out;
}

TEST(Interleave, KnownBytes) {
    const std::vector<std::uint8_t> left{0x01, 0x69, 0x00, 0xF0};
    const std::vector<std::uint8_t> right{0x80, 0x0F, 0xFF, 0x12};
    std::vector<std::uint8_t> out(8);
    interleave_channels(left, right, out, true);
    EXPECT_EQ(out, (std::vector<std::uint8_t>{0x80, 0x01, 0x96, 0xF0, 0x00, 0xFF, 0x0F, 0x48}));
    interleave_channels(left, right, out, false);
    EXPECT_EQ(out, (std::vector<std::uint8_t>{0x01, 0x80, 0x69, 0x0F, 0x00, 0xFF, 0xF0, 0x12}));
}

// Every (left, right) pair, cut into calls of each length: a length below
// the narrowest vector runs every pair through the byte path, and the others
// through each vector width and the mixes of widths with a tail.
TEST(Interleave, AllBytePairsThroughEveryPath) {
    std::vector<std::uint8_t> left(65536);
    std::vector<std::uint8_t> right(65536);
    for (std::size_t i = 0; i < left.size(); ++i) {
        left[i] = static_cast<std::uint8_t>(i >> 8);
        right[i] = static_cast<std::uint8_t>(i);
    }
    for (const bool reverse : {true, false}) {
        const auto expected = reference(left, right, reverse);
        for (const std::size_t call : {1, 15, 16, 17, 31, 32, 33, 48, 63, 64, 4096, 65536}) {
            std::vector<std::uint8_t> out(2 * left.size());
            for (std::size_t at = 0; at < left.size(); at += call) {
                const std::size_t n = std::min(call, left.size() - at);
                interleave_channels(std::span(left).subspan(at, n), std::span(right).subspan(at, n),
                                    std::span(out).subspan(2 * at, 2 * n), reverse);
            }
            ASSERT_EQ(out, expected) << "calls of " << call << ", reverse " << reverse;
        }
    }
}

// Any alignment of the three spans and any length; nothing outside the
// output span is written.
TEST(Interleave, UnalignedSpansAndOddLengths) {
    std::mt19937 random(6);
    std::vector<std::uint8_t> source(512);
    for (auto& b : source) {
        b = static_cast<std::uint8_t>(random());
    }
    constexpr std::uint8_t guard = 0xA5;
    for (const bool reverse : {true, false}) {
        for (std::size_t n = 0; n <= 131; ++n) {
            for (std::size_t shift = 0; shift < 33; ++shift) {
                const auto left = std::span(source).subspan(shift, n);
                const auto right = std::span(source).subspan(200 + (shift * 7) % 33, n);
                std::vector<std::uint8_t> buffer(2 * n + 80, guard);
                const std::size_t out_at = 32 + (shift * 5) % 33;
                interleave_channels(left, right, std::span(buffer).subspan(out_at, 2 * n), reverse);
                const auto expected = reference(left, right, reverse);
                for (std::size_t i = 0; i < buffer.size(); ++i) {
                    const bool inside = i >= out_at && i < out_at + 2 * n;
                    ASSERT_EQ(buffer[i], inside ? expected[i - out_at] : guard)
                        << "byte " << i << ", length " << n << ", shift " << shift << ", reverse "
                        << reverse;
                }
            }
        }
    }
}

// Whichever vector path this machine takes (GFNI, AVX2, SSE2, NEON) gives what the
// portable path gives, and that is the reference.
TEST(Interleave, VectorPathMatchesThePortablePath) {
    std::mt19937 random(13);
    std::vector<std::uint8_t> left(4096 * 3 + 13);
    std::vector<std::uint8_t> right(left.size());
    for (std::size_t i = 0; i < left.size(); ++i) {
        left[i] = static_cast<std::uint8_t>(random());
        right[i] = static_cast<std::uint8_t>(random());
    }
    for (const bool reverse : {true, false}) {
        std::vector<std::uint8_t> vector_out(2 * left.size());
        std::vector<std::uint8_t> portable_out(2 * left.size());
        interleave_channels(left, right, vector_out, reverse);
        interleave_channels_portable(left, right, portable_out, reverse);
        EXPECT_EQ(portable_out, reference(left, right, reverse)) << "reverse " << reverse;
        EXPECT_EQ(vector_out, portable_out) << "reverse " << reverse;
    }
}

// --- De-interleave --------------------------------------------------------

// Channel c of every frame, bit-reversed, into out[c].
std::vector<std::vector<std::uint8_t>> split_reference(std::span<const std::uint8_t> frames,
                                                       std::size_t channels) {
    std::vector<std::vector<std::uint8_t>> out(channels);
    for (std::size_t i = 0; i < frames.size() / channels * channels; ++i) {
        out[i % channels].push_back(reversed_by_bits(frames[i]));
    }
    return out;
}

TEST(Deinterleave, KnownBytes) {
    const std::vector<std::uint8_t> frames{0x80, 0x01, 0x96, 0xF0, 0x00, 0xFF};
    std::vector<std::uint8_t> a(3), b(3), c(2), d(2), e(2);
    const std::array<std::span<std::uint8_t>, 2> two{a, b};
    deinterleave_channels(frames, two);
    EXPECT_EQ(a, (std::vector<std::uint8_t>{0x01, 0x69, 0x00}));
    EXPECT_EQ(b, (std::vector<std::uint8_t>{0x80, 0x0F, 0xFF}));
    // Spans in another order take the channels in that order.
    const std::array<std::span<std::uint8_t>, 3> three{e, c, d};
    deinterleave_channels(frames, three);
    EXPECT_EQ(e, (std::vector<std::uint8_t>{0x01, 0x0F}));
    EXPECT_EQ(c, (std::vector<std::uint8_t>{0x80, 0x00}));
    EXPECT_EQ(d, (std::vector<std::uint8_t>{0x69, 0xFF}));
}

// Every byte value in every channel position, cut into calls of lengths
// that run each vector width, their mixes and the byte path, for each
// channel count.
TEST(Deinterleave, AllBytesThroughEveryPathForEveryChannelCount) {
    for (std::size_t channels = 1; channels <= max_deinterleaved_channels; ++channels) {
        std::vector<std::uint8_t> frames(256 * channels * 7);
        for (std::size_t i = 0; i < frames.size(); ++i) {
            frames[i] = static_cast<std::uint8_t>(i / channels + 31 * (i % channels));
        }
        const auto expected = split_reference(frames, channels);
        const std::size_t count = frames.size() / channels;
        for (const std::size_t call : {1, 15, 16, 17, 31, 32, 33, 63, 64, 65, 682, 683, 4096}) {
            std::vector<std::vector<std::uint8_t>> out(channels, std::vector<std::uint8_t>(count));
            for (std::size_t at = 0; at < count; at += call) {
                const std::size_t n = std::min(call, count - at);
                std::vector<std::span<std::uint8_t>> spans;
                spans.reserve(out.size());
                for (auto& channel : out) {
                    spans.push_back(std::span(channel).subspan(at, n));
                }
                deinterleave_channels(std::span(frames).subspan(at * channels, n * channels),
                                      spans);
            }
            ASSERT_EQ(out, expected) << channels << " channels, calls of " << call;
        }
    }
}

// Any alignment of input and outputs, any length; nothing outside the
// output spans is written.
TEST(Deinterleave, UnalignedSpansAndOddLengths) {
    std::mt19937 random(9);
    std::vector<std::uint8_t> source(1024);
    for (auto& b : source) {
        b = static_cast<std::uint8_t>(random());
    }
    constexpr std::uint8_t guard = 0x5A;
    for (std::size_t channels = 1; channels <= max_deinterleaved_channels; ++channels) {
        for (std::size_t n = 0; n <= 100; ++n) {
            for (std::size_t shift = 0; shift < 33; shift += 4) {
                const auto frames = std::span(source).subspan(shift, n * channels);
                std::vector<std::uint8_t> buffer(channels * (n + 80), guard);
                std::vector<std::span<std::uint8_t>> spans;
                for (std::size_t c = 0; c < channels; ++c) {
                    spans.push_back(
                        std::span(buffer).subspan(c * (n + 80) + 1 + (shift + c) % 33, n));
                }
                deinterleave_channels(frames, spans);
                const auto expected = split_reference(frames, channels);
                for (std::size_t c = 0; c < channels; ++c) {
                    ASSERT_TRUE(std::equal(spans[c].begin(), spans[c].end(), expected[c].begin()))
                        << channels << " channels, length " << n << ", shift " << shift;
                }
                const auto inside = [&](std::size_t i) {
                    for (const auto& sp : spans) {
                        if (&buffer[i] >= sp.data() && &buffer[i] < sp.data() + sp.size()) {
                            return true;
                        }
                    }
                    return false;
                };
                for (std::size_t i = 0; i < buffer.size(); ++i) {
                    if (!inside(i)) {
                        ASSERT_EQ(buffer[i], guard) << "byte " << i << " written";
                    }
                }
            }
        }
    }
}

// Whichever vector path this machine takes gives what the portable path
// gives, for every channel count, on a length that leaves a tail.
TEST(Deinterleave, VectorPathMatchesThePortablePath) {
    std::mt19937 random(12);
    for (std::size_t channels = 1; channels <= max_deinterleaved_channels; ++channels) {
        std::vector<std::uint8_t> frames(channels * (4096 * 2 + 29));
        for (auto& b : frames) {
            b = static_cast<std::uint8_t>(random());
        }
        const std::size_t count = frames.size() / channels;
        std::vector<std::vector<std::uint8_t>> vector_out(channels,
                                                          std::vector<std::uint8_t>(count));
        auto portable_out = vector_out;
        std::vector<std::span<std::uint8_t>> vector_spans(vector_out.begin(), vector_out.end());
        std::vector<std::span<std::uint8_t>> portable_spans(portable_out.begin(),
                                                            portable_out.end());
        deinterleave_channels(frames, vector_spans);
        deinterleave_channels_portable(frames, portable_spans);
        EXPECT_EQ(portable_out, split_reference(frames, channels)) << channels << " channels";
        EXPECT_EQ(vector_out, portable_out) << channels << " channels";
    }
}

}  // namespace
}  // namespace dsd
