#include <gtest/gtest.h>

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

// Whichever vector path this machine takes (AVX2, SSE2, NEON) gives what the
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

}  // namespace
}  // namespace dsd
