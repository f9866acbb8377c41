// DST-compressed sound in a DSDIFF file, as the converters that read it check
// and decode it: the frames of the "DST " chunk, read in order, decoded on
// several threads, handed to a sink in order.
#pragma once

#include <cstddef>
#include <cstdint>

#include "byte_source.hpp"
#include "chunk_id.hpp"
#include "dsdiff.hpp"
#include "dst.hpp"
#include "progress.hpp"
#include "write_result.hpp"

namespace dsd {

// How a walked file's sound is stored: as it is ("CMPR" type "DSD " or no
// "CMPR", a "DSD " chunk), DST-compressed ("CMPR" type "DST " and a "DST "
// chunk), or otherwise (any other type, or the two disagreeing).
enum class SoundCoding { plain, dst, other };
SoundCoding sound_coding(const DffWalk& walk);

// The type a refusal of other coding names: the "CMPR" type, else "DST ".
ChunkId compression_type(const DffWalk& walk);

struct DstSound {
    DffChunkSpan chunk;  // the "DST " chunk's data
    unsigned channels = 0;
    std::size_t frame_bytes = 0;  // per channel and frame (L)
    std::uint64_t frames = 0;

    std::uint64_t bytes_per_channel() const { return frames * frame_bytes; }
};

enum class DstError {
    none,
    wrong_rate,      // the walk's rate is none DST allows
    walk,            // the walk inside the chunk stopped: see frames.error
    no_frame_table,  // no "FRTE" chunk
    frame_count,     // frames.frames differs from frames.frame_count
};

struct DstCheck {
    DstError error = DstError::none;
    DffDstWalk frames;
    DstSound sound;
};

// Checks the sound of a walk whose coding is dst and whose channel count is
// 1 to 6; reads the headers of the chunks inside the "DST " chunk.
DstCheck check_dst_sound(const ByteSource& source, const DffWalk& walk);

// Frames first to end - 1 (from 0); those before are read but not decoded,
// those after not even read, so a damaged one there does not matter.
struct DstFrameRange {
    std::uint64_t first = 0;
    std::uint64_t end = UINT64_MAX;
};

// Decodes the sound's frames from the file open on `in`, in file order, into
// `sink`, on `threads` threads (0: every CPU this process may use). Of a
// frame longer than any valid one, only what decides it is read, so memory
// stays bounded whatever a file says. A damaged frame: damaged_frame and its
// index (from 0); a failed read: read_failed where it started; a sink that
// could not take the sound: write_failed at `out`'s position. The bytes of
// each frame read are added to `progress`, if any.
WriteResult decode_dst_sound(int in, const DstSound& sound, dst::SoundSink& sink, int out,
                             unsigned threads, ProgressCounter* progress = nullptr,
                             DstFrameRange range = {});

// The thread count DSD_THREADS sets (a number from 1 to max_dst_threads), or
// 0 when it is unset or anything else.
inline constexpr unsigned max_dst_threads = 1024;
unsigned dst_threads_from_environment();

}  // namespace dsd
