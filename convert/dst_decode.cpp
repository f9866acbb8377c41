#include "dst_decode.hpp"

#include <algorithm>
#include <array>
#include <memory>
#include <span>

#include "byte_order.hpp"
#include "chunk_id.hpp"
#include "dsf.hpp"
#include "file_io.hpp"

namespace dsd {
namespace {

constexpr std::uint64_t chunk_header_size = 12;
constexpr std::uint64_t form_header_size = 16;

// "CMPR", 20, "DSD ", then the name "not compressed" as a count and its
// characters, and the pad byte that makes the name even.
constexpr std::array<std::uint8_t, 32> plain_compression{
    'C', 'M', 'P', 'R', 0,   0,   0,   0,   0,   0,   0,   20,  'D', 'S', 'D', ' ',
    14,  'n', 'o', 't', ' ', 'c', 'o', 'm', 'p', 'r', 'e', 's', 's', 'e', 'd', 0};

constexpr std::size_t copy_buffer_size = std::size_t{1} << 18;

DecodePlan refused(DecodePlan plan, DecodePlanError error) {
    plan.error = error;
    return plan;
}

// A chunk as it lies in the input, checked again while copying: the file
// may have changed since it was walked.
struct RawChunk {
    std::array<std::uint8_t, chunk_header_size> header{};
    std::uint64_t offset = 0;
    std::uint64_t size = 0;
    std::uint64_t end = 0;  // of its bytes in the parent, pad byte included when there

    std::uint64_t body() const { return offset + chunk_header_size; }
};

class Copier {
  public:
    Copier(int in, int out, const DecodePlan& plan, unsigned threads)
        : in_(in),
          out_(out),
          plan_(plan),
          threads_(threads),
          buffer_(std::make_unique<std::uint8_t[]>(copy_buffer_size)) {}

    WriteResult run() {
        // The form's size is known once everything is written.
        std::array<std::uint8_t, form_header_size> form{};
        if (!read(0, form) || !write(form)) {
            return result_;
        }
        for (std::uint64_t pos = form_header_size; pos < plan_.form_end;) {
            RawChunk chunk;
            if (!read_chunk(pos, plan_.form_end, chunk) || !copy_chunk(chunk)) {
                return result_;
            }
            pos = chunk.end;
        }
        store_be64(std::span(form).subspan(4), written_ - chunk_header_size);
        if (!write_full_at(out_, std::span(form).first(chunk_header_size), 0)) {
            return write_failure(out_);
        }
        return {};
    }

  private:
    bool read(std::uint64_t offset, std::span<std::uint8_t> out) {
        const std::size_t got = read_full_at(in_, out, offset);
        if (got != out.size()) {
            result_ = {WriteStatus::read_failed, static_cast<std::int64_t>(offset + got)};
            return false;
        }
        return true;
    }

    bool write(std::span<const std::uint8_t> bytes) {
        if (!write_full(out_, bytes)) {
            result_ = write_failure(out_);
            return false;
        }
        written_ += bytes.size();
        return true;
    }

    bool read_chunk(std::uint64_t pos, std::uint64_t limit, RawChunk& chunk) {
        chunk.offset = pos;
        if (limit - pos < chunk_header_size) {
            result_ = {WriteStatus::read_failed, static_cast<std::int64_t>(pos)};
            return false;
        }
        if (!read(pos, chunk.header)) {
            return false;
        }
        chunk.size = load_be64(std::span(chunk.header).subspan(4));
        if (chunk.size > limit - chunk.body()) {
            result_ = {WriteStatus::read_failed, static_cast<std::int64_t>(pos)};
            return false;
        }
        chunk.end = std::min(chunk.body() + chunk.size + (chunk.size & 1), limit);
        return true;
    }

    bool copy(std::uint64_t offset, std::uint64_t length) {
        const WriteResult copied =
            copy_range(in_, offset, length, out_, std::span(buffer_.get(), copy_buffer_size));
        if (copied.status != WriteStatus::ok) {
            result_ = copied;
            return false;
        }
        written_ += length;
        return true;
    }

    bool copy_chunk(const RawChunk& chunk) {
        if (has_id(chunk.header, "DSTI")) {
            return true;
        }
        if (has_id(chunk.header, "DST ")) {
            return decode_sound();
        }
        if (has_id(chunk.header, "PROP") && chunk.size >= 4) {
            std::array<std::uint8_t, 4> type{};
            if (!read(chunk.body(), type)) {
                return false;
            }
            if (has_id(type, "SND ")) {
                return copy_sound_properties(chunk);
            }
        }
        return copy(chunk.offset, chunk.end - chunk.offset);
    }

    // Twice over the local chunks: for the new size, then to copy them.
    bool copy_sound_properties(const RawChunk& prop) {
        const std::uint64_t begin = prop.body() + 4;
        const std::uint64_t end = prop.body() + prop.size;
        std::uint64_t size = 4;
        for (int pass = 0; pass < 2; ++pass) {
            if (pass == 1) {
                std::array<std::uint8_t, chunk_header_size + 4> header{
                    'P', 'R', 'O', 'P', 0, 0, 0, 0, 0, 0, 0, 0, 'S', 'N', 'D', ' '};
                store_be64(std::span(header).subspan(4, 8), size);
                if (!write(header)) {
                    return false;
                }
            }
            for (std::uint64_t pos = begin; pos < end;) {
                RawChunk local;
                if (!read_chunk(pos, end, local)) {
                    return false;
                }
                const bool compression = has_id(local.header, "CMPR");
                if (pass == 0) {
                    size += compression ? plain_compression.size() : local.end - local.offset;
                } else if (compression ? !write(plain_compression)
                                       : !copy(local.offset, local.end - local.offset)) {
                    return false;
                }
                pos = local.end;
            }
        }
        // The properties' own pad byte, when they still need one.
        if ((size & 1) == 0) {
            return true;
        }
        if (prop.end > end) {
            return copy(end, 1);
        }
        const std::array<std::uint8_t, 1> pad{};
        return write(pad);
    }

    bool decode_sound();

    int in_;
    int out_;
    const DecodePlan& plan_;
    unsigned threads_;
    std::unique_ptr<std::uint8_t[]> buffer_;
    std::uint64_t written_ = 0;
    WriteResult result_;
};

// Decoded sound to the output through a buffer, so that writes are large
// whatever the frame size.
class BufferedSink final : public dst::SoundSink {
  public:
    BufferedSink(int out, std::span<std::uint8_t> buffer) : out_(out), buffer_(buffer) {}

    bool take(std::span<const std::uint8_t> sound) override {
        while (!sound.empty()) {
            const std::size_t n = std::min(sound.size(), buffer_.size() - filled_);
            std::copy_n(sound.begin(), n, buffer_.begin() + static_cast<std::ptrdiff_t>(filled_));
            filled_ += n;
            sound = sound.subspan(n);
            if (filled_ == buffer_.size() && !flush()) {
                return false;
            }
        }
        return true;
    }

    bool flush() {
        const bool ok = write_full(out_, buffer_.first(filled_));
        filled_ = 0;
        return ok;
    }

  private:
    int out_;
    std::span<std::uint8_t> buffer_;
    std::size_t filled_ = 0;
};

bool Copier::decode_sound() {
    const DstSound& sound = plan_.dst.sound;
    const std::uint64_t bytes = sound.bytes_per_channel() * sound.channels;
    std::array<std::uint8_t, chunk_header_size> header{'D', 'S', 'D', ' '};
    store_be64(std::span(header).subspan(4), bytes);
    if (!write(header)) {
        return false;
    }
    BufferedSink sink(out_, std::span(buffer_.get(), copy_buffer_size));
    const WriteResult decoded = decode_dst_sound(in_, sound, sink, out_, threads_);
    if (decoded.status != WriteStatus::ok) {
        result_ = decoded;
        return false;
    }
    if (!sink.flush()) {
        result_ = write_failure(out_);
        return false;
    }
    // Whole frames of even length: no pad byte.
    written_ += bytes;
    return true;
}

}  // namespace

DecodePlan plan_dst_decode(const ByteSource& source) {
    DecodePlan plan;
    plan.walk = walk_dff(source);
    const DffWalk& walk = plan.walk;
    if (walk.error != DffWalkError::none) {
        return refused(plan, DecodePlanError::walk);
    }
    const SoundCoding coding = sound_coding(walk);
    if (coding == SoundCoding::other) {
        return refused(plan, DecodePlanError::compressed);
    }
    if (coding == SoundCoding::plain && walk.sound) {
        return refused(plan, DecodePlanError::not_dst);
    }
    if (!walk.rate_offset) {
        return refused(plan, DecodePlanError::no_rate);
    }
    if (!walk.has_channels) {
        return refused(plan, DecodePlanError::no_channels);
    }
    if (!walk.sound) {
        return refused(plan, DecodePlanError::no_sound);
    }
    if (walk.channel_count < 1 || walk.channel_count > dst::max_channels) {
        return refused(plan, DecodePlanError::wrong_channels);
    }
    plan.dst = check_dst_sound(source, walk);
    if (plan.dst.error != DstError::none) {
        return refused(plan, DecodePlanError::dst);
    }
    std::array<std::uint8_t, 8> form_size{};
    if (!source.read_exact(4, form_size)) {
        plan.walk.error = DffWalkError::unreadable;
        plan.walk.error_offset = 4;
        return refused(plan, DecodePlanError::walk);
    }
    plan.form_end = chunk_header_size + load_be64(form_size);
    return plan;
}

WriteResult write_dst_decode(int in, int out, const DecodePlan& plan, unsigned threads) {
    return Copier(in, out, plan, threads).run();
}

}  // namespace dsd
