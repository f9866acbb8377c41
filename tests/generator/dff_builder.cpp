#include "dff_builder.hpp"

#include <array>

#include "byte_order.hpp"

namespace dsd::testgen {

// Byte by byte: GCC 12 misreports range inserts of small arrays as overflows.
void append(Bytes& out, std::string_view text) {
    for (const char c : text) {
        out.push_back(static_cast<std::uint8_t>(c));
    }
}

void append(Bytes& out, const Bytes& bytes) {
    for (const std::uint8_t b : bytes) {
        out.push_back(b);
    }
}

void append_be64(Bytes& out, std::uint64_t value) {
    std::array<std::uint8_t, 8> raw{};
    store_be64(raw, value);
    for (const std::uint8_t b : raw) {
        out.push_back(b);
    }
}

void append_be16(Bytes& out, std::uint16_t value) {
    out.push_back(static_cast<std::uint8_t>(value >> 8));
    out.push_back(static_cast<std::uint8_t>(value));
}

void append_be32(Bytes& out, std::uint32_t value) {
    std::array<std::uint8_t, 4> raw{};
    store_be32(raw, value);
    for (const std::uint8_t b : raw) {
        out.push_back(b);
    }
}

Bytes dff_chunk(std::string_view id, const Bytes& body,
                std::optional<std::uint64_t> declared_size) {
    Bytes out;
    append(out, id);
    append_be64(out, declared_size.value_or(body.size()));
    append(out, body);
    if (body.size() % 2 != 0) {
        out.push_back(0);
    }
    return out;
}

Bytes dff_form(const std::vector<Bytes>& chunks, std::optional<std::uint64_t> declared_size,
               std::string_view form_type) {
    Bytes contents;
    append(contents, form_type);
    for (const auto& chunk : chunks) {
        append(contents, chunk);
    }
    Bytes out;
    append(out, "FRM8");
    append_be64(out, declared_size.value_or(contents.size()));
    append(out, contents);
    return out;
}

Bytes dff_prop(const std::vector<Bytes>& local_chunks, std::string_view prop_type) {
    Bytes body;
    append(body, prop_type);
    for (const auto& chunk : local_chunks) {
        append(body, chunk);
    }
    return dff_chunk("PROP", body);
}

Bytes dff_fver() {
    return dff_chunk("FVER", {0x01, 0x04, 0x00, 0x00});
}

Bytes dff_fs(std::uint32_t rate) {
    Bytes body;
    append_be32(body, rate);
    return dff_chunk("FS  ", body);
}

Bytes dff_chnl_stereo() {
    Bytes body{0x00, 0x02};
    append(body, "SLFT");
    append(body, "SRGT");
    return dff_chunk("CHNL", body);
}

Bytes dff_chnl(const std::vector<std::string_view>& ids) {
    Bytes body{static_cast<std::uint8_t>(ids.size() >> 8), static_cast<std::uint8_t>(ids.size())};
    for (const auto id : ids) {
        append(body, id);
        for (std::size_t i = id.size(); i < 4; ++i) {
            body.push_back(' ');
        }
    }
    return dff_chunk("CHNL", body);
}

Bytes dff_file(std::uint32_t rate, const std::vector<std::string_view>& ids, const Bytes& sound,
               const std::optional<Bytes>& tag, bool tag_first) {
    std::vector<Bytes> chunks{
        dff_fver(), dff_prop({dff_fs(rate), dff_chnl(ids), dff_cmpr("DSD ", "not compressed")})};
    if (tag && tag_first) {
        chunks.push_back(dff_chunk("ID3 ", *tag));
    }
    chunks.push_back(dff_chunk("DSD ", sound));
    if (tag && !tag_first) {
        chunks.push_back(dff_chunk("ID3 ", *tag));
    }
    return dff_form(chunks);
}

Bytes dff_cmpr(std::string_view type, std::string_view name) {
    Bytes body;
    append(body, type);
    body.push_back(static_cast<std::uint8_t>(name.size()));
    append(body, name);
    // The pad of the name's pascal string is part of the chunk.
    if ((1 + name.size()) % 2 != 0) {
        body.push_back(0);
    }
    return dff_chunk("CMPR", body);
}

Bytes converter_dff_header(std::uint32_t rate, std::uint64_t sound_bytes) {
    Bytes sound_header;
    append(sound_header, "DSD ");
    append_be64(sound_header, sound_bytes);
    const Bytes prop =
        dff_prop({dff_fs(rate), dff_chnl_stereo(), dff_cmpr("DSD ", "not compressed")});
    // The form size counts the sound data that follows the header.
    const Bytes form_start = dff_form({dff_fver(), prop});
    Bytes out =
        dff_form({dff_fver(), prop}, form_start.size() - 12 + sound_header.size() + sound_bytes);
    append(out, sound_header);
    return out;
}

Bytes converter_dff_file(std::uint32_t rate, const Bytes& sound) {
    Bytes out = converter_dff_header(rate, sound.size());
    append(out, sound);
    return out;
}

Bytes pattern_bytes(std::size_t count, std::uint8_t seed) {
    Bytes out(count);
    for (std::size_t i = 0; i < count; ++i) {
        out[i] = static_cast<std::uint8_t>(seed + 37 * i) | 0x01;
    }
    return out;
}

}  // namespace dsd::testgen
