#include "interleave.hpp"

#include "bit_reverse.hpp"

#if defined(__aarch64__) && defined(__ARM_NEON)
#include <arm_neon.h>
#endif

namespace dsd {
namespace {

using kernel::reversed_bytes;
#if defined(__SSE2__)
using kernel::cpu_has_avx2;
using kernel::cpu_has_gfni;
using kernel::reverse_bits_avx2;
using kernel::reverse_bits_gfni;
using kernel::reverse_bits_sse2;
#endif

template <bool Reverse>
void interleave_portable(const std::uint8_t* l, const std::uint8_t* r, std::uint8_t* o,
                         std::size_t n) {
    for (std::size_t j = 0; j < n; ++j) {
        o[2 * j] = Reverse ? reversed_bytes[l[j]] : l[j];
        o[2 * j + 1] = Reverse ? reversed_bytes[r[j]] : r[j];
    }
}

#if defined(__SSE2__)

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

// The same with GFNI's one-instruction bit reversal, where most of the AVX2
// path's time goes; 64 bytes a step, so that the AVX2 path still takes a
// tail and runs on these machines too.
__attribute__((target("avx2,gfni"))) std::size_t interleave_reversed_gfni(const std::uint8_t* l,
                                                                          const std::uint8_t* r,
                                                                          std::uint8_t* o,
                                                                          std::size_t n) {
    std::size_t j = 0;
    for (; j + 64 <= n; j += 64) {
        for (std::size_t k = j; k < j + 64; k += 32) {
            const __m256i a =
                reverse_bits_gfni(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(l + k)));
            const __m256i b =
                reverse_bits_gfni(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(r + k)));
            const __m256i lo = _mm256_unpacklo_epi8(a, b);
            const __m256i hi = _mm256_unpackhi_epi8(a, b);
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(o + 2 * k),
                                _mm256_permute2x128_si256(lo, hi, 0x20));
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(o + 2 * k + 32),
                                _mm256_permute2x128_si256(lo, hi, 0x31));
        }
    }
    return j;
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
    if (Reverse && cpu_has_gfni()) {
        done = interleave_reversed_gfni(l, r, o, n);
    }
    if (cpu_has_avx2()) {
        done += interleave_avx2<Reverse>(l + done, r + done, o + 2 * done, n - done);
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
