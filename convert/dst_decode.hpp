// The decoding of a DST-compressed DSDIFF file into the uncompressed DSDIFF
// file of the same sound. Every top-level chunk is copied in order, byte for
// byte, pad bytes included, except:
//   "FRM8"           its size, for what it now holds
//   "PROP"/"SND "    its size; its "CMPR" chunk becomes type "DSD ", name
//                    "not compressed" (20 bytes of data); the other local
//                    chunks are copied
//   "DST "           becomes a "DSD " chunk holding the decoded sound
//   "DSTI"           dropped: it indexes the compressed frames
// Bytes past the form are not part of the file and are not copied.
#pragma once

#include <optional>

#include "byte_source.hpp"
#include "dsdiff.hpp"
#include "dst_sound.hpp"
#include "write_result.hpp"

namespace dsd {

enum class DecodePlanError {
    none,
    walk,            // the chunk walk stopped: see walk.error
    compressed,      // compression_type(walk): neither plain nor DST
    not_dst,         // plain sound
    no_rate,         // no "FS  " chunk
    no_channels,     // no "CHNL" chunk
    no_sound,        // no "DST " chunk
    wrong_channels,  // walk.channel_count outside 1 to 6
    dst              // the DST sound failed its checks: see dst.error
};

// Everything the decoding needs, decided from the whole input before any
// output exists.
struct DecodePlan {
    DecodePlanError error = DecodePlanError::none;
    DffWalk walk;
    DstCheck dst;
    std::uint64_t form_end = 0;  // of the input's form
};

DecodePlan plan_dst_decode(const ByteSource& source);

// Writes the uncompressed file of a plan without error, from the file open
// on `in`, to `out` from its start, decoding on `threads` threads (0: all).
WriteResult write_dst_decode(int in, int out, const DecodePlan& plan, unsigned threads = 0);

}  // namespace dsd
