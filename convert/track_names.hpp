// What each track of a split is called and what its tag says.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "id3_tag.hpp"

namespace dsd {

// Text from a file or a CUE sheet as UTF-8: trailing NULs dropped, valid
// UTF-8 kept as it is, anything else read as ISO-8859-1.
std::string text_as_utf8(std::string_view stored);

inline constexpr std::size_t max_title_bytes_in_name = 200;

// "NN.dsf", or "NN - TITLE.dsf" when the title has more than blanks: NN the
// number in two digits or more, the title's '/' and control characters
// (C0, DEL and C1) each replaced by '_', blanks at either end dropped, and
// cut to at most max_title_bytes_in_name bytes before a character.
std::string track_file_name(std::size_t number, std::string_view title);

// The texts a track's tag is made of, all UTF-8; empty ones are left out.
struct TrackTexts {
    std::string title;
    std::string performer;  // the track's own, else the program's artist
    std::string album;
    std::string album_artist;
};

// TRCK "n/N", TIT2, TALB, TPE1 and TPE2, in that order.
std::vector<Id3TextFrame> track_tag_frames(std::size_t number, std::size_t count,
                                           const TrackTexts& texts);

}  // namespace dsd
