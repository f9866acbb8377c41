// A small DST frame encoder for the decoder's tests, benchmark and fuzzing
// seeds: it writes exactly the fields a frame spec gives (invalid ones
// too, to make damaged frames) and arithmetic-codes the sound with a plain
// bit-by-bit prediction, independent of the decoder's tables.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace dsd::test::dst {

using Bytes = std::vector<std::uint8_t>;

struct Coding {
    bool rice = false;
    unsigned method = 0;  // 0 .. 2 (3 is written as given)
    unsigned m = 0;       // Rice parameter
};

struct Segmentation {
    bool same_for_all = true;
    std::uint32_t resolution = 1;  // bytes, written before the first length
    // Explicit segment lengths in units of `resolution`, per channel (one
    // list for all when same_for_all); the rest of a channel is implicit.
    std::vector<std::vector<std::uint32_t>> lengths{{}};
};

struct Mapping {
    bool same_for_all = true;
    // Per channel (one list when same_for_all), the number of each segment,
    // missing ones 0; the first of channel 0 is not written (it is 0).
    std::vector<std::vector<unsigned>> numbers{{}};
};

struct Filter {
    std::vector<int> coef;  // order = size
    Coding coding;
};

struct Table {
    std::vector<int> entry;  // length = size
    Coding coding;
};

struct FrameSpec {
    unsigned channels = 2;
    std::size_t bytes_per_channel = 4704;
    bool tables_same_segmentation = true;
    Segmentation filter_segmentation;
    Segmentation table_segmentation;
    bool tables_same_mapping = true;
    Mapping filter_mapping;
    Mapping table_mapping;
    std::vector<bool> half_probability;  // per channel; missing ones false
    std::vector<Filter> filters;
    std::vector<Table> tables;
    unsigned first_bit = 0;  // the discarded leading bit, coded as given
};

// One filter and one table for every channel: filters fitted to the sound
// (least squares of the +-1 signal, `order` coefficients) and tables
// estimated from the residuals, as a real encoder would choose them.
FrameSpec fitted_spec(unsigned channels, std::size_t bytes_per_channel,
                      std::span<const std::uint8_t> sound, unsigned order, unsigned table_length);

// Fills every table of `spec` with the estimate of its bits' residuals.
void fit_tables(FrameSpec& spec, std::span<const std::uint8_t> sound);

// The compressed frame of `sound` (channel-interleaved, channels x
// bytes_per_channel bytes).
Bytes compressed_frame(const FrameSpec& spec, std::span<const std::uint8_t> sound);

// The length of the frame's header: its coded data starts at that bit.
std::size_t header_bits(const FrameSpec& spec);

Bytes stored_frame(std::span<const std::uint8_t> sound);

// A sigma-delta tone of one channel, `bytes` bytes, earliest bit first.
Bytes tone(double hz, std::uint32_t rate, std::size_t bytes);

// Channel-interleaved sound of several tones.
Bytes interleave(const std::vector<Bytes>& channels);

}  // namespace dsd::test::dst
