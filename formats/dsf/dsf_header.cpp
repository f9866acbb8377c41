#include "dsf.hpp"

#include <algorithm>
#include <array>
#include <span>

#include "byte_order.hpp"
#include "file_io.hpp"

namespace dsd {

DsfHeaderResult read_dsf_header(int fd) {
    std::array<std::uint8_t, dsf_sound_offset> header{};
    const std::uint64_t got = read_full_at(fd, header, 0);
    const std::span<const std::uint8_t> bytes(header);

    DsfHeaderResult result;
    // Fields are checked in file order, so a short file fails at the first
    // field it does not hold; the position is where reading stopped, never
    // past the end of the file.
    const auto field = [&](std::uint64_t offset, std::uint64_t size) {
        if (got < offset + size) {
            result.error = DsfHeaderError::read_failed;
            result.detail = got;
            return false;
        }
        return true;
    };

    if (!field(0, 4)) {
        return result;
    }
    if (!std::equal(header.begin(), header.begin() + 4, "DSD ")) {
        result.error = DsfHeaderError::not_dsf;
        const auto end = std::find(header.begin(), header.begin() + 4, 0);
        result.identifier.assign(header.begin(), end);
        return result;
    }
    if (!field(52, 4)) {
        return result;
    }
    if (const auto channels = load_le32(bytes.subspan(52)); channels != 2) {
        result.error = DsfHeaderError::wrong_channels;
        result.detail = channels;
        return result;
    }
    if (!field(56, 4)) {
        return result;
    }
    result.info.sampling_frequency = load_le32(bytes.subspan(56));
    if (result.info.sampling_frequency == 0) {
        result.error = DsfHeaderError::wrong_rate;
        return result;
    }
    result.values_read = 1;
    if (!field(60, 4)) {
        return result;
    }
    result.info.bits_per_sample = load_le32(bytes.subspan(60));
    if (result.info.bits_per_sample != 1 && result.info.bits_per_sample != 8) {
        result.error = DsfHeaderError::wrong_bits;
        result.detail = result.info.bits_per_sample;
        return result;
    }
    result.values_read = 2;
    if (!field(64, 8)) {
        return result;
    }
    result.info.sample_count = load_le64(bytes.subspan(64));
    result.values_read = 3;
    if (!field(72, 4)) {
        return result;
    }
    // Sound data in blocks of any other size would be interleaved wrongly.
    if (const auto block = load_le32(bytes.subspan(72)); block != dsf_block_size) {
        result.error = DsfHeaderError::wrong_block_size;
        result.detail = block;
        return result;
    }
    if (!field(84, 8)) {
        return result;
    }
    const std::uint64_t chunk_size = load_le64(bytes.subspan(84));
    if (chunk_size < 12) {
        result.error = DsfHeaderError::wrong_data_size;
        result.detail = chunk_size;
        return result;
    }
    result.info.data_size = chunk_size - 12;
    result.info.metadata_pointer = load_le64(bytes.subspan(20));
    result.values_read = 4;
    return result;
}

std::uint64_t dsf_channel_bytes(std::uint64_t data_size, unsigned channel) {
    constexpr std::uint64_t pair = 2 * std::uint64_t{dsf_block_size};
    const std::uint64_t before = std::uint64_t{channel} * dsf_block_size;
    const std::uint64_t rest = data_size % pair;
    const std::uint64_t in_last =
        rest > before ? std::min<std::uint64_t>(rest - before, dsf_block_size) : 0;
    return data_size / pair * dsf_block_size + in_last;
}

std::uint64_t dsf_stereo_bytes_per_channel(const DsfStreamInfo& info) {
    // Rounded up without wrapping: counts go up to 2^64 - 1.
    const std::uint64_t for_samples = info.sample_count / 8 + (info.sample_count % 8 != 0);
    return std::min(
        {for_samples, dsf_channel_bytes(info.data_size, 0), dsf_channel_bytes(info.data_size, 1)});
}

}  // namespace dsd
