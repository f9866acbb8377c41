#include <algorithm>
#include <array>
#include <span>
#include <string>
#include <utility>

#include "byte_order.hpp"
#include "chunk_id.hpp"
#include "dsdiff.hpp"

namespace dsd {

namespace {

constexpr std::uint64_t chunk_header_size = 12;  // id + 64-bit size
constexpr std::uint64_t form_header_size = 16;   // "FRM8", size, form type
// Reads of the "DST " chunk: headers only while walking it (frames are a
// few KiB apart, so a window holds the next header or two), whole frames
// while decoding.
constexpr std::size_t dst_walk_window = 4096;
constexpr std::size_t dst_frame_window = std::size_t{1} << 20;

struct ChunkHeader {
    ChunkId id{};
    std::uint64_t offset = 0;
    std::uint64_t body = 0;
    std::uint64_t size = 0;
    std::uint64_t next = 0;  // the following chunk, past any pad byte
};

// One walk over one source; every step records its failure in `result` and
// returns false, so the walk stops at the first one.
class Walker {
  public:
    explicit Walker(const ByteSource& source) : source_(source) {}

    DffWalk run() {
        if (read_form()) {
            walk_form();
        }
        return result_;
    }

    DffDstWalk walk_dst(const DffChunkSpan& span) {
        WindowedReader window(source_, span.offset + span.size, dst_walk_window);
        window_ = &window;
        DffDstWalk dst;
        walk_dst_chunks(span.offset, span.offset + span.size, dst);
        window_ = nullptr;
        dst.error = result_.error;
        dst.error_id = result_.error_id;
        dst.error_id_length = result_.error_id_length;
        dst.error_offset = result_.error_offset;
        dst.error_size = result_.error_size;
        return dst;
    }

    DffDiin read_diin(const DffChunkSpan& span) {
        DffDiin diin;
        walk_diin(span.offset, span.offset + span.size, diin);
        diin.error = result_.error;
        diin.error_id = result_.error_id;
        diin.error_id_length = result_.error_id_length;
        diin.error_offset = result_.error_offset;
        diin.error_size = result_.error_size;
        return diin;
    }

  private:
    bool fail(DffWalkError error, const ChunkId& id, std::uint64_t offset, std::uint64_t size = 0,
              std::size_t id_length = 4) {
        result_.error = error;
        result_.error_id = id;
        result_.error_id_length = id_length;
        result_.error_offset = offset;
        result_.error_size = size;
        return false;
    }

    bool read(std::uint64_t offset, std::span<std::uint8_t> out) {
        const bool ok =
            window_ != nullptr ? window_->read_exact(offset, out) : source_.read_exact(offset, out);
        return ok || fail(DffWalkError::unreadable, {}, offset);
    }

    bool read_form() {
        std::array<std::uint8_t, form_header_size> form{};
        const auto present = static_cast<std::size_t>(std::min<std::uint64_t>(source_.size, 16));
        if (!read(0, std::span(form).first(present))) {
            return false;
        }
        ChunkId first{};
        std::copy_n(form.begin(), std::min<std::size_t>(present, 4), first.begin());
        if (present < form_header_size || !has_id(form, "FRM8")) {
            const std::size_t id_length = std::min<std::size_t>(present, 4);
            return fail(DffWalkError::not_dsdiff, first, 0, id_length, id_length);
        }
        const auto type = std::span(form).subspan(12);
        if (!has_id(type, "DSD ")) {
            ChunkId form_type{};
            std::copy_n(type.begin(), 4, form_type.begin());
            return fail(DffWalkError::not_dsdiff, form_type, 12, 4);
        }
        const std::uint64_t size = load_be64(std::span(form).subspan(4, 8));
        // A form still at size 0 was never finished.
        if (size < 4) {
            return fail(DffWalkError::wrong_chunk_size, first, 0, size);
        }
        if (size > source_.size - chunk_header_size) {
            return fail(DffWalkError::past_end_of_file, first, 0, size);
        }
        form_end_ = chunk_header_size + size;
        return true;
    }

    // The chunk at `pos`, which must lie wholly before `end`. Sizes are
    // checked against the remaining room before any addition, so no value
    // can wrap.
    bool read_chunk(std::uint64_t pos, std::uint64_t end, ChunkHeader& chunk) {
        chunk.offset = pos;
        const std::uint64_t room = end - pos;
        if (room < chunk_header_size) {
            // Too little left for a header: name what there is of its id.
            const auto id_bytes = static_cast<std::size_t>(std::min<std::uint64_t>(room, 4));
            if (!read(pos, std::span(chunk.id).first(id_bytes))) {
                return false;
            }
            return fail(
                end == source_.size ? DffWalkError::past_end_of_file : DffWalkError::past_parent,
                chunk.id, pos, 0, id_bytes);
        }
        std::array<std::uint8_t, chunk_header_size> raw{};
        if (!read(pos, raw)) {
            return false;
        }
        std::copy_n(raw.begin(), 4, chunk.id.begin());
        chunk.body = pos + chunk_header_size;
        chunk.size = load_be64(std::span(raw).subspan(4, 8));
        if (chunk.size > end - chunk.body) {
            const bool past_file = chunk.size > source_.size - chunk.body;
            return fail(past_file ? DffWalkError::past_end_of_file : DffWalkError::past_parent,
                        chunk.id, pos, chunk.size);
        }
        // The pad byte after an odd size may be missing at the very end.
        chunk.next = chunk.body + chunk.size + (chunk.size & 1);
        return true;
    }

    bool once(bool& seen, const ChunkHeader& chunk) {
        if (seen) {
            return fail(DffWalkError::second_chunk, chunk.id, chunk.offset, chunk.size);
        }
        seen = true;
        return true;
    }

    bool at_least(const ChunkHeader& chunk, std::uint64_t size) {
        return chunk.size >= size ||
               fail(DffWalkError::wrong_chunk_size, chunk.id, chunk.offset, chunk.size);
    }

    void walk_form() {
        bool seen_sound = false;
        for (std::uint64_t pos = form_header_size; pos < form_end_;) {
            ChunkHeader chunk;
            if (!read_chunk(pos, form_end_, chunk)) {
                return;
            }
            if (has_id(chunk.id, "PROP") && chunk.size >= 4) {
                ChunkId type{};
                if (!read(chunk.body, type)) {
                    return;
                }
                // Properties of other kinds are skipped like any chunk.
                if (has_id(type, "SND ")) {
                    if (!once(result_.has_sound_properties, chunk) ||
                        !walk_sound_properties(chunk.body + 4, chunk.body + chunk.size)) {
                        return;
                    }
                }
            } else if (has_id(chunk.id, "DSD ") || has_id(chunk.id, "DST ")) {
                result_.dst_met = result_.dst_met || has_id(chunk.id, "DST ");
                if (!once(seen_sound, chunk)) {
                    return;
                }
                result_.sound = DffChunkSpan{chunk.body, chunk.size};
                result_.sound_is_dst = has_id(chunk.id, "DST ");
            } else if (has_id(chunk.id, "ID3 ")) {
                const DffChunkSpan tag{chunk.body, chunk.size};
                if (!result_.id3) {
                    result_.id3 = tag;
                }
                if (result_.tag_chunks.size() < dff_max_kept_tag_chunks) {
                    result_.tag_chunks.push_back(tag);
                }
                ++result_.tag_chunk_count;
            } else if (has_id(chunk.id, "DIIN") && !result_.diin) {
                result_.diin = DffChunkSpan{chunk.body, chunk.size};
            }
            pos = chunk.next;
        }
    }

    // The local chunks of a "PROP"/"SND " chunk occupy [begin, end).
    bool walk_sound_properties(std::uint64_t begin, std::uint64_t end) {
        bool seen_rate = false;
        for (std::uint64_t pos = begin; pos < end;) {
            ChunkHeader chunk;
            if (!read_chunk(pos, end, chunk)) {
                return false;
            }
            if (has_id(chunk.id, "FS  ")) {
                std::array<std::uint8_t, 4> value{};
                if (!once(seen_rate, chunk)) {
                    return false;
                }
                if (chunk.size != 4) {
                    return fail(DffWalkError::wrong_chunk_size, chunk.id, pos, chunk.size);
                }
                if (!read(chunk.body, value)) {
                    return false;
                }
                result_.rate_offset = chunk.body;
                result_.rate = load_be32(value);
            } else if (has_id(chunk.id, "CHNL")) {
                if (!once(result_.has_channels, chunk) || !read_channels(chunk)) {
                    return false;
                }
            } else if (has_id(chunk.id, "ABSS") && !result_.start_time) {
                result_.start_time = DffChunkSpan{chunk.body, chunk.size};
            } else if (has_id(chunk.id, "CMPR")) {
                ChunkId type{};
                if (!at_least(chunk, 4) || !read(chunk.body, type)) {
                    return false;
                }
                if (!has_id(type, "DSD ") && !result_.compression) {
                    result_.compression = type;
                }
            }
            pos = chunk.next;
        }
        return true;
    }

    bool read_channels(const ChunkHeader& chunk) {
        std::array<std::uint8_t, 2> count{};
        if (!at_least(chunk, 2) || !read(chunk.body, count)) {
            return false;
        }
        const std::uint16_t n = static_cast<std::uint16_t>(count[0] << 8 | count[1]);
        if (!at_least(chunk, 2 + 4 * std::uint64_t{n})) {
            return false;
        }
        result_.channel_count = n;
        if (n <= dff_max_kept_channel_ids) {
            std::array<std::uint8_t, 4 * dff_max_kept_channel_ids> ids{};
            if (!read(chunk.body + 2, std::span(ids).first(4 * std::size_t{n}))) {
                return false;
            }
            for (std::size_t i = 0; i < n; ++i) {
                std::copy_n(ids.begin() + static_cast<std::ptrdiff_t>(4 * i), 4,
                            result_.channel_ids[i].begin());
            }
        }
        return true;
    }

    // The local chunks of a "DST " chunk occupy [begin, end).
    void walk_dst_chunks(std::uint64_t begin, std::uint64_t end, DffDstWalk& dst) {
        for (std::uint64_t pos = begin; pos < end;) {
            ChunkHeader chunk;
            if (!read_chunk(pos, end, chunk)) {
                return;
            }
            if (has_id(chunk.id, "DSTF")) {
                ++dst.frames;
            } else if (has_id(chunk.id, "FRTE")) {
                std::array<std::uint8_t, 6> table{};
                if (!once(dst.has_frame_table, chunk) || !at_least(chunk, table.size()) ||
                    !read(chunk.body, table)) {
                    return;
                }
                dst.frame_count = load_be32(table);
                dst.frame_rate = static_cast<std::uint16_t>(table[4] << 8 | table[5]);
            }
            pos = chunk.next;
        }
    }

    // The local chunks of a "DIIN" chunk occupy [begin, end).
    void walk_diin(std::uint64_t begin, std::uint64_t end, DffDiin& diin) {
        for (std::uint64_t pos = begin; pos < end;) {
            ChunkHeader chunk;
            if (!read_chunk(pos, end, chunk)) {
                return;
            }
            const bool artist = has_id(chunk.id, "DIAR");
            if (artist || has_id(chunk.id, "DITI")) {
                auto& text = artist ? diin.artist : diin.title;
                if (!text && !read_text(chunk, 0, text)) {
                    return;
                }
            } else if (has_id(chunk.id, "EMID") && !diin.master_id) {
                if (chunk.size <= dff_max_text_length) {
                    std::string bytes(static_cast<std::size_t>(chunk.size), '\0');
                    if (!read(chunk.body, as_bytes(bytes))) {
                        return;
                    }
                    diin.master_id = std::move(bytes);
                }
            } else if (has_id(chunk.id, "MARK") && !read_marker(chunk, diin.markers)) {
                return;
            }
            pos = chunk.next;
        }
    }

    static std::span<std::uint8_t> as_bytes(std::string& text) {
        return {reinterpret_cast<std::uint8_t*>(text.data()), text.size()};
    }

    // A count (u32) `count_at` bytes into the chunk, and that many bytes of
    // text after it.
    bool read_text(const ChunkHeader& chunk, std::uint64_t count_at,
                   std::optional<std::string>& text) {
        std::array<std::uint8_t, 4> count_bytes{};
        if (!at_least(chunk, count_at + count_bytes.size()) ||
            !read(chunk.body + count_at, count_bytes)) {
            return false;
        }
        const std::uint32_t count = load_be32(count_bytes);
        if (!at_least(chunk, count_at + 4 + std::uint64_t{count})) {
            return false;
        }
        if (count > dff_max_text_length) {
            return true;
        }
        std::string bytes(count, '\0');
        if (!read(chunk.body + count_at + 4, as_bytes(bytes))) {
            return false;
        }
        text = std::move(bytes);
        return true;
    }

    bool read_marker(const ChunkHeader& chunk, std::vector<DffMarker>& markers) {
        std::array<std::uint8_t, dff_marker_fields_size> fields{};
        if (!at_least(chunk, fields.size()) || !read(chunk.body, fields)) {
            return false;
        }
        const std::span<const std::uint8_t> f(fields);
        DffMarker marker;
        marker.time = parse_dff_timecode(f);
        marker.offset = static_cast<std::int32_t>(load_be32(f.subspan(8)));
        marker.type = load_be16(f.subspan(12));
        marker.channel = load_be16(f.subspan(14));
        marker.track_flags = load_be16(f.subspan(16));
        std::optional<std::string> text;
        if (!read_text(chunk, dff_marker_fields_size - 4, text)) {
            return false;
        }
        marker.text = std::move(text).value_or(std::string());
        markers.push_back(std::move(marker));
        return true;
    }

    const ByteSource& source_;
    WindowedReader* window_ = nullptr;  // reads go through it when set
    DffWalk result_;
    std::uint64_t form_end_ = 0;
};

DffRateField finding(DffFinding f) {
    return DffRateField{f, 0, 0};
}

}  // namespace

DffWalk walk_dff(const ByteSource& source) {
    return Walker(source).run();
}

DffDstWalk walk_dff_dst(const ByteSource& source, const DffChunkSpan& dst) {
    return Walker(source).walk_dst(dst);
}

DffDstFrameReader::DffDstFrameReader(const ByteSource& source, const DffChunkSpan& dst)
    : reader_(source, dst.offset + dst.size, dst_frame_window),
      position_(dst.offset),
      end_(dst.offset + dst.size) {}

DffDstFrameReader::Next DffDstFrameReader::next(std::vector<std::uint8_t>& frame,
                                                std::uint64_t max_frame) {
    while (position_ < end_) {
        std::array<std::uint8_t, chunk_header_size> header{};
        if (end_ - position_ < header.size() || !reader_.read_exact(position_, header)) {
            failed_at_ = position_;
            return Next::unreadable;
        }
        const std::uint64_t body = position_ + header.size();
        const std::uint64_t size = load_be64(std::span(header).subspan(4));
        if (size > end_ - body) {
            failed_at_ = position_;
            return Next::unreadable;
        }
        position_ = body + size + (size & 1);
        if (has_id(header, "DSTF")) {
            frame.resize(static_cast<std::size_t>(std::min(size, max_frame)));
            if (!reader_.read_exact(body, frame)) {
                failed_at_ = body;
                return Next::unreadable;
            }
            return Next::frame;
        }
    }
    return Next::end;
}

DffDiin read_dff_diin(const ByteSource& source, const DffChunkSpan& diin) {
    return Walker(source).read_diin(diin);
}

DffRateField locate_dff_rate_field(const ByteSource& source) {
    const DffWalk walk = walk_dff(source);
    // A "DST " chunk the walk met came before anything that stopped it.
    if (walk.dst_met) {
        return finding(DffFinding::dst_compressed);
    }
    switch (walk.error) {
        case DffWalkError::none:
            break;
        case DffWalkError::unreadable:
            return finding(DffFinding::unreadable);
        default:
            return finding(DffFinding::not_dff);
    }
    if (!walk.rate_offset) {
        return finding(DffFinding::not_dff);
    }
    if (walk.compressed()) {
        return finding(DffFinding::dst_compressed);
    }
    return DffRateField{DffFinding::found, *walk.rate_offset, walk.rate};
}

}  // namespace dsd
