#include "dsf_to_dff.hpp"

#include <algorithm>
#include <array>
#include <memory>

#include "byte_order.hpp"
#include "dsdiff.hpp"
#include "file_io.hpp"
#include "interleave.hpp"

namespace dsd {
namespace {

constexpr std::size_t pair_bytes = 2 * dsf_block_size;
// Block pairs converted per read and per write: at 256 KiB system calls cost
// nothing next to the copy, and both buffers stay in a 2 MiB L2 cache, where
// the kernel's copies in and out find them.
constexpr std::size_t pairs_per_chunk = 32;

using Chunk = std::array<std::uint8_t, pairs_per_chunk * pair_bytes>;

// Copies the tag into an "ID3 " chunk, through the output buffer.
WriteResult write_tag_chunk(int in, int out, const Id3TagLocation& tag,
                            std::span<std::uint8_t> buffer) {
    std::array<std::uint8_t, 12> chunk_header{'I', 'D', '3', ' '};
    store_be64(std::span(chunk_header).subspan(4), tag.length);
    if (!write_full(out, chunk_header)) {
        return write_failure(out);
    }
    if (const auto copied = copy_range(in, tag.offset, tag.length, out, buffer);
        copied.status != WriteStatus::ok) {
        return copied;
    }
    if (tag.length & 1) {
        const std::array<std::uint8_t, 1> pad{0};
        if (!write_full(out, pad)) {
            return write_failure(out);
        }
    }
    return {};
}

}  // namespace

std::uint64_t dff_sound_bytes(const DsfStreamInfo& info) {
    return 2 * dsf_stereo_bytes_per_channel(info);
}

WriteResult write_dff_stream(int in, int out, const DsfStreamInfo& info, std::uint32_t rate,
                             const std::optional<Id3TagLocation>& tag) {
    const std::uint64_t sound_bytes = dff_sound_bytes(info);
    const auto header = make_dff_header(rate, sound_bytes, tag ? tag->length : 0);
    if (!write_full(out, header)) {
        return write_failure(out);
    }

    const auto in_chunk = std::make_unique<Chunk>();
    const auto out_chunk = std::make_unique<Chunk>();
    const std::span<std::uint8_t> out_buffer(*out_chunk);
    const bool reverse = info.bits_per_sample == 1;
    // Only the block pairs that hold the samples are read; the zero fill
    // after the last sample is not copied.
    std::uint64_t per_channel_left = sound_bytes / 2;
    std::uint64_t offset = dsf_sound_offset;
    while (per_channel_left != 0) {
        const std::uint64_t pairs_left = (per_channel_left + dsf_block_size - 1) / dsf_block_size;
        const auto pairs =
            static_cast<std::size_t>(std::min<std::uint64_t>(pairs_left, pairs_per_chunk));
        const auto taken = static_cast<std::size_t>(
            std::min<std::uint64_t>(per_channel_left, pairs * dsf_block_size));
        // The last pair may end inside the right channel's block: nothing
        // past the bytes used is read, so nothing from beyond the chunk.
        const std::size_t last_take = taken - (pairs - 1) * dsf_block_size;
        const std::size_t wanted = (pairs - 1) * pair_bytes + dsf_block_size + last_take;
        const auto chunk = std::span(*in_chunk).first(wanted);
        if (const std::size_t got = read_full_at(in, chunk, offset); got != wanted) {
            return {WriteStatus::read_failed, static_cast<std::int64_t>(offset + got)};
        }
        for (std::size_t p = 0; p < pairs; ++p) {
            const std::size_t take = p + 1 < pairs ? dsf_block_size : last_take;
            const auto pair = chunk.subspan(p * pair_bytes);
            interleave_channels(pair.first(take), pair.subspan(dsf_block_size, take),
                                out_buffer.subspan(p * pair_bytes, 2 * take), reverse);
        }
        if (!write_full(out, out_buffer.first(2 * taken))) {
            return write_failure(out);
        }
        per_channel_left -= taken;
        offset += pairs * pair_bytes;
    }
    if (tag) {
        return write_tag_chunk(in, out, *tag, out_buffer);
    }
    return {};
}

}  // namespace dsd
