#include "id3_tag.hpp"

#include <array>
#include <span>

#include "file_io.hpp"
#include "utf8.hpp"

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

namespace {

constexpr std::uint64_t id3_header_size = 10;
constexpr std::uint64_t max_syncsafe = (std::uint64_t{1} << 28) - 1;

void append_syncsafe(std::vector<std::uint8_t>& out, std::uint64_t value) {
    for (int shift = 21; shift >= 0; shift -= 7) {
        out.push_back(static_cast<std::uint8_t>(value >> shift & 0x7F));
    }
}

}  // namespace

std::optional<std::vector<std::uint8_t>> make_id3v24_tag(std::span<const Id3TextFrame> frames) {
    std::uint64_t body = 0;
    for (const auto& frame : frames) {
        const std::uint64_t frame_body = 1 + std::uint64_t{frame.text.size()};
        if (frame.id.size() != 4 || frame_body > max_syncsafe) {
            return std::nullopt;
        }
        body += id3_header_size + frame_body;
        if (body > max_syncsafe) {
            return std::nullopt;
        }
    }
    std::vector<std::uint8_t> tag{'I', 'D', '3', 4, 0, 0};
    tag.reserve(static_cast<std::size_t>(id3_header_size + body));
    append_syncsafe(tag, body);
    for (const auto& frame : frames) {
        tag.insert(tag.end(), frame.id.begin(), frame.id.end());
        append_syncsafe(tag, 1 + frame.text.size());
        tag.insert(tag.end(), {0, 0, static_cast<std::uint8_t>(frame.encoding)});
        tag.insert(tag.end(), frame.text.begin(), frame.text.end());
    }
    return tag;
}

bool is_valid_utf8(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t bytes = first_utf8_char(text.substr(i)).bytes;
        if (bytes == 0) {
            return false;
        }
        i += bytes;
    }
    return true;
}

std::string latin1_to_utf8(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        append_utf8(out, static_cast<std::uint8_t>(c));
    }
    return out;
}

}  // namespace dsd
