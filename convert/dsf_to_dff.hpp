// The conversion of a stereo DSF file's sound (per-channel blocks) into the
// byte-interleaved sound of a DSDIFF file, with the DSF's tag copied into an
// "ID3 " chunk.
#pragma once

#include <cstdint>
#include <optional>

#include "dsf.hpp"
#include "id3_tag.hpp"
#include "write_result.hpp"

namespace dsd {

// Sound bytes the output gets: per channel one byte per 8 samples, bounded
// by what each channel's blocks inside the data chunk hold.
std::uint64_t dff_sound_bytes(const DsfStreamInfo& info);

// Converts the DSF open on `in` into a DFF written to `out` from its current
// position, declared at `rate`. A read that comes back short (a file cut
// short, or shrinking meanwhile) fails where it stopped.
WriteResult write_dff_stream(int in, int out, const DsfStreamInfo& info, std::uint32_t rate,
                             const std::optional<Id3TagLocation>& tag);

}  // namespace dsd
