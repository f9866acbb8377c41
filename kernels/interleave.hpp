// The byte-shuffling kernels of the converters: the widest vector path the
// machine has (AVX2 chosen at run time, SSE2 on every x86-64, NEON on every
// aarch64), with a portable path for the rest.
#pragma once

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

}  // namespace dsd
