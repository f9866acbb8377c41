#include "wav_builder.hpp"

#include <array>

#include "byte_order.hpp"

namespace dsd::testgen {

namespace {

// Byte by byte: GCC 12 misreports range inserts of small arrays as overflows.
void append(Bytes& out, std::string_view text) {
    for (const char c : text) {
        out.push_back(static_cast<std::uint8_t>(c));
    }
}

void append_le16(Bytes& out, std::uint16_t value) {
    std::array<std::uint8_t, 2> raw{};
    store_le16(raw, value);
    for (const std::uint8_t b : raw) {
        out.push_back(b);
    }
}

void append_le32(Bytes& out, std::uint32_t value) {
    std::array<std::uint8_t, 4> raw{};
    store_le32(raw, value);
    for (const std::uint8_t b : raw) {
        out.push_back(b);
    }
}

void append_le64(Bytes& out, std::uint64_t value) {
    std::array<std::uint8_t, 8> raw{};
    store_le64(raw, value);
    for (const std::uint8_t b : raw) {
        out.push_back(b);
    }
}

}  // namespace

Bytes riff_chunk(std::string_view id, const Bytes& body,
                 std::optional<std::uint32_t> declared_size) {
    Bytes out;
    append(out, id);
    append_le32(out, declared_size.value_or(static_cast<std::uint32_t>(body.size())));
    out.insert(out.end(), body.begin(), body.end());
    if (body.size() % 2 != 0) {
        out.push_back(0);
    }
    return out;
}

Bytes wav_file(const std::vector<Bytes>& chunks, std::string_view form,
               std::optional<std::uint32_t> declared_size) {
    Bytes contents;
    append(contents, "WAVE");
    for (const auto& chunk : chunks) {
        contents.insert(contents.end(), chunk.begin(), chunk.end());
    }
    Bytes out;
    append(out, form);
    append_le32(out, declared_size.value_or(static_cast<std::uint32_t>(contents.size())));
    out.insert(out.end(), contents.begin(), contents.end());
    return out;
}

Bytes fmt_body(const WavFormat& format) {
    const auto block_align = static_cast<std::uint16_t>(format.channels * (format.bits / 8));
    Bytes out;
    append_le16(out, format.tag);
    append_le16(out, format.channels);
    append_le32(out, format.rate);
    append_le32(out, format.rate * block_align);
    append_le16(out, block_align);
    append_le16(out, format.bits);
    return out;
}

Bytes fmt_extensible_body(const WavFormat& format, std::uint32_t subformat_code,
                          const std::optional<Bytes>& guid) {
    WavFormat basic = format;
    basic.tag = 0xFFFE;
    Bytes out = fmt_body(basic);
    append_le16(out, 22);           // extension size
    append_le16(out, format.bits);  // valid bits
    append_le32(out, 0x3);          // channel mask: front left, front right
    if (guid) {
        out.insert(out.end(), guid->begin(), guid->end());
    } else {
        append_le32(out, subformat_code);
        for (std::uint8_t b :
             {0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}) {
            out.push_back(b);
        }
    }
    return out;
}

Bytes ds64_body(std::uint64_t riff_size, std::uint64_t data_size, std::uint64_t sample_count,
                const std::vector<std::pair<std::string, std::uint64_t>>& table) {
    Bytes out;
    append_le64(out, riff_size);
    append_le64(out, data_size);
    append_le64(out, sample_count);
    append_le32(out, static_cast<std::uint32_t>(table.size()));
    for (const auto& [id, size] : table) {
        append(out, id);
        append_le64(out, size);
    }
    return out;
}

Bytes canonical_wav(const WavFormat& format, const Bytes& samples) {
    return wav_file({riff_chunk("fmt ", fmt_body(format)), riff_chunk("data", samples)});
}

}  // namespace dsd::testgen
