// DST-compressed DSDIFF files for tests and benchmarks, and the plain file
// holding the same sound that a DST decoder must make of each:
//
//   "FRM8" size "DSD "
//     "FVER" 4  1.5.0.0
//     "PROP" size "SND "  "FS  " rate  "CHNL" ids  "CMPR" "DST " 11 "DST Encoded"
//                         then `prop_chunks`
//     `chunks_before`
//     "DST " size
//       "FRTE" 6  frame count (u32)  75 (u16)
//       `dst_chunks`
//       per frame: "DSTF" size frame [pad]  ["DSTC" 4 check value]
//     ["DSTI" size  per frame: DSTF chunk offset (u64) and data size (u32)]
//     `chunks_after`
//
// The plain twin holds the same chunks, in the same order and byte for
// byte, except: "CMPR" is "DSD " 14 "not compressed" (20 bytes of data), the
// "DST " chunk is a "DSD " chunk of the decoded sound, and "DSTI" is gone.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <ostream>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "dff_builder.hpp"
#include "dst_encoder.hpp"

namespace dsd::testgen {

// The ids dff-dsf-convert accepts for 1 to 6 channels: "C   "; "SLFT"
// "SRGT"; then "MLFT" "MRGT" with "C   ", "LS  " "RS  ", "C   " "LS  " "RS  "
// or "C   " "LFE " "LS  " "RS  ".
std::vector<std::string_view> dff_channel_ids(unsigned channels);

struct DstFileSpec {
    unsigned channels = 2;
    std::uint32_t rate = 2822400;
    std::vector<std::string_view> channel_ids;  // empty: dff_channel_ids(channels)
    std::vector<Bytes> prop_chunks;             // whole chunks, in "PROP" after "CMPR"
    std::vector<Bytes> chunks_before;           // whole chunks between "PROP" and the sound
    std::vector<Bytes> chunks_after;            // whole chunks after the sound (and "DSTI")
    std::vector<Bytes> dst_chunks;              // unknown chunks in "DST " after "FRTE"
    bool dstc = false;                          // a "DSTC" after every "DSTF"
    bool dsti = false;
    std::optional<std::uint32_t> frte_count;  // instead of the true frame count
    // Every frame's options; each frame's seed is this seed mixed with its
    // index. `frame_options` may then change them per frame (to damage one).
    DstEncoderOptions options;
    std::function<void(std::uint64_t frame, DstEncoderOptions&)> frame_options;
};

// What was written.
struct DstFileStats {
    std::uint64_t frames = 0;
    std::uint64_t stored_frames = 0;
    std::uint64_t frame_bytes = 0;  // the "DSTF" data
    std::uint64_t sound_bytes = 0;
};

// Gives the sound of frame `index`, geometry.sound_bytes() bytes.
using DstSoundSource = std::function<void(std::uint64_t index, std::span<std::uint8_t> sound)>;

// Writes the DST file of `frames` frames (and its plain twin when `plain`
// is given) frame by frame; `dst` must be seekable (its sizes are written
// last). False on a write error.
bool write_dst_dff(const DstFileSpec& spec, std::uint64_t frames, const DstSoundSource& source,
                   std::ostream& dst, std::ostream* plain = nullptr, DstFileStats* stats = nullptr);

// The whole files in memory; `sound` is whole frames.
Bytes dst_dff_file(const DstFileSpec& spec, std::span<const std::uint8_t> sound,
                   DstFileStats* stats = nullptr);
Bytes plain_dff_file(const DstFileSpec& spec, std::span<const std::uint8_t> sound);

// The frame count of `sound_bytes` of sound.
std::uint64_t dst_frame_count(const DstFileSpec& spec, std::uint64_t sound_bytes);

}  // namespace dsd::testgen
