#include "wav.hpp"

#include <algorithm>
#include <array>
#include <optional>
#include <span>

#include "byte_order.hpp"
#include "chunk_id.hpp"

namespace dsd {

namespace {

constexpr std::uint64_t chunk_header_size = 8;  // id + 32-bit size
constexpr std::uint32_t size_in_ds64 = 0xFFFFFFFF;

constexpr std::uint16_t tag_pcm = 1;
constexpr std::uint16_t tag_float = 3;
constexpr std::uint16_t tag_alaw = 6;
constexpr std::uint16_t tag_mulaw = 7;
constexpr std::uint16_t tag_extensible = 0xFFFE;

// KSDATAFORMAT_SUBTYPE_PCM, _IEEE_FLOAT, _ALAW, _MULAW as stored: the format
// code (LE32), then this fixed tail.
constexpr std::array<std::uint8_t, 12> subformat_tail = {0x00, 0x00, 0x10, 0x00, 0x80, 0x00,
                                                         0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

// Where the 64-bit sizes of an RF64/BW64 file are: the ds64 body.
struct Ds64 {
    std::uint64_t body = 0;
    std::uint64_t size = 0;
};

WavFormatFields finding(WavFinding f) {
    return WavFormatFields{.finding = f};
}

enum class Lookup { found, absent, unreadable };

// The real size of a chunk whose 32-bit size says "see ds64": the data size
// for "data", otherwise the chunk's entry in the ds64 table.
Lookup ds64_size(const ByteSource& source, const Ds64& ds64, std::span<const std::uint8_t> id,
                 std::uint64_t& size) {
    constexpr std::uint64_t fixed_part = 28;  // riff, data, sample count, table length
    constexpr std::uint64_t entry_size = 12;  // id + 64-bit size
    if (ds64.size < 16) {
        return Lookup::absent;
    }
    if (has_id(id, "data")) {
        std::array<std::uint8_t, 8> raw{};
        if (!source.read_exact(ds64.body + 8, raw)) {
            return Lookup::unreadable;
        }
        size = load_le64(raw);
        return Lookup::found;
    }
    if (ds64.size < fixed_part) {
        return Lookup::absent;
    }
    std::array<std::uint8_t, 4> count_raw{};
    if (!source.read_exact(ds64.body + 24, count_raw)) {
        return Lookup::unreadable;
    }
    // The table length is untrusted; only entries inside the chunk count.
    const std::uint64_t room = (ds64.size - fixed_part) / entry_size;
    const std::uint64_t count = std::min<std::uint64_t>(load_le32(count_raw), room);
    for (std::uint64_t i = 0; i < count; ++i) {
        std::array<std::uint8_t, entry_size> entry{};
        if (!source.read_exact(ds64.body + fixed_part + i * entry_size, entry)) {
            return Lookup::unreadable;
        }
        if (std::ranges::equal(std::span(entry).first(4), id.first(4))) {
            size = load_le64(std::span(entry).subspan(4, 8));
            return Lookup::found;
        }
    }
    return Lookup::absent;
}

// Formats whose byte rate is the rate times the block align: one frame of
// fixed size per sample period.
bool is_frame_format(std::uint32_t code) {
    return code == tag_pcm || code == tag_float || code == tag_alaw || code == tag_mulaw;
}

bool is_pcm_subformat(std::span<const std::uint8_t> guid) {
    return is_frame_format(load_le32(guid.first(4))) &&
           std::ranges::equal(guid.subspan(4, subformat_tail.size()), subformat_tail);
}

// The "fmt " chunk whose body of `size` bytes starts at `body`.
WavFormatFields read_format(const ByteSource& source, std::uint64_t body, std::uint64_t size) {
    constexpr std::uint64_t basic_size = 16;
    constexpr std::uint64_t extensible_size = 40;
    if (size < basic_size) {
        return finding(WavFinding::not_wav);
    }
    std::array<std::uint8_t, extensible_size> fmt{};
    const auto wanted = std::span(fmt).first(std::min(size, extensible_size));
    if (!source.read_exact(body, wanted)) {
        return finding(WavFinding::unreadable);
    }
    const std::uint16_t channels = load_le16(std::span(fmt).subspan(2, 2));
    const std::uint16_t block_align = load_le16(std::span(fmt).subspan(12, 2));
    if (channels == 0 || block_align == 0) {
        return finding(WavFinding::not_wav);
    }
    const std::uint16_t tag = load_le16(fmt);
    bool pcm = is_frame_format(tag);
    if (tag == tag_extensible) {
        pcm = size >= extensible_size && is_pcm_subformat(std::span(fmt).subspan(24, 16));
    }
    if (!pcm) {
        return finding(WavFinding::not_pcm);
    }
    return WavFormatFields{.finding = WavFinding::found,
                           .rate_offset = body + 4,
                           .format_tag = tag,
                           .sample_rate = load_le32(std::span(fmt).subspan(4, 4)),
                           .byte_rate = load_le32(std::span(fmt).subspan(8, 4)),
                           .block_align = block_align};
}

}  // namespace

WavFormatFields locate_wav_format(const ByteSource& source) {
    constexpr std::uint64_t riff_header_size = 12;
    if (source.size < riff_header_size) {
        return finding(WavFinding::not_wav);
    }
    std::array<std::uint8_t, riff_header_size> riff{};
    if (!source.read_exact(0, riff)) {
        return finding(WavFinding::unreadable);
    }
    const bool rf64 = has_id(riff, "RF64") || has_id(riff, "BW64");
    if (!(rf64 || has_id(riff, "RIFF")) || !has_id(std::span(riff).subspan(8), "WAVE")) {
        return finding(WavFinding::not_wav);
    }

    const std::uint64_t end = source.size;
    std::optional<Ds64> ds64;
    for (std::uint64_t pos = riff_header_size; pos < end && end - pos >= chunk_header_size;) {
        std::array<std::uint8_t, chunk_header_size> header{};
        if (!source.read_exact(pos, header)) {
            return finding(WavFinding::unreadable);
        }
        const auto id = std::span(header).first(4);
        const std::uint64_t body = pos + chunk_header_size;
        std::uint64_t size = load_le32(std::span(header).subspan(4, 4));
        if (rf64 && size == size_in_ds64 && ds64) {
            if (ds64_size(source, *ds64, id, size) == Lookup::unreadable) {
                return finding(WavFinding::unreadable);
            }
        }
        if (size > end - body) {
            // Runs past the end of the file: nothing after it can be found.
            break;
        }
        if (has_id(id, "fmt ")) {
            return read_format(source, body, size);
        }
        if (rf64 && has_id(id, "ds64") && !ds64) {
            ds64 = Ds64{body, size};
        }
        pos = body + size + (size & 1);
    }
    return finding(WavFinding::not_wav);
}

}  // namespace dsd
