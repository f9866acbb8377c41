// The byte-shuffling kernels of the converters: the widest vector path the
// machine has (AVX2, and AVX2 with GFNI for the bit reversal, chosen at run
// time, SSE2 on every x86-64, NEON on every aarch64), with a portable path
// for the rest.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace dsd {

// Interleaves left and right byte by byte into out (twice their length),
// reversing the bit order of each byte when the input is LSB first.
void interleave_channels(std::span<const std::uint8_t> left, std::span<const std::uint8_t> right,
                         std::span<std::uint8_t> out, bool reverse_bits);

// The same through the portable path alone, which every vector path must match.
void interleave_channels_portable(std::span<const std::uint8_t> left,
                                  std::span<const std::uint8_t> right, std::span<std::uint8_t> out,
                                  bool reverse_bits);

inline constexpr std::size_t max_deinterleaved_channels = 6;

// Splits frames of one byte per channel in turn (channels.size() of them, 1
// to max_deinterleaved_channels) into one span per channel, each as long as
// the frames are many, and reverses the bit order of every byte: the most-
// significant-bit-first frames of DSDIFF into the blocks of one-bit DSF.
// The spans may be given in any order: channels[c] gets the frames' byte c.
void deinterleave_channels(std::span<const std::uint8_t> frames,
                           std::span<const std::span<std::uint8_t>> channels);

// The same through the portable path alone, which every vector path must match.
void deinterleave_channels_portable(std::span<const std::uint8_t> frames,
                                    std::span<const std::span<std::uint8_t>> channels);

}  // namespace dsd
