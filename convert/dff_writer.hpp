// The DSDIFF file the converters write. All numbers big-endian, sizes u64:
//   0   "FRM8"  form size (file size less 12)  "DSD "
//   16  "FVER"  4  version 1.4.0.0
//   32  "PROP"  74  "SND "
//   48    "FS  "  4  sampling rate in Hz (u32, at offset 60)
//   64    "CHNL"  10  2 channels  "SLFT" "SRGT"
//   86    "CMPR"  20  "DSD "  14 "not compressed"  pad
//   118 "DSD "  sound bytes
//   130 sound: one byte of left, one of right, ...; earliest sample in the
//       most significant bit
//   then, when the input had a tag: "ID3 "  tag length  the tag  [pad]
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>

#include "dsf_header.hpp"
#include "id3_tag.hpp"

namespace dsd {

inline constexpr std::size_t dff_header_size = 130;
inline constexpr std::size_t dff_rate_offset = 60;
inline constexpr std::uint32_t dff256_rate = 11289600;

// The header with zero sizes and a zero rate.
extern const std::array<std::uint8_t, dff_header_size> DffHeaderTemplate;

// Sound bytes the output gets: per channel one byte per 8 samples, bounded
// by what the data chunk holds.
std::uint64_t dff_sound_bytes(const DsfStreamInfo& info);

// The complete header for a file with the given rate, sound and tag.
std::array<std::uint8_t, dff_header_size> make_dff_header(std::uint32_t rate,
                                                          std::uint64_t sound_bytes,
                                                          std::uint64_t tag_length);

// Interleaves left and right byte by byte into out (twice their length),
// reversing the bit order of each byte when the input is LSB first.
void interleave_channels(std::span<const std::uint8_t> left, std::span<const std::uint8_t> right,
                         std::span<std::uint8_t> out, bool reverse_bits);

enum class WriteStatus { ok, read_failed, write_failed };

struct WriteResult {
    WriteStatus status = WriteStatus::ok;
    std::int64_t position = 0;  // of the failing file
};

// Converts the DSF open on `in` (any position) into a DFF written to `out`
// from its current position, declared at `rate`.
WriteResult write_dff_stream(int in, int out, const DsfStreamInfo& info, std::uint32_t rate,
                             const std::optional<Id3TagLocation>& tag);

}  // namespace dsd
