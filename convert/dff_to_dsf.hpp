// The conversion of an uncompressed DSDIFF file's sound (channel-interleaved
// bytes, most significant bit first) into the per-channel blocks of a
// one-bit DSF file, with the file's ID3v2 tag copied after the data.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "byte_source.hpp"
#include "dsdiff.hpp"
#include "dsf.hpp"
#include "write_result.hpp"

namespace dsd {

enum class DsfPlanError {
    none,
    walk,             // the chunk walk stopped: see walk.error
    compressed,       // walk.compression, or a "DST " sound chunk
    no_rate,          // no "FS  " chunk
    no_channels,      // no "CHNL" chunk
    no_sound,         // no sound chunk
    zero_rate,        // "FS  " holds 0
    wrong_channels,   // walk.channel_count outside 1 to 6
    wrong_layout,     // walk.channel_ids are no layout DSF has
    wrong_sound_size  // walk.sound->size is not a multiple of the channel count
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
    std::optional<DffChunkSpan> tag;  // an "ID3 " chunk holding an ID3v2 tag
    bool tag_skipped = false;         // an "ID3 " chunk holding something else
};

DsfPlan plan_dsf(const ByteSource& source);

// Writes the DSF of a plan without error, from the DSDIFF file open on `in`,
// to `out` from its current position. A read that comes back short fails
// where it stopped.
WriteResult write_dsf_stream(int in, int out, const DsfPlan& plan);

}  // namespace dsd
