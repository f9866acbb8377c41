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
        const auto lead = static_cast<std::uint8_t>(text[i]);
        std::size_t extra = 0;
        std::uint32_t code = 0;
        std::uint32_t least = 0;  // the smallest code point its length may carry
        if (lead < 0x80) {
            ++i;
            continue;
        }
        if ((lead & 0xE0) == 0xC0) {
            extra = 1;
            code = lead & 0x1Fu;
            least = 0x80;
        } else if ((lead & 0xF0) == 0xE0) {
            extra = 2;
            code = lead & 0x0Fu;
            least = 0x800;
        } else if ((lead & 0xF8) == 0xF0) {
            extra = 3;
            code = lead & 0x07u;
            least = 0x10000;
        } else {
            return false;
        }
        if (text.size() - i <= extra) {
            return false;
        }
        for (std::size_t k = 1; k <= extra; ++k) {
            const auto next = static_cast<std::uint8_t>(text[i + k]);
            if ((next & 0xC0) != 0x80) {
                return false;
            }
            code = code << 6 | (next & 0x3Fu);
        }
        if (code < least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
            return false;
        }
        i += 1 + extra;
    }
    return true;
}

std::string latin1_to_utf8(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto b = static_cast<std::uint8_t>(c);
        if (b < 0x80) {
            out.push_back(c);
        } else {
            out.push_back(static_cast<char>(0xC0 | b >> 6));
            out.push_back(static_cast<char>(0x80 | (b & 0x3F)));
        }
    }
    return out;
}

}  // namespace dsd
