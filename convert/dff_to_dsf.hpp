// The conversion of a DSDIFF file's sound (channel-interleaved bytes, most
// significant bit first; stored as it is or DST-compressed) into the
// per-channel blocks of a one-bit DSF file, with the file's ID3v2 tag copied
// after the data, or one made of the titles of its "DIIN" chunk.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "byte_source.hpp"
#include "dsdiff.hpp"
#include "dsf.hpp"
#include "dst_sound.hpp"
#include "write_result.hpp"

namespace dsd {

enum class DsfPlanError {
    none,
    walk,              // the chunk walk stopped: see walk.error
    compressed,        // compression_type(walk): neither plain nor DST
    no_rate,           // no "FS  " chunk
    no_channels,       // no "CHNL" chunk
    no_sound,          // no sound chunk
    zero_rate,         // "FS  " holds 0
    wrong_channels,    // walk.channel_count outside 1 to 6
    wrong_layout,      // walk.channel_ids are no layout DSF has
    wrong_sound_size,  // walk.sound->size is not a multiple of the channel count
    dst                // the DST sound failed its checks: see dst.error
};

// Everything the conversion needs, decided from the whole input before any
// output exists.
struct DsfPlan {
    DsfPlanError error = DsfPlanError::none;
    DffWalk walk;
    DsfLayout layout;
    // For each DSF channel in turn, its position in the DSDIFF frames.
    std::array<std::size_t, dsf_max_channels> source_channel{};
    DffChunkSpan sound;
    // DST-compressed sound: its checks, and the frames to decode instead of
    // copying `sound`.
    std::optional<DstCheck> dst;
    std::optional<DffChunkSpan> tag;  // an "ID3 " chunk holding an ID3v2 tag
    bool tag_skipped = false;         // an "ID3 " chunk holding something else
    // Without such a tag: one made of the "DIIN" chunk's artist and title.
    std::vector<std::uint8_t> titles_tag;
};

DsfPlan plan_dsf(const ByteSource& source);

// Writes the DSF of a plan without error, from the DSDIFF file open on `in`,
// to `out` from its current position. A read that comes back short fails
// where it stopped. DST sound is decoded on `threads` threads (0: all).
WriteResult write_dsf_stream(int in, int out, const DsfPlan& plan, unsigned threads = 0);

// The DSF's sound blocks, from DSDIFF sound handed over in pieces of whole
// frames (a byte of each channel in turn): each piece is split into the
// blocks of a step of block groups in memory, which is written once full;
// the last blocks are zero-filled. Memory does not depend on the sound's
// length.
class DsfBlockWriter {
  public:
    DsfBlockWriter(int out, const DsfPlan& plan);

    // Takes all the frames, writing each step once full; false when a
    // write fails.
    bool add(std::span<const std::uint8_t> frames);
    // Writes what the step holds, its last blocks zero-filled.
    bool finish();

    // The bytes of each channel a step holds.
    std::size_t step_frames() const { return groups_per_step_ * std::size_t{dsf_block_size}; }

  private:
    // Splits as many of the frames as the step has room for; returns how
    // many bytes that took.
    std::size_t fill(std::span<const std::uint8_t> frames);
    bool write_step();

    int out_;
    const DsfPlan& plan_;
    std::size_t channels_;
    std::size_t group_bytes_;  // a block of each channel
    std::size_t groups_per_step_;
    std::unique_ptr<std::uint8_t[]> step_;
    std::size_t filled_ = 0;  // bytes of each channel in the step
};

}  // namespace dsd
