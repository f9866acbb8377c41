// DSDIFF (.dff), as the suite reads and writes it. Every number is
// big-endian. A chunk is a 4-character id, a 64-bit size and that many bytes
// of data; data of odd size is followed by one pad byte that the size does
// not count (it may be missing at the very end of a file).
//
//   "FRM8" size "DSD "              the form: everything else is inside it
//     "FVER" 4  version (u32)
//     "PROP" size "SND "            sound properties, local chunks inside:
//       "FS  " 4  sampling rate in Hz (u32)
//       "CHNL" size  count (u16), then count 4-character channel ids
//       "CMPR" size  type ("DSD " uncompressed, "DST " compressed), name
//                    length (u8), name, pad to even
//       others ("ABSS", "LSCO", ...) skipped
//     "DSD " size  sound: a byte per channel in turn, earliest sample in the
//                  most significant bit
//     "DST " size  compressed sound, instead of "DSD "
//     "ID3 " size  an ID3v2 tag
//     others ("DIIN", "COMT", "MANF", ...) skipped
//
// The 130-byte header the converters write (offsets of the fields they set):
//   0   "FRM8"  form size (file size less 12)  "DSD "
//   16  "FVER"  4  version 1.4.0.0
//   32  "PROP"  74  "SND "
//   48    "FS  "  4  sampling rate in Hz (u32, at offset 60)
//   64    "CHNL"  10  2 channels  "SLFT" "SRGT"
//   86    "CMPR"  20  "DSD "  14 "not compressed"  pad
//   118 "DSD "  sound bytes
//   130 sound, then, when there is a tag: "ID3 "  tag length  the tag  [pad]
#pragma once

#include <array>
#include <cstdint>

#include "byte_source.hpp"

namespace dsd {

inline constexpr std::size_t dff_header_size = 130;
inline constexpr std::size_t dff_rate_offset = 60;
inline constexpr std::uint32_t dff256_rate = 11289600;

// The header with zero sizes and a zero rate.
extern const std::array<std::uint8_t, dff_header_size> DffHeaderTemplate;

// The complete stereo header for a file with the given rate, sound and tag.
std::array<std::uint8_t, dff_header_size> make_dff_header(std::uint32_t rate,
                                                          std::uint64_t sound_bytes,
                                                          std::uint64_t tag_length);

enum class DffFinding { found, not_dff, dst_compressed, unreadable };

struct DffRateField {
    DffFinding finding = DffFinding::not_dff;
    std::uint64_t offset = 0;  // of the 4-byte value in the "FS  " chunk
    std::uint32_t rate = 0;    // its current value
};

// Finds the "FS  " value of the form's "PROP"/"SND " chunk. Reads chunk
// headers only; the sound data is skipped by its size. A "CMPR" of any type
// but "DSD ", or a "DST " chunk in the form, makes it dst_compressed.
DffRateField locate_dff_rate_field(const ByteSource& source);

}  // namespace dsd
