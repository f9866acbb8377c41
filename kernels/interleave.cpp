#include "interleave.hpp"

#include <array>

#if defined(__SSE2__)
#include <immintrin.h>
#endif
#if defined(__aarch64__) && defined(__ARM_NEON)
#include <arm_neon.h>
#endif

namespace dsd {
namespace {

constexpr std::uint8_t reverse_bits_of(std::uint8_t x) {
    x = static_cast<std::uint8_t>(x >> 4 | x << 4);
    x = static_cast<std::uint8_t>((x & 0xCC) >> 2 | (x & 0x33) << 2);
    return static_cast<std::uint8_t>((x & 0xAA) >> 1 | (x & 0x55) << 1);
}

// Every byte value with its bit order reversed: the portable path, and the
// tails shorter than a vector.
constexpr std::array<std::uint8_t, 256> reversed_bytes = [] {
    std::array<std::uint8_t, 256> table{};
    for (std::size_t i = 0; i < table.size(); ++i) {
        table[i] = reverse_bits_of(static_cast<std::uint8_t>(i));
    }
    return table;
}();

template <bool Reverse>
void interleave_portable(const std::uint8_t* l, const std::uint8_t* r, std::uint8_t* o,
                         std::size_t n) {
    for (std::size_t j = 0; j < n; ++j) {
        o[2 * j] = Reverse ? reversed_bytes[l[j]] : l[j];
        o[2 * j + 1] = Reverse ? reversed_bytes[r[j]] : r[j];
    }
}

#if defined(__SSE2__)

// SSE2 has no byte shifts; 16-bit shifts are exact once the bits that
// crossed a byte boundary are masked off.
__m128i reverse_bits_sse2(__m128i x) {
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

// Handles the whole 16-byte groups; returns how many bytes per channel.
template <bool Reverse>
std::size_t interleave_sse2(const std::uint8_t* l, const std::uint8_t* r, std::uint8_t* o,
                            std::size_t n) {
    std::size_t j = 0;
    for (; j + 16 <= n; j += 16) {
        __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(l + j));
        __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(r + j));
        if constexpr (Reverse) {
            a = reverse_bits_sse2(a);
            b = reverse_bits_sse2(b);
        }
        _mm_storeu_si128(reinterpret_cast<__m128i*>(o + 2 * j), _mm_unpacklo_epi8(a, b));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(o + 2 * j + 16), _mm_unpackhi_epi8(a, b));
    }
    return j;
}

// Not every x86-64 has AVX2, so this path is compiled for it alone and chosen
// at run time. Two nibble lookups reverse a byte in four instructions.
__attribute__((target("avx2"))) __m256i reverse_bits_avx2(__m256i x) {
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

template <bool Reverse>
__attribute__((target("avx2"))) std::size_t interleave_avx2(const std::uint8_t* l,
                                                            const std::uint8_t* r, std::uint8_t* o,
                                                            std::size_t n) {
    std::size_t j = 0;
    for (; j + 32 <= n; j += 32) {
        __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(l + j));
        __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(r + j));
        if constexpr (Reverse) {
            a = reverse_bits_avx2(a);
            b = reverse_bits_avx2(b);
        }
        // The unpacks work within 128-bit lanes; the permutes put the four
        // 16-byte results back in order.
        const __m256i lo = _mm256_unpacklo_epi8(a, b);
        const __m256i hi = _mm256_unpackhi_epi8(a, b);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(o + 2 * j),
                            _mm256_permute2x128_si256(lo, hi, 0x20));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(o + 2 * j + 32),
                            _mm256_permute2x128_si256(lo, hi, 0x31));
    }
    return j;
}

bool cpu_has_avx2() {
    static const bool has = __builtin_cpu_supports("avx2");
    return has;
}

#endif

#if defined(__aarch64__) && defined(__ARM_NEON)

// Every aarch64 has NEON, so like SSE2 on x86-64 it needs no run-time check.
// RBIT reverses the bits of each byte, and ST2 stores two registers
// interleaved byte by byte: 32 output bytes per step.
template <bool Reverse>
std::size_t interleave_neon(const std::uint8_t* l, const std::uint8_t* r, std::uint8_t* o,
                            std::size_t n) {
    std::size_t j = 0;
    for (; j + 16 <= n; j += 16) {
        uint8x16x2_t pair{vld1q_u8(l + j), vld1q_u8(r + j)};
        if constexpr (Reverse) {
            pair.val[0] = vrbitq_u8(pair.val[0]);
            pair.val[1] = vrbitq_u8(pair.val[1]);
        }
        vst2q_u8(o + 2 * j, pair);
    }
    return j;
}

#endif

// Widest path first; each narrower one takes what is left, so short and odd
// lengths run through every path that the machine has.
template <bool Reverse>
void interleave(const std::uint8_t* l, const std::uint8_t* r, std::uint8_t* o, std::size_t n) {
    std::size_t done = 0;
#if defined(__SSE2__)
    if (cpu_has_avx2()) {
        done = interleave_avx2<Reverse>(l, r, o, n);
    }
    done += interleave_sse2<Reverse>(l + done, r + done, o + 2 * done, n - done);
#endif
#if defined(__aarch64__) && defined(__ARM_NEON)
    done = interleave_neon<Reverse>(l, r, o, n);
#endif
    interleave_portable<Reverse>(l + done, r + done, o + 2 * done, n - done);
}

}  // namespace

void interleave_channels(std::span<const std::uint8_t> left, std::span<const std::uint8_t> right,
                         std::span<std::uint8_t> out, bool reverse_bits) {
    if (reverse_bits) {
        interleave<true>(left.data(), right.data(), out.data(), left.size());
    } else {
        interleave<false>(left.data(), right.data(), out.data(), left.size());
    }
}

void interleave_channels_portable(std::span<const std::uint8_t> left,
                                  std::span<const std::uint8_t> right, std::span<std::uint8_t> out,
                                  bool reverse_bits) {
    if (reverse_bits) {
        interleave_portable<true>(left.data(), right.data(), out.data(), left.size());
    } else {
        interleave_portable<false>(left.data(), right.data(), out.data(), left.size());
    }
}

}  // namespace dsd
