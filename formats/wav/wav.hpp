// RIFF/WAVE (.wav), as the suite reads it. Every number is little-endian. A
// chunk is a 4-character id, a 32-bit size and that many bytes of data, plus
// a pad byte the size does not count when the size is odd.
//
//   0   "RIFF" size "WAVE"        ("RF64" or "BW64" for files over 4 GiB)
//   12  chunks, in any order until the end of the file:
//       "ds64"  RF64/BW64 only, first: riff size (u64), data size (u64),
//               sample count (u64), table length (u32), then entries of an
//               id and a u64 size; a chunk whose u32 size is 0xFFFFFFFF
//               takes its size from here ("data" from the data size)
//       "fmt "  t+0  format tag (u16): 1 PCM, 3 IEEE float, 6 A-law,
//                    7 mu-law, 0xFFFE extensible
//               t+2  channels (u16)
//               t+4  samples per second (u32)
//               t+8  average bytes per second (u32): rate x block align
//               t+12 block align (u16)
//               t+14 bits per sample (u16)
//               t+16 extension size (u16), and for extensible: valid bits
//                    (u16), channel mask (u32), subformat GUID (16 bytes,
//                    its first u32 the format tag)
//       "data", "JUNK", "bext", "LIST", ... : anything else is skipped
#pragma once

#include <cstdint>

#include "byte_source.hpp"

namespace dsd {

enum class WavFinding { found, not_wav, not_pcm, unreadable };

struct WavFormatFields {
    WavFinding finding = WavFinding::not_wav;
    std::uint64_t rate_offset = 0;  // samples per second; the byte rate follows it
    std::uint16_t format_tag = 0;
    std::uint32_t sample_rate = 0;
    std::uint32_t byte_rate = 0;
    std::uint16_t block_align = 0;
};

// Reads chunk headers, "ds64" and "fmt " only. A format with no channels or
// a zero block align is no WAV file; PCM, float, A-law and mu-law (plain or
// extensible) are found, any other format is not_pcm. The walk is bounded by the
// source's real size, never by the RIFF size field.
WavFormatFields locate_wav_format(const ByteSource& source);

}  // namespace dsd
