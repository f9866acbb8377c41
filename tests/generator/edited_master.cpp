#include "edited_master.hpp"

#include "dsf_generator.hpp"

namespace dsd::testgen {
namespace {

void append_timecode(Bytes& out, const Timecode& t) {
    append_be16(out, t.hours);
    out.push_back(t.minutes);
    out.push_back(t.seconds);
    append_be32(out, t.samples);
}

}  // namespace

Bytes dff_abss(const Timecode& t) {
    Bytes body;
    append_timecode(body, t);
    return dff_chunk("ABSS", body);
}

Bytes dff_mark(const Timecode& time, std::int32_t offset, std::uint16_t type, std::uint16_t channel,
               std::string_view text, std::optional<std::uint32_t> count) {
    Bytes body;
    append_timecode(body, time);
    append_be32(body, static_cast<std::uint32_t>(offset));
    append_be16(body, type);
    append_be16(body, channel);
    append_be16(body, 0);
    append_be32(body, count.value_or(static_cast<std::uint32_t>(text.size())));
    append(body, text);
    return dff_chunk("MARK", body);
}

Bytes dff_text_chunk(std::string_view id, std::string_view text) {
    Bytes body;
    append_be32(body, static_cast<std::uint32_t>(text.size()));
    append(body, text);
    return dff_chunk(id, body);
}

Timecode marker_time(const EditedMaster& master, const Marker& marker) {
    const std::int64_t fs = master.rate;
    const Timecode s = master.start.value_or(Timecode{});
    const std::int64_t start =
        (3600 * std::int64_t{s.hours} + 60 * s.minutes + s.seconds) * fs + s.samples;
    const std::int64_t at = start + marker.position - marker.offset;
    const std::int64_t seconds = at / fs;
    return {static_cast<std::uint16_t>(seconds / 3600),
            static_cast<std::uint8_t>(seconds / 60 % 60), static_cast<std::uint8_t>(seconds % 60),
            static_cast<std::uint32_t>(at % fs)};
}

Bytes edited_master_diin(const EditedMaster& master) {
    Bytes body;
    const auto add = [&](const Bytes& chunk) {
        body.insert(body.end(), chunk.begin(), chunk.end());
    };
    if (master.master_id) {
        Bytes id;
        append(id, *master.master_id);
        add(dff_chunk("EMID", id));
    }
    if (master.artist) {
        add(dff_text_chunk("DIAR", *master.artist));
    }
    if (master.title) {
        add(dff_text_chunk("DITI", *master.title));
    }
    for (const Marker& m : master.markers) {
        add(dff_mark(marker_time(master, m), m.offset, m.type, m.channel, m.text));
    }
    return dff_chunk("DIIN", body);
}

Bytes edited_master_file(const EditedMaster& master, const Bytes& sound) {
    std::vector<Bytes> props{dff_fs(master.rate), dff_chnl(master.channel_ids),
                             dff_cmpr("DSD ", "not compressed")};
    if (master.start) {
        props.push_back(dff_abss(*master.start));
    }
    std::vector<Bytes> chunks{dff_fver(), dff_prop(props), edited_master_diin(master),
                              dff_chunk("DSD ", sound)};
    for (const Bytes& tag : master.tags) {
        chunks.push_back(dff_chunk("ID3 ", tag));
    }
    return dff_form(chunks);
}

std::string utf16_cue_text(const std::string& utf8, bool big_endian) {
    std::string out = big_endian ? "\xFE\xFF" : "\xFF\xFE";
    for (const char16_t unit : utf16_units(decode_utf8(utf8).value_or(U""))) {
        const auto high = static_cast<char>(unit >> 8);
        const auto low = static_cast<char>(unit & 0xFF);
        out += big_endian ? std::string{high, low} : std::string{low, high};
    }
    return out;
}

}  // namespace dsd::testgen
