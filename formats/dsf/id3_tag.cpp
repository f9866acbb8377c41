#include "id3_tag.hpp"

#include <array>
#include <span>

#include "file_io.hpp"

namespace dsd {

std::optional<Id3TagLocation> find_id3_tag(int fd, std::uint64_t pointer) {
    const auto size = file_size(fd);
    if (pointer == 0 || !size || pointer >= *size || *size - pointer < 10) {
        return std::nullopt;
    }
    std::array<std::uint8_t, 10> header{};
    if (read_full_at(fd, header, pointer) != header.size()) {
        return std::nullopt;
    }
    const std::uint8_t major = header[3];
    if (header[0] != 'I' || header[1] != 'D' || header[2] != '3' || major < 2 || major > 4 ||
        header[4] == 0xFF) {
        return std::nullopt;
    }
    std::uint64_t body = 0;
    for (std::size_t i = 6; i < 10; ++i) {
        if (header[i] & 0x80) {
            return std::nullopt;
        }
        body = body << 7 | header[i];
    }
    const bool footer = major == 4 && (header[5] & 0x10) != 0;
    const std::uint64_t length = 10 + body + (footer ? 10 : 0);
    if (length > *size - pointer) {
        return std::nullopt;
    }
    return Id3TagLocation{pointer, length};
}

}  // namespace dsd
