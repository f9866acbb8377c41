#include <span>

#include "byte_order.hpp"
#include "dsf.hpp"

namespace dsd {
namespace {

constexpr std::uint64_t dsd_chunk_size = 28;
constexpr std::uint64_t fmt_chunk_size = 52;
constexpr std::uint64_t data_chunk_header = 12;

// Sound bytes of the data chunk, every channel's last block filled.
std::uint64_t data_bytes(const DsfLayout& layout) {
    return dsf_blocks_per_channel(layout) * dsf_block_size * layout.channel_count;
}

}  // namespace

std::uint64_t dsf_blocks_per_channel(const DsfLayout& layout) {
    return layout.bytes_per_channel / dsf_block_size +
           (layout.bytes_per_channel % dsf_block_size != 0);
}

std::array<std::uint8_t, dsf_header_size> make_dsf_header(const DsfLayout& layout) {
    const std::uint64_t data = data_bytes(layout);
    std::array<std::uint8_t, dsf_header_size> header{};
    const std::span<std::uint8_t> h(header);
    const auto id = [&](std::size_t at, const char* text) {
        for (std::size_t i = 0; i < 4; ++i) {
            h[at + i] = static_cast<std::uint8_t>(text[i]);
        }
    };
    id(0, "DSD ");
    store_le64(h.subspan(4), dsd_chunk_size);
    store_le64(h.subspan(12), dsf_header_size + data + layout.tag_length);
    store_le64(h.subspan(20), layout.tag_length != 0 ? dsf_header_size + data : 0);
    id(28, "fmt ");
    store_le64(h.subspan(32), fmt_chunk_size);
    store_le32(h.subspan(40), 1);  // format version
    store_le32(h.subspan(44), 0);  // raw DSD
    store_le32(h.subspan(48), layout.channel_type);
    store_le32(h.subspan(52), layout.channel_count);
    store_le32(h.subspan(56), layout.sampling_frequency);
    store_le32(h.subspan(60), 1);  // LSB first
    store_le64(h.subspan(64), layout.bytes_per_channel * 8);
    store_le32(h.subspan(72), dsf_block_size);
    id(80, "data");
    store_le64(h.subspan(84), data_chunk_header + data);
    return header;
}

DsfStreamInfo dsf_stream_info(const DsfLayout& layout) {
    const std::uint64_t data = data_bytes(layout);
    return {layout.sampling_frequency, 1, layout.bytes_per_channel * 8, data,
            layout.tag_length != 0 ? dsf_header_size + data : 0};
}

}  // namespace dsd
