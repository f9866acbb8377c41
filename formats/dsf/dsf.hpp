// DSF (.dsf), as the suite reads it. Every number is little-endian; chunk
// sizes are u64 and count the chunk's own 12-byte id and size.
//   0   "DSD "  28 (chunk size)
//   12  total file size (u64)
//   20  metadata pointer (u64)          where an ID3v2 tag starts, 0 for none
//   28  "fmt "  52 (chunk size)
//   40  format version (u32)            1
//   44  format id (u32)                 0: raw DSD
//   48  channel type (u32)              1 mono, 2 stereo, 3 three channels,
//                                       4 quad, 5 four channels, 6 five
//                                       channels, 7 5.1
//   52  number of channels (u32)        must be 2 for the converters
//   56  sampling frequency in Hz (u32)
//   60  bits per sample (u32)           1: LSB first, 8: MSB first
//   64  sample count per channel (u64)  one-bit samples, whatever the bits field
//   72  block size per channel (u32)    must be 4096
//   76  reserved (u32)                  0
//   80  "data"
//   84  data chunk size (u64)           its 12-byte header included
//   92  sound data: a 4096-byte block of each channel in turn (left then
//       right for stereo); the last block of every channel is zero-filled
//   then, at the metadata pointer: the ID3v2 tag
#pragma once

#include <cstdint>
#include <string>

namespace dsd {

inline constexpr std::uint64_t dsf_sound_offset = 92;
inline constexpr std::uint32_t dsf_block_size = 4096;

struct DsfStreamInfo {
    std::uint32_t sampling_frequency = 0;
    std::uint32_t bits_per_sample = 0;
    std::uint64_t sample_count = 0;
    std::uint64_t data_size = 0;  // sound bytes: the data chunk size less its header
    std::uint64_t metadata_pointer = 0;
};

enum class DsfHeaderError {
    none,
    read_failed,       // detail: the position where reading stopped
    not_dsf,           // identifier: the four bytes read
    wrong_channels,    // detail: the channel count
    wrong_rate,        // a sampling frequency of 0
    wrong_bits,        // detail: bits per sample other than 1 or 8
    wrong_block_size,  // detail: the block size
    wrong_data_size,   // detail: the data chunk size field
};

struct DsfHeaderResult {
    DsfHeaderError error = DsfHeaderError::none;
    std::uint64_t detail = 0;
    std::string identifier;
    DsfStreamInfo info;
    // How many of the four reported values (rate, bits, sample count, data
    // size) were read before an error, so that they are shown in order.
    int values_read = 0;
};

// Reads and checks the header of the file open on fd.
DsfHeaderResult read_dsf_header(int fd);

// Bytes of `channel` (0 left, 1 right) that a stereo file's blocks hold
// inside a data chunk of `data_size` sound bytes.
std::uint64_t dsf_channel_bytes(std::uint64_t data_size, unsigned channel);

// Bytes per channel the sound has: one per 8 samples, but no more than either
// channel's blocks inside the data chunk hold, so both get the same number.
std::uint64_t dsf_stereo_bytes_per_channel(const DsfStreamInfo& info);

}  // namespace dsd
