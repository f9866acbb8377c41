// CUE sheets, as the track splitter reads them: lines of text (ended by LF,
// CRLF or CR; a UTF-8 byte-order mark at the start ignored), each a command
// word (any case) and its arguments, separated by blanks. A sheet that starts
// with a UTF-16 byte-order mark (FF FE little-endian, FE FF big-endian) is
// read as UTF-16 and its texts given as UTF-8.
//
//   FILE "name" TYPE            the sound the tracks below lie in; only the
//                               first FILE's tracks are read, the rest of the
//                               sheet is ignored
//   TRACK nn AUDIO              a track, nn 01 to 99, in increasing order
//   INDEX nn mm:ss:ff           a position in the file: minutes, seconds
//                               (0-59) and frames (0-74) of 1/75 s; 00 is
//                               the pregap before the track, 01 its start
//   TITLE value                 before the first TRACK the disc's, then the
//   PERFORMER value             track's
//   REM ...                     a remark
//   CATALOG, CDTEXTFILE, FLAGS, ISRC, POSTGAP, PREGAP, SONGWRITER and the
//   other CD-TEXT fields (ARRANGER, COMPOSER, DISC_ID, GENRE, MESSAGE,
//   SIZE_INFO, TOC_INFO1, TOC_INFO2, UPC_EAN): ignored
//
// A value is quoted ("a b") or bare (the rest of the line). Texts of a sheet
// without a UTF-16 mark are kept as their bytes, in whatever encoding the
// sheet uses.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace dsd {

inline constexpr std::uint32_t cue_frames_per_second = 75;

struct CueIndex {
    std::uint64_t frames = 0;  // from the start of the file
    std::size_t line = 0;      // from 1
};

struct CueTrack {
    unsigned number = 0;
    std::size_t line = 0;
    std::string title;
    std::string performer;
    std::optional<CueIndex> pregap;  // INDEX 00
    CueIndex start;                  // INDEX 01
    std::vector<CueIndex> later;     // INDEX 02 and above, in order
};

struct CueSheet {
    std::string title;
    std::string performer;
    std::vector<CueTrack> tracks;
};

enum class CueError {
    none,
    unknown_command,     // a word that is no CUE command
    no_closing_quote,    // a quoted value without its closing quote
    text_after_value,    // more after a quoted TITLE or PERFORMER
    no_value,            // a command without its arguments
    bad_track,           // TRACK without a number from 01 to 99
    not_audio,           // a TRACK of another type than AUDIO
    track_order,         // a TRACK number not above the one before
    index_before_track,  // INDEX before any TRACK
    bad_index,           // INDEX not "nn mm:ss:ff" within range
    index_order,         // an INDEX number not above the one before in its track
    position_order,      // a position before the one before it
    no_start_index,      // a TRACK without INDEX 01 (line: the TRACK's)
    past_end,            // a position at or past the end of the sound (found by its user)
    bad_utf16,           // a UTF-16 sheet with a lone surrogate or an odd last byte
};

struct CueResult {
    CueError error = CueError::none;
    std::size_t line = 0;  // of the error, from 1
    CueSheet sheet;
};

// Parses a whole sheet. Positions are checked for order, not against any
// sound: that is the caller's, who knows its length.
CueResult parse_cue(std::string_view text);

}  // namespace dsd
