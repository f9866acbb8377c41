#include <algorithm>
#include <array>

#include "bit_reverse.hpp"
#include "interleave.hpp"

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

// Each path handles what it can of n bytes (mono) or n frames (stereo) and
// returns how many; the dispatchers below give the rest to the next path.

std::size_t reverse_portable(const std::uint8_t* in, std::uint8_t* out, std::size_t n) {
    for (std::size_t j = 0; j < n; ++j) {
        out[j] = reversed_bytes[in[j]];
    }
    return n;
}

std::size_t split_stereo_portable(const std::uint8_t* in, std::uint8_t* l, std::uint8_t* r,
                                  std::size_t n) {
    for (std::size_t j = 0; j < n; ++j) {
        l[j] = reversed_bytes[in[2 * j]];
        r[j] = reversed_bytes[in[2 * j + 1]];
    }
    return n;
}

#if defined(__SSE2__)

std::size_t reverse_sse2(const std::uint8_t* in, std::uint8_t* out, std::size_t n) {
    std::size_t j = 0;
    for (; j + 16 <= n; j += 16) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + j));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + j), reverse_bits_sse2(a));
    }
    return j;
}

// The even bytes of two vectors are the left channel, the odd ones the
// right: masked or shifted down to 16-bit lanes, then packed.
std::size_t split_stereo_sse2(const std::uint8_t* in, std::uint8_t* l, std::uint8_t* r,
                              std::size_t n) {
    const __m128i low_byte = _mm_set1_epi16(0x00FF);
    std::size_t j = 0;
    for (; j + 16 <= n; j += 16) {
        const __m128i a =
            reverse_bits_sse2(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 2 * j)));
        const __m128i b =
            reverse_bits_sse2(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 2 * j + 16)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(l + j),
                         _mm_packus_epi16(_mm_and_si128(a, low_byte), _mm_and_si128(b, low_byte)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(r + j),
                         _mm_packus_epi16(_mm_srli_epi16(a, 8), _mm_srli_epi16(b, 8)));
    }
    return j;
}

__attribute__((target("avx2"))) std::size_t reverse_avx2(const std::uint8_t* in, std::uint8_t* out,
                                                         std::size_t n) {
    std::size_t j = 0;
    for (; j + 32 <= n; j += 32) {
        const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + j));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + j), reverse_bits_avx2(a));
    }
    return j;
}

// As the SSE2 path; the packs work within 128-bit lanes, so a permute of
// 64-bit quarters puts each channel's 32 bytes back in order.
__attribute__((target("avx2"))) std::size_t split_stereo_avx2(const std::uint8_t* in,
                                                              std::uint8_t* l, std::uint8_t* r,
                                                              std::size_t n) {
    const __m256i low_byte = _mm256_set1_epi16(0x00FF);
    std::size_t j = 0;
    for (; j + 32 <= n; j += 32) {
        const __m256i a =
            reverse_bits_avx2(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + 2 * j)));
        const __m256i b = reverse_bits_avx2(
            _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + 2 * j + 32)));
        const __m256i left =
            _mm256_packus_epi16(_mm256_and_si256(a, low_byte), _mm256_and_si256(b, low_byte));
        const __m256i right = _mm256_packus_epi16(_mm256_srli_epi16(a, 8), _mm256_srli_epi16(b, 8));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(l + j),
                            _mm256_permute4x64_epi64(left, 0xD8));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(r + j),
                            _mm256_permute4x64_epi64(right, 0xD8));
    }
    return j;
}

// The same two paths with GFNI's one-instruction bit reversal, where most
// of their time goes; 64 bytes or frames a step, so that the AVX2 paths
// still take a tail and run on these machines too.
__attribute__((target("avx2,gfni"))) std::size_t reverse_gfni(const std::uint8_t* in,
                                                              std::uint8_t* out, std::size_t n) {
    std::size_t j = 0;
    for (; j + 64 <= n; j += 64) {
        for (std::size_t k = j; k < j + 64; k += 32) {
            const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + k));
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + k), reverse_bits_gfni(a));
        }
    }
    return j;
}

__attribute__((target("avx2,gfni"))) std::size_t split_stereo_gfni(const std::uint8_t* in,
                                                                   std::uint8_t* l, std::uint8_t* r,
                                                                   std::size_t n) {
    const __m256i low_byte = _mm256_set1_epi16(0x00FF);
    std::size_t j = 0;
    for (; j + 64 <= n; j += 64) {
        for (std::size_t k = j; k < j + 64; k += 32) {
            const __m256i a =
                reverse_bits_gfni(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + 2 * k)));
            const __m256i b = reverse_bits_gfni(
                _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + 2 * k + 32)));
            const __m256i left =
                _mm256_packus_epi16(_mm256_and_si256(a, low_byte), _mm256_and_si256(b, low_byte));
            const __m256i right =
                _mm256_packus_epi16(_mm256_srli_epi16(a, 8), _mm256_srli_epi16(b, 8));
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(l + k),
                                _mm256_permute4x64_epi64(left, 0xD8));
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(r + k),
                                _mm256_permute4x64_epi64(right, 0xD8));
        }
    }
    return j;
}

#endif

#if defined(__aarch64__) && defined(__ARM_NEON)

// Every aarch64 has NEON, so like SSE2 on x86-64 it needs no run-time check.
// RBIT reverses the bits of each byte; LD2 to LD4 load frames of two to four
// bytes split into one register per channel.
std::size_t reverse_neon(const std::uint8_t* in, std::uint8_t* out, std::size_t n) {
    std::size_t j = 0;
    for (; j + 16 <= n; j += 16) {
        vst1q_u8(out + j, vrbitq_u8(vld1q_u8(in + j)));
    }
    return j;
}

std::size_t split_stereo_neon(const std::uint8_t* in, std::uint8_t* l, std::uint8_t* r,
                              std::size_t n) {
    std::size_t j = 0;
    for (; j + 16 <= n; j += 16) {
        const uint8x16x2_t pair = vld2q_u8(in + 2 * j);
        vst1q_u8(l + j, vrbitq_u8(pair.val[0]));
        vst1q_u8(r + j, vrbitq_u8(pair.val[1]));
    }
    return j;
}

// Three or four channels, 16 frames per step.
template <std::size_t N>
std::size_t split_neon(const std::uint8_t* in, std::uint8_t* const* out, std::size_t n) {
    static_assert(N == 3 || N == 4);
    std::size_t j = 0;
    for (; j + 16 <= n; j += 16) {
        if constexpr (N == 3) {
            const uint8x16x3_t frame = vld3q_u8(in + 3 * j);
            for (std::size_t c = 0; c < N; ++c) {
                vst1q_u8(out[c] + j, vrbitq_u8(frame.val[c]));
            }
        } else {
            const uint8x16x4_t frame = vld4q_u8(in + 4 * j);
            for (std::size_t c = 0; c < N; ++c) {
                vst1q_u8(out[c] + j, vrbitq_u8(frame.val[c]));
            }
        }
    }
    return j;
}

#endif

// Widest path first; each narrower one takes what is left, so short and odd
// lengths run through every path that the machine has.
void reverse(const std::uint8_t* in, std::uint8_t* out, std::size_t n) {
    std::size_t done = 0;
#if defined(__SSE2__)
    if (cpu_has_gfni()) {
        done = reverse_gfni(in, out, n);
    }
    if (cpu_has_avx2()) {
        done += reverse_avx2(in + done, out + done, n - done);
    }
    done += reverse_sse2(in + done, out + done, n - done);
#endif
#if defined(__aarch64__) && defined(__ARM_NEON)
    done = reverse_neon(in, out, n);
#endif
    reverse_portable(in + done, out + done, n - done);
}

void split_stereo(const std::uint8_t* in, std::uint8_t* l, std::uint8_t* r, std::size_t n) {
    std::size_t done = 0;
#if defined(__SSE2__)
    if (cpu_has_gfni()) {
        done = split_stereo_gfni(in, l, r, n);
    }
    if (cpu_has_avx2()) {
        done += split_stereo_avx2(in + 2 * done, l + done, r + done, n - done);
    }
    done += split_stereo_sse2(in + 2 * done, l + done, r + done, n - done);
#endif
#if defined(__aarch64__) && defined(__ARM_NEON)
    done = split_stereo_neon(in, l, r, n);
#endif
    split_stereo_portable(in + 2 * done, l + done, r + done, n - done);
}

// Three to six channels: NEON splits three or four directly; otherwise the
// bytes are reversed by the vector paths into a small buffer, then
// scattered; a fixed count lets the compiler unroll the frame.
template <std::size_t N>
void split_many(const std::uint8_t* in, const std::span<std::uint8_t>* channels, std::size_t n) {
    constexpr std::size_t piece = 4096 / N;
    std::array<std::uint8_t, piece * N> reversed;
    std::array<std::uint8_t*, N> out{};
    for (std::size_t c = 0; c < N; ++c) {
        out[c] = channels[c].data();
    }
    std::size_t done = 0;
#if defined(__aarch64__) && defined(__ARM_NEON)
    if constexpr (N <= 4) {
        done = split_neon<N>(in, out.data(), n);
    }
#endif
    for (std::size_t at = done; at < n; at += piece) {
        const std::size_t frames = std::min(piece, n - at);
        reverse(in + N * at, reversed.data(), N * frames);
        for (std::size_t j = 0; j < frames; ++j) {
            for (std::size_t c = 0; c < N; ++c) {
                out[c][at + j] = reversed[N * j + c];
            }
        }
    }
}

// Any channel count, a byte at a time.
void split_portable(const std::uint8_t* in, std::span<const std::span<std::uint8_t>> channels,
                    std::size_t n) {
    const std::size_t count = channels.size();
    for (std::size_t j = 0; j < n; ++j) {
        for (std::size_t c = 0; c < count; ++c) {
            channels[c][j] = reversed_bytes[in[count * j + c]];
        }
    }
}

std::size_t frame_count(std::span<const std::uint8_t> frames,
                        std::span<const std::span<std::uint8_t>> channels) {
    return channels.empty() ? 0 : frames.size() / channels.size();
}

}  // namespace

void deinterleave_channels(std::span<const std::uint8_t> frames,
                           std::span<const std::span<std::uint8_t>> channels) {
    const std::size_t n = frame_count(frames, channels);
    switch (channels.size()) {
        case 1:
            reverse(frames.data(), channels[0].data(), n);
            break;
        case 2:
            split_stereo(frames.data(), channels[0].data(), channels[1].data(), n);
            break;
        case 3:
            split_many<3>(frames.data(), channels.data(), n);
            break;
        case 4:
            split_many<4>(frames.data(), channels.data(), n);
            break;
        case 5:
            split_many<5>(frames.data(), channels.data(), n);
            break;
        case 6:
            split_many<6>(frames.data(), channels.data(), n);
            break;
        default:
            break;
    }
}

void deinterleave_channels_portable(std::span<const std::uint8_t> frames,
                                    std::span<const std::span<std::uint8_t>> channels) {
    if (channels.size() <= max_deinterleaved_channels) {
        split_portable(frames.data(), channels, frame_count(frames, channels));
    }
}

}  // namespace dsd
