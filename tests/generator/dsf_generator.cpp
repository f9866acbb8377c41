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
#include <span>

#include "byte_order.hpp"
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

std::vector<std::uint8_t> make_id3v2_tag(const std::string& title, int major,
                                         std::optional<std::size_t> total_length, bool footer) {
    const bool has_footer = footer && major == 4;
    // One TIT2 frame: 10-byte frame header, encoding byte, the text.
    // Sized once: GCC 12 for s390x takes an insert after a push_back here
    // for an overflow.
    std::vector<std::uint8_t> body(11 + title.size());
    std::copy_n("TIT2", 4, body.begin());
    body[10] = major == 4 ? 3 : 0;  // UTF-8 in 2.4, Latin-1 in 2.3
    std::copy(title.begin(), title.end(), body.begin() + 11);
    const auto frame_size = static_cast<std::uint32_t>(body.size() - 10);
    if (major == 4) {
        store_syncsafe(std::span(body).subspan(4, 4), frame_size);
    } else {
        store_be32(std::span(body).subspan(4, 4), frame_size);
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
