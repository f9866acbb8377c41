// Locating the ID3v2 tag a DSF file's metadata pointer points at. The tag
// is copied to the DFF output exactly as it stands, so only its extent is
// needed: the 10-byte header "ID3", major version 2 to 4, revision, flags,
// a syncsafe (7 bits per byte) body size; a 10-byte footer follows the body
// when a version 4 tag sets flag 0x10.
#pragma once

#include <cstdint>
#include <optional>

namespace dsd {

struct Id3TagLocation {
    std::uint64_t offset = 0;
    std::uint64_t length = 0;  // header, body and footer
};

// The tag at `pointer`, when the pointer is non-zero and a whole, valid tag
// header and body lie there inside the file; nothing otherwise.
std::optional<Id3TagLocation> find_id3_tag(int fd, std::uint64_t pointer);

}  // namespace dsd
