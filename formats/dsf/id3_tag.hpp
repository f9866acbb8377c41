// ID3v2 tags: locating the one a DSF file's metadata pointer points at, and
// making one of text frames.
//
// A tag is the 10-byte header "ID3", major version 2 to 4, revision, flags,
// a syncsafe (7 bits per byte, most significant first) body size; then the
// body; then a 10-byte footer when a version 4 tag sets flag 0x10. Found tags
// are copied exactly as they stand, so only their extent is needed.
//
// Reading a title, the tag's flags 0x80 (unsynchronisation: every FF 00 in
// the body stands for FF) and 0x40 (an extended header, its size first) are
// honoured. Frames follow: in version 2.2 a 3-character id and a 24-bit
// size; in 2.3 a 4-character id, a 32-bit size and two flag bytes; in 2.4
// the same with a syncsafe size, the flags 0x02 (the frame unsynchronised)
// and 0x01 (a 4-byte data length before the data). A text frame's data is an
// encoding byte (0 ISO-8859-1, 1 UTF-16 after a byte-order mark, 2 UTF-16
// big-endian, 3 UTF-8) and the text, ended by a NUL or by the frame.
//
// The tags made here are version 2.4.0 with no flags, no padding and no
// footer; each text frame is its id, a syncsafe size, two zero flag bytes,
// then the encoding byte (0 ISO-8859-1, 3 UTF-8) and the text, unterminated.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "byte_source.hpp"

namespace dsd {

struct Id3TagLocation {
    std::uint64_t offset = 0;
    std::uint64_t length = 0;  // header, body and footer
};

// The tag at `pointer`, when the pointer is non-zero and a whole, valid tag
// header and body lie there inside the file; nothing otherwise.
std::optional<Id3TagLocation> find_id3_tag(int fd, std::uint64_t pointer);

enum class Id3TextEncoding : std::uint8_t { latin1 = 0, utf8 = 3 };

struct Id3TextFrame {
    std::string id;    // four characters: "TIT2", "TPE1", "TALB", ...
    std::string text;  // in `encoding`
    Id3TextEncoding encoding = Id3TextEncoding::utf8;
};

// A whole tag holding the frames in the order given; nothing when it would
// pass the largest size a tag can declare (256 MiB) or an id is not four
// characters.
std::optional<std::vector<std::uint8_t>> make_id3v24_tag(std::span<const Id3TextFrame> frames);

// The title (TIT2, in version 2.2 TT2) of a whole tag as UTF-8; nothing when
// the tag has none or its frames cannot be read (compressed, encrypted,
// damaged). Of a title's frame only the first id3_title_bytes_read bytes
// are read, a character they cut short dropped.
std::optional<std::string> id3_title(std::span<const std::uint8_t> tag);

inline constexpr std::size_t id3_title_bytes_read = std::size_t{64} << 10;

struct Id3TitleRead {
    std::optional<std::string> title;
    std::optional<std::uint64_t> read_error;  // the offset where the source failed
};

// The title, as id3_title gives it, of the tag that fills `length` bytes
// from `offset` of `source`, read a frame header at a time: the data of
// other frames (cover art of any size) is skipped, so memory stays small
// however large the tag.
Id3TitleRead read_id3_title(const ByteSource& source, std::uint64_t offset, std::uint64_t length);

// Whether `text` is well-formed UTF-8 (no overlong forms, no surrogates,
// nothing past U+10FFFF).
bool is_valid_utf8(std::string_view text);

// ISO-8859-1 bytes as UTF-8.
std::string latin1_to_utf8(std::string_view text);

}  // namespace dsd
