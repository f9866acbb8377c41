// The header of a compressed frame, as read (the layout is in dst.hpp).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "dst.hpp"

namespace dsd::dst::detail {

inline constexpr unsigned max_numbers = 2 * max_channels;  // filters, tables
inline constexpr unsigned max_order = 128;
inline constexpr unsigned max_table_length = 64;
// Explicit segments allowed, and the most segments a channel can have (one
// more: the rest of the channel).
inline constexpr unsigned max_filter_segments = 4;
inline constexpr unsigned max_table_segments = 8;
inline constexpr unsigned segment_room = max_table_segments + 1;

// The segments of each channel, in bytes (every segment is a whole number
// of bytes), and the filter or table number of each.
struct Segments {
    std::array<unsigned, max_channels> count{};
    // start[c][s]: the first byte of segment s; start[c][count[c]] = L.
    std::array<std::array<std::uint32_t, segment_room + 1>, max_channels> start{};
    std::array<std::array<std::uint8_t, segment_room>, max_channels> number{};
};

struct FrameHeader {
    Segments filter_segments;
    Segments table_segments;
    unsigned filters = 0;
    unsigned tables = 0;
    std::array<bool, max_channels> half_probability{};
    std::array<unsigned, max_numbers> order{};
    // Coefficients past the order are 0.
    std::array<std::array<std::int16_t, max_order>, max_numbers> coef{};
    std::array<unsigned, max_numbers> length{};
    std::array<std::array<std::uint8_t, max_table_length>, max_numbers> entry{};
    // The first bit of the arithmetic-coded data.
    std::uint64_t coded_start = 0;
};

// Reads the header of a compressed frame (whose first bit is 1); false when
// it breaks a limit or the frame ends inside it. `channels` 1 to 6 and
// `bytes_per_channel` at least 128.
bool read_frame_header(std::span<const std::uint8_t> frame, unsigned channels,
                       std::uint32_t bytes_per_channel, FrameHeader& header);

}  // namespace dsd::dst::detail
