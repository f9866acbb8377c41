#include "dst_file.hpp"

#include <sstream>
#include <stdexcept>

namespace dsd::testgen {

namespace {

// A chunk's id and size, its data to follow.
Bytes chunk_header(std::string_view id, std::uint64_t size) {
    return dff_chunk(id, {}, size);
}

bool put(std::ostream& out, const Bytes& bytes) {
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

// "FRM8" (size to come), "DSD ", "FVER", "PROP" and the chunks before the
// sound, with the given compression.
Bytes file_start(const DstFileSpec& spec, std::string_view type, std::string_view name,
                 std::uint64_t form_size) {
    const auto ids = spec.channel_ids.empty() ? dff_channel_ids(spec.channels) : spec.channel_ids;
    std::vector<Bytes> local{dff_fs(spec.rate), dff_chnl(ids), dff_cmpr(type, name)};
    local.insert(local.end(), spec.prop_chunks.begin(), spec.prop_chunks.end());
    Bytes out = chunk_header("FRM8", form_size);
    append(out, "DSD ");
    append(out, dff_chunk("FVER", {0x01, 0x05, 0x00, 0x00}));
    append(out, dff_prop(local));
    for (const auto& chunk : spec.chunks_before) {
        append(out, chunk);
    }
    return out;
}

std::uint64_t chunks_size(const std::vector<Bytes>& chunks) {
    std::uint64_t size = 0;
    for (const auto& chunk : chunks) {
        size += chunk.size();
    }
    return size;
}

// A check value of a frame's sound for "DSTC" (FNV-1a; readers need not
// verify it).
std::uint32_t check_value(std::span<const std::uint8_t> sound) {
    std::uint32_t h = 2166136261U;
    for (const std::uint8_t b : sound) {
        h = (h ^ b) * 16777619U;
    }
    return h;
}

std::uint64_t mix(std::uint64_t seed, std::uint64_t index) {
    return seed ^ (index + 1) * 0x9E3779B97F4A7C15U;
}

}  // namespace

std::vector<std::string_view> dff_channel_ids(unsigned channels) {
    switch (channels) {
        case 1:
            return {"C   "};
        case 2:
            return {"SLFT", "SRGT"};
        case 3:
            return {"MLFT", "MRGT", "C   "};
        case 4:
            return {"MLFT", "MRGT", "LS  ", "RS  "};
        case 5:
            return {"MLFT", "MRGT", "C   ", "LS  ", "RS  "};
        default:
            return {"MLFT", "MRGT", "C   ", "LFE ", "LS  ", "RS  "};
    }
}

std::uint64_t dst_frame_count(const DstFileSpec& spec, std::uint64_t sound_bytes) {
    const std::uint64_t frame = dst_geometry(spec.channels, spec.rate).sound_bytes();
    if (frame == 0 || sound_bytes % frame != 0) {
        throw std::invalid_argument("DST sound is not whole frames");
    }
    return sound_bytes / frame;
}

bool write_dst_dff(const DstFileSpec& spec, std::uint64_t frames, const DstSoundSource& source,
                   std::ostream& dst, std::ostream* plain, DstFileStats* stats) {
    const DstGeometry geometry = dst_geometry(spec.channels, spec.rate);
    const std::uint64_t sound_bytes = frames * geometry.sound_bytes();
    const std::uint64_t after = chunks_size(spec.chunks_after);
    DstFileStats counted;

    if (plain != nullptr) {
        const Bytes start = file_start(spec, "DSD ", "not compressed", 0);
        const std::uint64_t form_size = start.size() - 12 + 12 + sound_bytes + after;
        if (!put(*plain, file_start(spec, "DSD ", "not compressed", form_size)) ||
            !put(*plain, chunk_header("DSD ", sound_bytes))) {
            return false;
        }
    }
    const std::streamoff origin = dst.tellp();
    if (!put(dst, file_start(spec, "DST ", "DST Encoded", 0))) {
        return false;
    }
    const std::streamoff dst_chunk = dst.tellp();
    Bytes frte_data;
    append_be32(frte_data, spec.frte_count.value_or(static_cast<std::uint32_t>(frames)));
    frte_data.push_back(0);
    frte_data.push_back(75);
    if (!put(dst, chunk_header("DST ", 0)) || !put(dst, dff_chunk("FRTE", frte_data))) {
        return false;
    }
    for (const auto& chunk : spec.dst_chunks) {
        if (!put(dst, chunk)) {
            return false;
        }
    }

    Bytes index;  // the "DSTI" data
    std::vector<std::uint8_t> sound(geometry.sound_bytes());
    for (std::uint64_t i = 0; i < frames; ++i) {
        source(i, sound);
        DstEncoderOptions options = spec.options;
        options.seed = mix(spec.options.seed, i);
        if (spec.frame_options) {
            spec.frame_options(i, options);
        }
        const Bytes frame = encode_dst_frame(sound, geometry, options);
        append_be64(index, static_cast<std::uint64_t>(dst.tellp() - origin));
        append_be32(index, static_cast<std::uint32_t>(frame.size()));
        if (!put(dst, dff_chunk("DSTF", frame))) {
            return false;
        }
        if (spec.dstc) {
            Bytes check;
            append_be32(check, check_value(sound));
            if (!put(dst, dff_chunk("DSTC", check))) {
                return false;
            }
        }
        if (plain != nullptr && !put(*plain, sound)) {
            return false;
        }
        counted.frames += 1;
        counted.stored_frames += !frame.empty() && (frame[0] & 0x80) == 0 ? 1 : 0;
        counted.frame_bytes += frame.size();
        counted.sound_bytes += sound.size();
    }
    const std::streamoff dst_end = dst.tellp();
    if ((spec.dsti && !put(dst, dff_chunk("DSTI", index)))) {
        return false;
    }
    for (const auto& chunk : spec.chunks_after) {
        if (!put(dst, chunk) || (plain != nullptr && !put(*plain, chunk))) {
            return false;
        }
    }
    const std::streamoff end = dst.tellp();
    Bytes size;
    append_be64(size, static_cast<std::uint64_t>(end - origin - 12));
    dst.seekp(origin + 4);
    put(dst, size);
    size.clear();
    append_be64(size, static_cast<std::uint64_t>(dst_end - dst_chunk - 12));
    dst.seekp(dst_chunk + 4);
    put(dst, size);
    dst.seekp(end);
    if (stats != nullptr) {
        *stats = counted;
    }
    return dst.flush() && (plain == nullptr || plain->flush());
}

Bytes dst_dff_file(const DstFileSpec& spec, std::span<const std::uint8_t> sound,
                   DstFileStats* stats) {
    const std::uint64_t frames = dst_frame_count(spec, sound.size());
    const std::size_t frame_bytes = sound.size() / (frames == 0 ? 1 : frames);
    std::ostringstream out;
    write_dst_dff(
        spec, frames,
        [&](std::uint64_t i, std::span<std::uint8_t> frame) {
            const auto part = sound.subspan(i * frame_bytes, frame_bytes);
            std::copy(part.begin(), part.end(), frame.begin());
        },
        out, nullptr, stats);
    const std::string text = out.str();
    return {text.begin(), text.end()};
}

Bytes plain_dff_file(const DstFileSpec& spec, std::span<const std::uint8_t> sound) {
    dst_frame_count(spec, sound.size());
    const Bytes start = file_start(spec, "DSD ", "not compressed", 0);
    Bytes out = file_start(spec, "DSD ", "not compressed",
                           start.size() + sound.size() + chunks_size(spec.chunks_after));
    append(out, chunk_header("DSD ", sound.size()));
    out.insert(out.end(), sound.begin(), sound.end());
    for (const auto& chunk : spec.chunks_after) {
        append(out, chunk);
    }
    return out;
}

}  // namespace dsd::testgen
