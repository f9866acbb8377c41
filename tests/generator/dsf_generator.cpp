// DSF layout written here (all fields little-endian):
//   0  "DSD "  chunk size 28 (u64)  total file size (u64)  metadata pointer (u64)
//   28 "fmt "  chunk size 52 (u64)  version 1  format 0  channel type 2  channels 2
//      sampling frequency  bits per sample  sample count (u64)  block size 4096  reserved
//   80 "data"  chunk size 12 + sound bytes (u64)
//   92 sound: 4096-byte blocks, left then right, the last pair zero-filled
//   then the ID3v2 tag, when there is one, at the metadata pointer.
#include "dsf_generator.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <numbers>
#include <span>
#include <string>

#include "byte_order.hpp"
#include "dff_builder.hpp"
#include "tone.hpp"

namespace dsd::testgen {
namespace {

constexpr std::size_t block_size = 4096;
constexpr std::size_t header_size = 92;

std::uint64_t bytes_per_channel(const DsfSpec& spec) {
    return (spec.sample_count + 7) / 8;
}

std::uint64_t block_pairs(const DsfSpec& spec) {
    return (bytes_per_channel(spec) + block_size - 1) / block_size;
}

std::array<std::uint8_t, header_size> make_header(const DsfSpec& spec) {
    const std::uint64_t data = dsf_data_bytes(spec);
    const std::uint64_t tag = spec.id3_tag ? spec.id3_tag->size() : 0;
    std::array<std::uint8_t, header_size> h{};
    std::span<std::uint8_t> b(h);
    const auto put_id = [&](std::size_t at, const char* id) {
        for (std::size_t i = 0; i < 4; ++i) {
            b[at + i] = static_cast<std::uint8_t>(id[i]);
        }
    };
    put_id(0, "DSD ");
    store_le64(b.subspan(4), 28);
    store_le64(b.subspan(12), header_size + data + tag);
    store_le64(b.subspan(20), tag != 0 ? header_size + data : 0);
    put_id(28, "fmt ");
    store_le64(b.subspan(32), 52);
    store_le32(b.subspan(40), 1);
    store_le32(b.subspan(44), 0);
    store_le32(b.subspan(48), 2);
    store_le32(b.subspan(52), 2);
    store_le32(b.subspan(56), spec.sampling_frequency);
    store_le32(b.subspan(60), spec.bits_per_sample);
    store_le64(b.subspan(64), spec.sample_count);
    store_le32(b.subspan(72), block_size);
    put_id(80, "data");
    store_le64(b.subspan(84), 12 + data);
    return h;
}

// Fills one channel block with the next samples; bits past the sample count
// stay zero.
void fill_block(std::span<std::uint8_t> block, ToneModulator& tone, std::uint64_t first_sample,
                const DsfSpec& spec) {
    for (std::size_t byte = 0; byte < block.size(); ++byte) {
        std::uint8_t value = 0;
        for (unsigned bit = 0; bit < 8; ++bit) {
            const std::uint64_t sample = first_sample + byte * 8 + bit;
            if (sample >= spec.sample_count) {
                break;
            }
            if (tone.next_bit()) {
                value |= spec.bits_per_sample == 8 ? 0x80 >> bit : 1 << bit;
            }
        }
        block[byte] = value;
    }
}

template <typename Sink>
bool generate(const DsfSpec& spec, Sink&& sink) {
    const auto header = make_header(spec);
    if (!sink(std::span<const std::uint8_t>(header))) {
        return false;
    }
    ToneModulator left(spec.left_hz, spec.sampling_frequency, spec.amplitude);
    ToneModulator right(spec.right_hz, spec.sampling_frequency, spec.amplitude);
    std::array<std::uint8_t, 2 * block_size> pair{};
    const std::span<std::uint8_t> blocks(pair);
    for (std::uint64_t p = 0; p < block_pairs(spec); ++p) {
        const std::uint64_t first = p * block_size * 8;
        fill_block(blocks.first(block_size), left, first, spec);
        fill_block(blocks.last(block_size), right, first, spec);
        if (!sink(std::span<const std::uint8_t>(pair))) {
            return false;
        }
    }
    if (spec.id3_tag) {
        return sink(std::span<const std::uint8_t>(*spec.id3_tag));
    }
    return true;
}

void store_syncsafe(std::span<std::uint8_t> b, std::uint32_t v) {
    for (std::size_t i = 0; i < 4; ++i) {
        b[i] = static_cast<std::uint8_t>((v >> (21 - 7 * i)) & 0x7F);
    }
}

}  // namespace

std::uint64_t dsf_data_bytes(const DsfSpec& spec) {
    return block_pairs(spec) * 2 * block_size;
}

std::vector<std::uint8_t> make_dsf(const DsfSpec& spec) {
    std::vector<std::uint8_t> file;
    generate(spec, [&](std::span<const std::uint8_t> part) {
        file.insert(file.end(), part.begin(), part.end());
        return true;
    });
    return file;
}

bool write_dsf(const DsfSpec& spec, std::ostream& out) {
    return generate(spec,
                    [&](std::span<const std::uint8_t> part) {
                        out.write(reinterpret_cast<const char*>(part.data()),
                                  static_cast<std::streamsize>(part.size()));
                        return static_cast<bool>(out);
                    }) &&
           out.flush();
}

std::u16string utf16_units(const std::u32string& codes) {
    std::u16string units;
    for (const char32_t code : codes) {
        if (code < 0x10000) {
            units.push_back(static_cast<char16_t>(code));
        } else {
            units.push_back(static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10)));
            units.push_back(static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF)));
        }
    }
    return units;
}

std::optional<std::u32string> decode_utf8(const std::string& text) {
    std::u32string decoded;
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const std::size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
        if ((lead >= 0x80 && lead < 0xC2) || lead > 0xF4 || i + length > text.size()) {
            return std::nullopt;
        }
        char32_t code = length == 1 ? lead : lead & (0x7F >> length);
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80) {
                return std::nullopt;
            }
            code = code << 6 | (next & 0x3F);
        }
        // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
        constexpr std::array<char32_t, 5> least{0, 0, 0x80, 0x800, 0x10000};
        if (code < least[length] || (code >= 0xD800 && code < 0xE000) || code > 0x10FFFF) {
            return std::nullopt;
        }
        decoded += code;
        i += length;
    }
    return decoded;
}

namespace {

// A text frame's data: its encoding byte, then the text. ID3v2.4 takes the
// UTF-8 as it is; ID3v2.3 knows only Latin-1 and UTF-16, so text beyond
// ASCII goes as UTF-16 with a byte-order mark, which every reader decodes to
// the same characters. Text that is not UTF-8 goes as its bytes, Latin-1.
std::vector<std::uint8_t> text_data(const std::string& text, int major) {
    std::vector<std::uint8_t> data;
    const auto decoded = decode_utf8(text);
    const bool ascii = std::ranges::all_of(text, [](char c) { return (c & 0x80) == 0; });
    if (major == 4 && decoded) {
        data.push_back(3);
    } else if (ascii || !decoded) {
        data.push_back(0);
    } else {
        data = {1, 0xFF, 0xFE};
        for (const char16_t unit : utf16_units(*decoded)) {
            data.push_back(static_cast<std::uint8_t>(unit & 0xFF));
            data.push_back(static_cast<std::uint8_t>(unit >> 8));
        }
        return data;
    }
    data.insert(data.end(), text.begin(), text.end());
    return data;
}

}  // namespace

std::vector<std::uint8_t> make_id3v2_tag(const std::string& title, int major,
                                         std::optional<std::size_t> total_length, bool footer,
                                         const std::string& artist, std::size_t picture_bytes) {
    const bool has_footer = footer && major == 4;
    // The frames: a 10-byte frame header each, then its data.
    std::vector<std::uint8_t> body;
    const auto add_frame_data = [&](const char* id, const std::vector<std::uint8_t>& data) {
        std::array<std::uint8_t, 10> frame_header{};
        std::copy_n(id, 4, frame_header.begin());
        const auto size = static_cast<std::uint32_t>(data.size());
        if (major == 4) {
            store_syncsafe(std::span(frame_header).subspan(4, 4), size);
        } else {
            store_be32(std::span(frame_header).subspan(4, 4), size);
        }
        // Sized once: GCC 12 for s390x takes an insert after a push_back
        // here for an overflow.
        const std::size_t at = body.size();
        body.resize(at + frame_header.size() + data.size());
        std::copy(frame_header.begin(), frame_header.end(),
                  body.begin() + static_cast<std::ptrdiff_t>(at));
        std::copy(data.begin(), data.end(), body.begin() + static_cast<std::ptrdiff_t>(at + 10));
    };
    const auto add_frame = [&](const char* id, const std::string& text) {
        add_frame_data(id, text_data(text, major));
    };
    if (picture_bytes > 0) {
        // Latin-1, the MIME type, picture type 3 (front cover), no description.
        const std::string head("\0image/jpeg\0\x03\0", 14);
        std::vector<std::uint8_t> data = pattern_bytes(head.size() + picture_bytes);
        std::copy(head.begin(), head.end(), data.begin());
        add_frame_data("APIC", data);
    }
    add_frame("TIT2", title);
    if (!artist.empty()) {
        add_frame("TPE1", artist);
    }
    const std::size_t fixed = 10 + (has_footer ? 10 : 0);
    if (total_length && *total_length > fixed + body.size()) {
        body.resize(*total_length - fixed, 0);  // padding
    }

    std::vector<std::uint8_t> tag(10 + body.size());
    const std::array<std::uint8_t, 6> start{'I', 'D',
                                            '3', static_cast<std::uint8_t>(major),
                                            0,   static_cast<std::uint8_t>(has_footer ? 0x10 : 0)};
    std::copy(start.begin(), start.end(), tag.begin());
    store_syncsafe(std::span(tag).subspan(6, 4), static_cast<std::uint32_t>(body.size()));
    std::copy(body.begin(), body.end(), tag.begin() + 10);
    if (has_footer) {
        std::array<std::uint8_t, 10> footer_bytes{'3', 'D', 'I'};
        std::copy(tag.begin() + 3, tag.begin() + 10, footer_bytes.begin() + 3);
        tag.insert(tag.end(), footer_bytes.begin(), footer_bytes.end());
    }
    return tag;
}

}  // namespace dsd::testgen
