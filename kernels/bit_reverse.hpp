// Reversing the bit order of bytes, which one-bit DSF (least significant
// bit first) and DSDIFF (most significant first) differ by: a table for the
// portable paths and the tails, and one vector form per instruction set.
// Private to the kernels.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#if defined(__SSE2__)
#include <immintrin.h>
#endif

namespace dsd::kernel {

constexpr std::uint8_t reverse_bits_of(std::uint8_t x) {
    x = static_cast<std::uint8_t>(x >> 4 | x << 4);
    x = static_cast<std::uint8_t>((x & 0xCC) >> 2 | (x & 0x33) << 2);
    return static_cast<std::uint8_t>((x & 0xAA) >> 1 | (x & 0x55) << 1);
}

// Every byte value with its bit order reversed.
inline constexpr std::array<std::uint8_t, 256> reversed_bytes = [] {
    std::array<std::uint8_t, 256> table{};
    for (std::size_t i = 0; i < table.size(); ++i) {
        table[i] = reverse_bits_of(static_cast<std::uint8_t>(i));
    }
    return table;
}();

#if defined(__SSE2__)

// SSE2 has no byte shifts; 16-bit shifts are exact once the bits that
// crossed a byte boundary are masked off.
inline __m128i reverse_bits_sse2(__m128i x) {
    const __m128i m4 = _mm_set1_epi8(0x0F);
    const __m128i m2 = _mm_set1_epi8(0x33);
    const __m128i m1 = _mm_set1_epi8(0x55);
    x = _mm_or_si128(_mm_and_si128(_mm_srli_epi16(x, 4), m4),
                     _mm_slli_epi16(_mm_and_si128(x, m4), 4));
    x = _mm_or_si128(_mm_and_si128(_mm_srli_epi16(x, 2), m2),
                     _mm_slli_epi16(_mm_and_si128(x, m2), 2));
    return _mm_or_si128(_mm_and_si128(_mm_srli_epi16(x, 1), m1),
                        _mm_slli_epi16(_mm_and_si128(x, m1), 1));
}

// Not every x86-64 has AVX2, so its paths are compiled for it alone and
// chosen at run time. Two nibble lookups reverse a byte in four instructions.
__attribute__((target("avx2"))) inline __m256i reverse_bits_avx2(__m256i x) {
    const __m256i reversed_nibbles = _mm256_setr_epi8(
        0x0, 0x8, 0x4, 0xC, 0x2, 0xA, 0x6, 0xE, 0x1, 0x9, 0x5, 0xD, 0x3, 0xB, 0x7, 0xF,  //
        0x0, 0x8, 0x4, 0xC, 0x2, 0xA, 0x6, 0xE, 0x1, 0x9, 0x5, 0xD, 0x3, 0xB, 0x7, 0xF);
    const __m256i reversed_to_high = _mm256_slli_epi16(reversed_nibbles, 4);
    const __m256i low_nibble = _mm256_set1_epi8(0x0F);
    const __m256i low = _mm256_and_si256(x, low_nibble);
    const __m256i high = _mm256_and_si256(_mm256_srli_epi16(x, 4), low_nibble);
    return _mm256_or_si256(_mm256_shuffle_epi8(reversed_to_high, low),
                           _mm256_shuffle_epi8(reversed_nibbles, high));
}

inline bool cpu_has_avx2() {
    static const bool has = __builtin_cpu_supports("avx2");
    return has;
}

// GFNI's affine transform multiplies every byte by an 8x8 bit matrix; the
// one with ones on the anti-diagonal reverses its bits in one instruction.
__attribute__((target("avx2,gfni"))) inline __m256i reverse_bits_gfni(__m256i x) {
    return _mm256_gf2p8affine_epi64_epi8(
        x, _mm256_set1_epi64x(static_cast<long long>(0x8040201008040201ULL)), 0);
}

inline bool cpu_has_gfni() {
    static const bool has = cpu_has_avx2() && __builtin_cpu_supports("gfni");
    return has;
}

#endif

}  // namespace dsd::kernel
