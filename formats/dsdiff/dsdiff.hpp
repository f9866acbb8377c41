// DSDIFF (.dff), as the suite reads and writes it. Every number is
// big-endian. A chunk is a 4-character id, a 64-bit size and that many bytes
// of data; data of odd size is followed by one pad byte that the size does
// not count (it may be missing at the very end of a file).
//
//   "FRM8" size "DSD "              the form: everything else is inside it,
//                                   in any order; at most one "PROP"/"SND ",
//                                   one sound chunk
//     "FVER" 4  version (u32)
//     "PROP" size "SND "            sound properties, local chunks inside:
//       "FS  " 4  sampling rate in Hz (u32), once
//       "CHNL" size  count (u16), then count 4-character channel ids, once:
//                    "SLFT" "SRGT" stereo; "MLFT" "MRGT" "C   " "LFE "
//                    "LS  " "RS  " multichannel; the sound's byte order
//       "CMPR" size  type ("DSD " uncompressed, "DST " compressed), name
//                    length (u8), name, pad to even
//       others ("ABSS", "LSCO", ...) skipped
//     "DSD " size  sound: a byte per channel in turn, earliest sample in the
//                  most significant bit
//     "DST " size  compressed sound, instead of "DSD ", local chunks inside:
//       "FRTE" 6  frame count (u32), frame rate (u16, 75)
//       "DSTF" size  one DST frame, per frame, in order
//       "DSTC" size  a check value of the frame before, optional
//       others skipped
//     "DSTI" size  an index of the frames' positions, optional
//     "ID3 " size  an ID3v2 tag
//     "DIIN" size  edited master information, local chunks inside:
//       "EMID" size  the edited master's identifier: the whole data
//       "DIAR" size  count (u32), then the artist's text
//       "DITI" size  count (u32), then the title's text
//       "MARK" size  a marker (below), any number of them
//       others skipped
//     others ("COMT", "MANF", ...) skipped
//
// An edited master describes its program in absolute times:
//   "ABSS" 8 (in "PROP"/"SND ")  the time of the sound's first sample:
//                hours (u16), minutes (u8), seconds (u8), samples (u32);
//                none means 0:00:00 + 0
//   "MARK" (in "DIIN")  one marker:
//     0   hours (u16), minutes (u8), seconds (u8), samples (u32)
//     8   offset (s32)         samples added to that time
//     12  type (u16)           0 TrackStart, 1 TrackStop, 2 ProgramStart,
//                              4 Index; others unused
//     14  channel (u16)        0 all channels, else one
//     16  track flags (u16)
//     18  text length (u32), then the text
//   A marker sits just before the sample
//     time x fs + samples + offset - (ABSS time x fs + ABSS samples)
//   of each channel (a time's seconds counted from its hours and minutes).
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
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "byte_source.hpp"
#include "chunk_id.hpp"

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

// The facts one walk of a file's chunks gathers. The walk goes through the
// whole form in file order, chunks in any order, and skips what it does not
// use; it stops at the first chunk that breaks the layout.
enum class DffWalkError {
    none,
    unreadable,        // offset: where a read failed
    not_dsdiff,        // id: the first bytes (size: how many, up to 4) or the form type
    past_end_of_file,  // id, offset: the chunk that runs past the end
    past_parent,       // id, offset: the chunk that runs past its parent
    second_chunk,      // id: a second "PROP"/"SND ", "FS  ", "CHNL" or sound chunk
    wrong_chunk_size,  // id, size: a chunk too small for its fields
};

inline constexpr std::size_t dff_max_kept_channel_ids = 6;
inline constexpr std::size_t dff_max_kept_tag_chunks = 256;

struct DffChunkSpan {
    std::uint64_t offset = 0;  // of the data
    std::uint64_t size = 0;    // without the pad byte
};

struct DffWalk {
    DffWalkError error = DffWalkError::none;
    ChunkId error_id{};
    // Bytes of error_id the file holds: fewer than 4 when the end of its
    // container cuts it short (the rest are zero).
    std::size_t error_id_length = 4;
    std::uint64_t error_offset = 0;  // of the chunk (unreadable: of the read)
    std::uint64_t error_size = 0;    // its size field

    bool has_sound_properties = false;         // a "PROP" chunk of type "SND "
    std::optional<std::uint64_t> rate_offset;  // of the "FS  " value
    std::uint32_t rate = 0;
    bool has_channels = false;  // a "CHNL" chunk
    std::uint16_t channel_count = 0;
    // The ids, when there are at most dff_max_kept_channel_ids of them.
    std::array<ChunkId, dff_max_kept_channel_ids> channel_ids{};
    // The type of the first "CMPR" chunk that is not "DSD ", if any.
    std::optional<ChunkId> compression;
    std::optional<DffChunkSpan> sound;  // the "DSD " or "DST " chunk
    bool sound_is_dst = false;
    bool dst_met = false;             // a "DST " chunk in the form, even a second sound chunk
    std::optional<DffChunkSpan> id3;  // the first "ID3 " chunk
    // The top-level "ID3 " chunks in file order, as many as there are up
    // to dff_max_kept_tag_chunks (an edited master may hold one per track),
    // and how many there are.
    std::vector<DffChunkSpan> tag_chunks;
    std::uint64_t tag_chunk_count = 0;
    std::optional<DffChunkSpan> diin;        // the first "DIIN" chunk
    std::optional<DffChunkSpan> start_time;  // the first "ABSS" in the properties

    // DST in the properties or as the sound chunk.
    bool compressed() const { return compression.has_value() || sound_is_dst; }
};

DffWalk walk_dff(const ByteSource& source);

// What a "DST " sound chunk holds, from the headers of its local chunks.
struct DffDstWalk {
    // The first break in the layout inside the chunk, as the walk reports
    // one: a chunk past the "DST " chunk, a second "FRTE", one too small.
    DffWalkError error = DffWalkError::none;
    ChunkId error_id{};
    std::size_t error_id_length = 4;  // the bytes of it the file has
    std::uint64_t error_offset = 0;
    std::uint64_t error_size = 0;

    bool has_frame_table = false;   // an "FRTE" chunk
    std::uint32_t frame_count = 0;  // its numbers
    std::uint16_t frame_rate = 0;
    std::uint64_t frames = 0;  // "DSTF" chunks
};

// Walks the "DST " chunk whose data is `dst`; reads only chunk headers, a
// window at a time, in constant memory.
DffDstWalk walk_dff_dst(const ByteSource& source, const DffChunkSpan& dst);

// The frames of a "DST " chunk one by one, in file order, read a window at
// a time.
class DffDstFrameReader {
  public:
    DffDstFrameReader(const ByteSource& source, const DffChunkSpan& dst);

    enum class Next {
        frame,       // the next "DSTF" chunk's data is in the vector
        end,         // no more
        unreadable,  // a read failed or the layout broke (the file changed)
    };
    // Of a frame longer than `max_frame` bytes, only the first `max_frame`
    // are read.
    Next next(std::vector<std::uint8_t>& frame, std::uint64_t max_frame);
    // Where the failed read started.
    std::uint64_t failed_at() const { return failed_at_; }

  private:
    WindowedReader reader_;
    std::uint64_t position_;
    std::uint64_t end_;
    std::uint64_t failed_at_ = 0;
};

// A point in absolute time: an "ABSS" value, or the time of a marker.
struct DffTimecode {
    std::uint16_t hours = 0;
    std::uint8_t minutes = 0;
    std::uint8_t seconds = 0;
    std::uint32_t samples = 0;
};

inline constexpr std::uint64_t dff_timecode_size = 8;
inline constexpr std::uint64_t dff_marker_fields_size = 22;  // before the text

enum class DffMarkerType : std::uint16_t {
    track_start = 0,
    track_stop = 1,
    program_start = 2,
    index = 4,
};

struct DffMarker {
    DffTimecode time;
    std::int32_t offset = 0;
    std::uint16_t type = 0;  // a DffMarkerType, or a value no writer should use
    std::uint16_t channel = 0;
    std::uint16_t track_flags = 0;
    std::string text;  // as stored: any encoding, trailing NULs kept

    bool is(DffMarkerType t) const { return type == static_cast<std::uint16_t>(t); }
};

// The value of an "ABSS" chunk: the first 8 bytes of its data.
DffTimecode parse_dff_timecode(std::span<const std::uint8_t> data);

// Texts longer than this are left out: a title, not a payload.
inline constexpr std::uint32_t dff_max_text_length = 1 << 16;

// What a "DIIN" chunk says. Texts are the bytes the file holds, as many as
// their count says (writers differ on whether a chunk's size counts its pad
// byte; the count does not): meant to be ASCII, in practice ISO-8859-1 or
// UTF-8. The first of each kind counts.
struct DffDiin {
    // The first break in the layout inside the chunk, as the walk reports
    // one; what was read before it is kept.
    DffWalkError error = DffWalkError::none;
    ChunkId error_id{};
    std::size_t error_id_length = 4;  // the bytes of it the file has
    std::uint64_t error_offset = 0;
    std::uint64_t error_size = 0;

    std::optional<std::string> artist;     // "DIAR"
    std::optional<std::string> title;      // "DITI"
    std::optional<std::string> master_id;  // "EMID", trailing NULs kept
    // Every "MARK" in file order; a text too long to keep is left empty.
    std::vector<DffMarker> markers;
};

// Reads the "DIIN" chunk whose data is `diin`.
DffDiin read_dff_diin(const ByteSource& source, const DffChunkSpan& diin);

enum class DffFinding { found, not_dff, dst_compressed, unreadable };

struct DffRateField {
    DffFinding finding = DffFinding::not_dff;
    std::uint64_t offset = 0;  // of the 4-byte value in the "FS  " chunk
    std::uint32_t rate = 0;    // its current value
};

// The rate field of the "PROP"/"SND " chunk. Reads every chunk header of
// the form and nothing else: the sound data is skipped by its size, so the
// time does not depend on the file's. A "CMPR" of any type but "DSD ", or a
// "DST " chunk in the form met before any break of the layout, makes it
// dst_compressed; any break of the layout (a chunk past the end of the file
// or of its parent, a second sound chunk, ...) makes it not_dff.
DffRateField locate_dff_rate_field(const ByteSource& source);

// The sample of each channel a marker sits before, counted from the sound's
// first: negative before the sound. Exact for every field value (at most
// about 2^60 in size), so no time can wrap into the sound.
std::int64_t dff_marker_position(const DffMarker& marker, const DffTimecode& sound_start,
                                 std::uint32_t rate);

}  // namespace dsd
