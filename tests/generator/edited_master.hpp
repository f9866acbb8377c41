// DSDIFF edited masters for tests: an "ABSS" start time, markers in "DIIN"
// given by where they fall in the sound, texts, and "ID3 " chunks.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "dff_builder.hpp"

namespace dsd::testgen {

struct Timecode {
    std::uint16_t hours = 0;
    std::uint8_t minutes = 0;
    std::uint8_t seconds = 0;
    std::uint32_t samples = 0;
};

enum MarkType : std::uint16_t {
    track_start = 0,
    track_stop = 1,
    program_start = 2,
    index_mark = 4,
};

struct Marker {
    Marker(std::uint16_t type_, std::int64_t position_, std::int32_t offset_ = 0,
           std::string text_ = {}, std::uint16_t channel_ = 0)
        : type(type_),
          position(position_),
          offset(offset_),
          text(std::move(text_)),
          channel(channel_) {}

    std::uint16_t type;
    std::int64_t position;  // the sample of each channel it sits before
    std::int32_t offset;    // stored apart from the time, which makes up the rest
    std::string text;
    std::uint16_t channel;
};

struct EditedMaster {
    std::uint32_t rate = 2822400;
    std::vector<std::string_view> channel_ids{"SLFT", "SRGT"};
    std::optional<Timecode> start;  // "ABSS"
    std::vector<Marker> markers;    // in file order
    std::optional<std::string> artist;
    std::optional<std::string> title;
    std::optional<std::string> master_id;
    std::vector<Bytes> tags;  // each an "ID3 " chunk after the sound
};

Bytes dff_abss(const Timecode& t);
// A "MARK" chunk of these fields; `count` overrides the text's length.
Bytes dff_mark(const Timecode& time, std::int32_t offset, std::uint16_t type, std::uint16_t channel,
               std::string_view text, std::optional<std::uint32_t> count = std::nullopt);
// DIAR and DITI: a count, then the text.
Bytes dff_text_chunk(std::string_view id, std::string_view text);

// The marker's stored time, the position less its offset plus the start.
Timecode marker_time(const EditedMaster& master, const Marker& marker);

// The "DIIN" chunk: EMID, DIAR, DITI, then the markers.
Bytes edited_master_diin(const EditedMaster& master);

// The whole uncompressed file: FVER, PROP (FS, CHNL, CMPR, ABSS), DIIN,
// the sound, the tags.
Bytes edited_master_file(const EditedMaster& master, const Bytes& sound);

// A CUE sheet's UTF-8 text as UTF-16 after its byte-order mark, as some
// Windows programs write "Unicode" sheets; characters past U+FFFF as
// surrogate pairs.
std::string utf16_cue_text(const std::string& utf8, bool big_endian);

}  // namespace dsd::testgen
