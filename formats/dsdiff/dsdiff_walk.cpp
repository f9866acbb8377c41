#include "dsdiff.hpp"

#include <array>
#include <optional>
#include <span>

#include "byte_order.hpp"
#include "chunk_id.hpp"

namespace dsd {

namespace {

using Id = ChunkId;

constexpr std::uint64_t chunk_header_size = 12;  // id + 64-bit size

struct ChunkHeader {
    Id id{};
    std::uint64_t body = 0;  // offset of the body
    std::uint64_t size = 0;
    std::uint64_t next = 0;  // offset of the following chunk, past any pad byte
};

enum class Step { ok, malformed, unreadable };

// The chunk at `pos`, which must lie wholly before `end`. Sizes are checked
// against the remaining room before any addition, so no value can wrap.
Step read_chunk_header(const ByteSource& source, std::uint64_t pos, std::uint64_t end,
                       ChunkHeader& chunk) {
    if (pos > end || end - pos < chunk_header_size) {
        return Step::malformed;
    }
    std::array<std::uint8_t, chunk_header_size> raw{};
    if (!source.read_exact(pos, raw)) {
        return Step::unreadable;
    }
    std::copy_n(raw.begin(), 4, chunk.id.begin());
    chunk.body = pos + chunk_header_size;
    chunk.size = load_be64(std::span(raw).subspan(4, 8));
    if (chunk.size > end - chunk.body) {
        return Step::malformed;
    }
    // The pad byte after an odd size may be missing at the very end.
    chunk.next = chunk.body + chunk.size + (chunk.size & 1);
    return Step::ok;
}

DffRateField finding(DffFinding f) {
    return DffRateField{f, 0, 0};
}

DffRateField from_step(Step step) {
    return finding(step == Step::unreadable ? DffFinding::unreadable : DffFinding::not_dff);
}

// The local chunks of a "PROP"/"SND " chunk occupy [begin, end).
DffRateField walk_sound_properties(const ByteSource& source, std::uint64_t begin,
                                   std::uint64_t end) {
    std::optional<std::uint64_t> rate_offset;
    bool dst = false;
    for (std::uint64_t pos = begin; pos < end;) {
        ChunkHeader chunk;
        if (const Step step = read_chunk_header(source, pos, end, chunk); step != Step::ok) {
            return from_step(step);
        }
        if (has_id(chunk.id, "FS  ")) {
            // A second rate chunk would leave the file contradicting itself.
            if (chunk.size != 4 || rate_offset) {
                return finding(DffFinding::not_dff);
            }
            rate_offset = chunk.body;
        } else if (has_id(chunk.id, "CMPR")) {
            if (chunk.size < 4) {
                return finding(DffFinding::not_dff);
            }
            Id type{};
            if (!source.read_exact(chunk.body, type)) {
                return finding(DffFinding::unreadable);
            }
            // Any compression type but plain DSD, wherever it stands.
            dst = dst || !has_id(type, "DSD ");
        }
        pos = chunk.next;
    }
    if (!rate_offset) {
        return finding(DffFinding::not_dff);
    }
    if (dst) {
        return finding(DffFinding::dst_compressed);
    }
    std::array<std::uint8_t, 4> value{};
    if (!source.read_exact(*rate_offset, value)) {
        return finding(DffFinding::unreadable);
    }
    return DffRateField{DffFinding::found, *rate_offset, load_be32(value)};
}

}  // namespace

DffRateField locate_dff_rate_field(const ByteSource& source) {
    constexpr std::uint64_t form_header_size = 16;  // "FRM8", size, form type
    if (source.size < form_header_size) {
        return finding(DffFinding::not_dff);
    }
    std::array<std::uint8_t, form_header_size> form{};
    if (!source.read_exact(0, form)) {
        return finding(DffFinding::unreadable);
    }
    const std::uint64_t form_size = load_be64(std::span(form).subspan(4, 8));
    if (!has_id(form, "FRM8") || !has_id(std::span(form).subspan(12), "DSD ") || form_size < 4 ||
        form_size > source.size - 12) {
        // A form that runs past the end is a truncated file; one still at
        // size 0 was never finished.
        return finding(DffFinding::not_dff);
    }
    const std::uint64_t form_end = 12 + form_size;
    std::optional<DffRateField> properties;
    for (std::uint64_t pos = form_header_size; pos < form_end;) {
        ChunkHeader chunk;
        if (const Step step = read_chunk_header(source, pos, form_end, chunk); step != Step::ok) {
            // Past the properties the walk only looks for compressed sound.
            if (properties && step == Step::malformed) {
                break;
            }
            return from_step(step);
        }
        if (has_id(chunk.id, "DST ")) {
            return finding(DffFinding::dst_compressed);
        }
        if (has_id(chunk.id, "PROP") && chunk.size >= 4 && !properties) {
            Id type{};
            if (!source.read_exact(chunk.body, type)) {
                return finding(DffFinding::unreadable);
            }
            if (has_id(type, "SND ")) {
                properties = walk_sound_properties(source, chunk.body + 4, chunk.body + chunk.size);
                if (properties->finding == DffFinding::unreadable) {
                    return *properties;
                }
            }
        }
        pos = chunk.next;
    }
    return properties.value_or(finding(DffFinding::not_dff));
}

}  // namespace dsd
