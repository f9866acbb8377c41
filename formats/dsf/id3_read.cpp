#include <algorithm>
#include <array>

#include "byte_order.hpp"
#include "id3_tag.hpp"
#include "utf8.hpp"

namespace dsd {
namespace {

constexpr std::size_t header_size = 10;
constexpr std::uint8_t tag_unsynchronised = 0x80;
constexpr std::uint8_t tag_extended_header = 0x40;  // version 2.2: compressed
constexpr std::uint16_t v23_frame_coded = 0x00C0;   // compressed or encrypted
constexpr std::uint16_t v24_frame_coded = 0x000C;
constexpr std::uint16_t v24_frame_unsynchronised = 0x0002;
constexpr std::uint16_t v24_frame_data_length = 0x0001;

std::optional<std::uint32_t> syncsafe(std::span<const std::uint8_t> b) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        if ((b[i] & 0x80) != 0) {
            return std::nullopt;
        }
        value = value << 7 | b[i];
    }
    return value;
}

// Undoes unsynchronisation: every FF 00 back to FF.
std::vector<std::uint8_t> resynchronised(std::span<const std::uint8_t> data) {
    std::vector<std::uint8_t> out;
    out.reserve(data.size());
    for (std::size_t i = 0; i < data.size(); ++i) {
        out.push_back(data[i]);
        if (data[i] == 0xFF && i + 1 < data.size() && data[i + 1] == 0) {
            ++i;
        }
    }
    return out;
}

// UTF-16 up to its first NUL; a lone surrogate becomes U+FFFD.
std::string utf16_to_utf8(std::span<const std::uint8_t> data, bool big_endian) {
    constexpr std::uint32_t replacement = 0xFFFD;
    std::string out;
    const auto unit = [&](std::size_t i) -> std::uint32_t {
        return big_endian ? (data[i] << 8 | data[i + 1]) : (data[i + 1] << 8 | data[i]);
    };
    for (std::size_t i = 0; i + 1 < data.size(); i += 2) {
        const std::uint32_t u = unit(i);
        if (u == 0) {
            break;
        }
        if (u >= 0xD800 && u < 0xDC00 && i + 3 < data.size()) {
            const std::uint32_t low = unit(i + 2);
            if (low >= 0xDC00 && low < 0xE000) {
                append_utf8(out, 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00));
                i += 2;
                continue;
            }
        }
        append_utf8(out, u >= 0xD800 && u < 0xE000 ? replacement : u);
    }
    return out;
}

// A text frame's first value as UTF-8.
std::string frame_text(std::span<const std::uint8_t> data) {
    if (data.empty()) {
        return {};
    }
    const std::uint8_t encoding = data[0];
    auto text = data.subspan(1);
    if (encoding == 1 || encoding == 2) {
        bool big_endian = encoding == 2;
        if (encoding == 1 && text.size() >= 2 && (text[0] ^ text[1]) == (0xFF ^ 0xFE) &&
            (text[0] == 0xFF || text[0] == 0xFE)) {
            big_endian = text[0] == 0xFE;
            text = text.subspan(2);
        }
        return utf16_to_utf8(text, big_endian);
    }
    const auto end = std::find(text.begin(), text.end(), 0);
    const std::string bytes(text.begin(), end);
    // UTF-8 or ISO-8859-1; a UTF-8 frame that is not is read as the latter.
    return encoding == 3 && is_valid_utf8(bytes) ? bytes : latin1_to_utf8(bytes);
}

}  // namespace

std::optional<std::string> id3_title(std::span<const std::uint8_t> tag) {
    if (tag.size() < header_size || tag[0] != 'I' || tag[1] != 'D' || tag[2] != '3') {
        return std::nullopt;
    }
    const std::uint8_t major = tag[3];
    const std::uint8_t flags = tag[5];
    const auto size = syncsafe(tag.subspan(6));
    if (major < 2 || major > 4 || !size || (major == 2 && (flags & tag_extended_header) != 0)) {
        return std::nullopt;
    }
    std::span<const std::uint8_t> body =
        tag.subspan(header_size, std::min<std::size_t>(*size, tag.size() - header_size));
    std::vector<std::uint8_t> plain;
    if (major < 4 && (flags & tag_unsynchronised) != 0) {
        plain = resynchronised(body);
        body = plain;
    }
    std::size_t pos = 0;
    if ((flags & tag_extended_header) != 0) {
        const auto extended =
            body.size() < 4 ? std::nullopt
                            : (major == 3 ? std::optional(4 + load_be32(body)) : syncsafe(body));
        if (!extended) {
            return std::nullopt;
        }
        pos = *extended;
    }
    const std::size_t frame_header = major == 2 ? 6 : 10;
    const std::string_view wanted = major == 2 ? "TT2" : "TIT2";
    while (pos <= body.size() && body.size() - pos >= frame_header && body[pos] != 0) {
        const auto h = body.subspan(pos, frame_header);
        std::optional<std::uint32_t> length;
        std::uint16_t frame_flags = 0;
        if (major == 2) {
            length = static_cast<std::uint32_t>(h[3] << 16 | h[4] << 8 | h[5]);
        } else {
            length = major == 3 ? std::optional(load_be32(h.subspan(4))) : syncsafe(h.subspan(4));
            frame_flags = load_be16(h.subspan(8));
        }
        pos += frame_header;
        if (!length || *length > body.size() - pos) {
            return std::nullopt;
        }
        auto data = body.subspan(pos, *length);
        pos += *length;
        if (!std::equal(wanted.begin(), wanted.end(), h.begin(),
                        [](char c, std::uint8_t b) { return static_cast<std::uint8_t>(c) == b; })) {
            continue;
        }
        if ((major == 3 && (frame_flags & v23_frame_coded) != 0) ||
            (major == 4 && (frame_flags & v24_frame_coded) != 0)) {
            return std::nullopt;
        }
        if (major == 4 && (frame_flags & v24_frame_data_length) != 0) {
            data = data.subspan(std::min<std::size_t>(4, data.size()));
        }
        if (major == 4 &&
            ((frame_flags & v24_frame_unsynchronised) != 0 || (flags & tag_unsynchronised) != 0)) {
            return frame_text(resynchronised(data));
        }
        return frame_text(data);
    }
    return std::nullopt;
}

}  // namespace dsd
