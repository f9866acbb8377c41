#include <algorithm>
#include <array>

#include "byte_order.hpp"
#include "byte_source.hpp"
#include "id3_tag.hpp"
#include "utf8.hpp"

namespace dsd {
namespace {

constexpr std::size_t header_size = 10;
constexpr std::size_t window_bytes = 4096;  // frame headers are read through it
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

// `text` less a UTF-8 sequence cut short at its end.
std::string_view without_cut_sequence(std::string_view text) {
    const std::size_t last = std::min<std::size_t>(3, text.size());
    for (std::size_t back = 1; back <= last; ++back) {
        const auto b = static_cast<std::uint8_t>(text[text.size() - back]);
        if ((b & 0x80) == 0) {
            break;
        }
        if ((b & 0xC0) == 0xC0) {
            const std::size_t length = b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
            return length > back ? text.substr(0, text.size() - back) : text;
        }
    }
    return text;
}

// A text frame's first value as UTF-8; `cut` when the frame's data goes on
// past `data`, which may end inside a character.
std::string frame_text(std::span<const std::uint8_t> data, bool cut) {
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
    std::string bytes(text.begin(), end);
    if (cut && end == text.end()) {
        bytes.resize(without_cut_sequence(bytes).size());
    }
    // UTF-8 or ISO-8859-1; a UTF-8 frame that is not is read as the latter.
    return encoding == 3 && is_valid_utf8(bytes) ? bytes : latin1_to_utf8(bytes);
}

// A tag's body, read in order from its source: frame headers and the
// title's data are read, other frames skipped by their offset, so cover art
// of any size costs nothing. A body unsynchronised as a whole (before
// version 2.4) is resynchronised as it is read, every FF 00 read as FF: its
// frame sizes count the bytes that come out, so skipping reads through.
class TagBody {
  public:
    TagBody(const ByteSource& source, std::uint64_t start, std::uint64_t end, bool unsynchronised)
        : window_(source, end, window_bytes),
          at_(start),
          end_(end),
          unsynchronised_(unsynchronised) {}

    // Fills `out` with the next bytes; false at the body's end or on a read
    // error.
    bool read(std::span<std::uint8_t> out) {
        if (unsynchronised_) {
            for (std::uint8_t& b : out) {
                if (!next(b)) {
                    return false;
                }
            }
            return true;
        }
        if (out.size() > end_ - at_) {
            return false;
        }
        if (!window_.read_exact(at_, out)) {
            return read_failed();
        }
        at_ += out.size();
        return true;
    }

    bool skip(std::uint64_t n) {
        if (unsynchronised_) {
            std::uint8_t b = 0;
            for (; n > 0; --n) {
                if (!next(b)) {
                    return false;
                }
            }
            return true;
        }
        if (n > end_ - at_) {
            return false;
        }
        at_ += n;
        return true;
    }

    // Where the source could not be read, if it could not.
    std::optional<std::uint64_t> failed_at() const { return failed_at_; }

  private:
    bool next(std::uint8_t& b) {
        while (at_ < end_) {
            if (!window_.read_exact(at_, std::span(&b, 1))) {
                return read_failed();
            }
            ++at_;
            const bool dropped = after_ff_ && b == 0;
            after_ff_ = !dropped && b == 0xFF;
            if (!dropped) {
                return true;
            }
        }
        return false;
    }

    bool read_failed() {
        failed_at_ = at_;
        return false;
    }

    WindowedReader window_;
    std::uint64_t at_;  // the source's offset of the next byte
    std::uint64_t end_;
    bool unsynchronised_;
    bool after_ff_ = false;
    std::optional<std::uint64_t> failed_at_;
};

}  // namespace

Id3TitleRead read_id3_title(const ByteSource& source, std::uint64_t offset, std::uint64_t length) {
    Id3TitleRead result;
    std::array<std::uint8_t, header_size> header{};
    if (length < header_size || !source.read_exact(offset, header)) {
        if (length >= header_size) {
            result.read_error = offset;
        }
        return result;
    }
    const std::uint8_t major = header[3];
    const std::uint8_t flags = header[5];
    const auto size = syncsafe(std::span(header).subspan(6));
    if (header[0] != 'I' || header[1] != 'D' || header[2] != '3' || major < 2 || major > 4 ||
        !size || (major == 2 && (flags & tag_extended_header) != 0)) {
        return result;
    }
    const std::uint64_t start = offset + header_size;
    TagBody body(source, start, start + std::min<std::uint64_t>(*size, length - header_size),
                 major < 4 && (flags & tag_unsynchronised) != 0);
    const auto done = [&](std::optional<std::string> title = std::nullopt) {
        result.title = std::move(title);
        result.read_error = body.failed_at();
        return result;
    };
    if ((flags & tag_extended_header) != 0) {
        // Its size: in 2.3 of what follows the size, in 2.4 of it all.
        std::array<std::uint8_t, 4> field{};
        if (!body.read(field)) {
            return done();
        }
        std::optional<std::uint64_t> extended = syncsafe(field);
        if (major == 3) {
            extended = std::uint64_t{load_be32(field)} + 4;
        }
        if (!extended || *extended < field.size() || !body.skip(*extended - field.size())) {
            return done();
        }
    }
    const std::size_t frame_header = major == 2 ? 6 : 10;
    const std::string_view wanted = major == 2 ? "TT2" : "TIT2";
    std::array<std::uint8_t, 10> h{};
    while (body.read(std::span(h).first(frame_header)) && h[0] != 0) {
        std::optional<std::uint32_t> frame_length;
        std::uint16_t frame_flags = 0;
        if (major == 2) {
            frame_length = static_cast<std::uint32_t>(h[3] << 16 | h[4] << 8 | h[5]);
        } else {
            frame_length = major == 3 ? std::optional(load_be32(std::span(h).subspan(4)))
                                      : syncsafe(std::span(h).subspan(4));
            frame_flags = load_be16(std::span(h).subspan(8));
        }
        if (!frame_length) {
            return done();
        }
        if (!std::equal(wanted.begin(), wanted.end(), h.begin(),
                        [](char c, std::uint8_t b) { return static_cast<std::uint8_t>(c) == b; })) {
            if (!body.skip(*frame_length)) {
                return done();
            }
            continue;
        }
        if ((major == 3 && (frame_flags & v23_frame_coded) != 0) ||
            (major == 4 && (frame_flags & v24_frame_coded) != 0)) {
            return done();
        }
        // The data length before the data, when given, is not text.
        const std::size_t skipped =
            major == 4 && (frame_flags & v24_frame_data_length) != 0 ? 4 : 0;
        std::vector<std::uint8_t> data(
            std::min<std::size_t>(*frame_length, skipped + id3_title_bytes_read));
        const bool cut = data.size() < *frame_length;
        if (!body.read(data) || !body.skip(*frame_length - data.size())) {
            return done();
        }
        const auto text =
            std::span<const std::uint8_t>(data).subspan(std::min(skipped, data.size()));
        if (major == 4 &&
            ((frame_flags & v24_frame_unsynchronised) != 0 || (flags & tag_unsynchronised) != 0)) {
            return done(frame_text(resynchronised(text), cut));
        }
        return done(frame_text(text, cut));
    }
    return done();
}

std::optional<std::string> id3_title(std::span<const std::uint8_t> tag) {
    return read_id3_title(memory_source(tag), 0, tag.size()).title;
}

}  // namespace dsd
