// A DST frame encoder for tests: it can write every element of the frame
// syntax (stored frames; filter and table segmentation, same for all
// channels or per channel; mapping; raw and Rice-coded coefficients and
// table entries with every prediction method; tables of length 1; half
// probability), chosen for size or drawn from a seed, and it can damage a
// frame in each way a decoder must notice.
//
// A frame is made in two steps: plan_dst_frame() decides everything the
// header describes (a DstFramePlan, which a test may edit), and
// write_dst_frame() writes exactly that plan and arithmetic-codes the sound
// with it. encode_dst_frame() does both.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "dff_builder.hpp"

namespace dsd::testgen {

// Deterministic on every platform (the standard distributions are not).
class SeedRandom {
  public:
    explicit SeedRandom(std::uint64_t seed) : state_(seed) {}
    std::uint64_t next();
    std::uint64_t below(std::uint64_t bound);  // 0 .. bound - 1; bound > 0
    int between(int low, int high);            // low .. high
    bool chance(unsigned numerator, unsigned denominator);

  private:
    std::uint64_t state_;
};

// `count` bytes drawn from `seed`: sound no predictor can compress.
Bytes random_sound(std::size_t count, std::uint64_t seed);

struct DstGeometry {
    unsigned channels = 2;
    std::size_t bytes_per_channel = 4704;  // L: rate / 600

    std::size_t bits_per_channel() const { return 8 * bytes_per_channel; }
    std::size_t sound_bytes() const { return channels * bytes_per_channel; }
};

DstGeometry dst_geometry(unsigned channels, std::uint32_t rate);

inline constexpr unsigned dst_filter_max_segments = 4;
inline constexpr unsigned dst_table_max_segments = 8;
inline constexpr std::size_t dst_filter_min_bits = 1024;
inline constexpr std::size_t dst_table_min_bits = 32;
inline constexpr unsigned dst_max_filter_order = 128;
inline constexpr unsigned dst_max_table_length = 64;

// How coefficients or table entries are written.
struct DstCoding {
    bool rice = false;
    unsigned method = 0;             // predicts from method + 1 earlier values (3 is damage)
    std::optional<unsigned> rice_m;  // the Rice parameter; unset: the shortest
};

// The explicit segments of each channel, in units of `resolution` bytes;
// the implicit last segment is not listed. With same_for_all_channels every
// channel holds the same list.
struct DstSegmentation {
    bool same_for_all_channels = true;
    unsigned resolution = 1;
    std::vector<std::vector<unsigned>> lengths;

    std::size_t segments(unsigned channel) const { return lengths[channel].size() + 1; }
};

// The filter (table) number of each segment of each channel, the implicit
// segment included. With same_for_all_channels every channel holds the same
// list.
struct DstMapping {
    bool same_for_all_channels = true;
    std::vector<std::vector<unsigned>> numbers;
};

struct DstFilter {
    std::vector<int> coefficients;  // the order is the size (1 .. 128)
    DstCoding coding;
};

struct DstTable {
    std::vector<int> entries;  // the length is the size (1 .. 64); length 1 is {128}
    DstCoding coding;
};

// Everything the header of one frame says.
struct DstFramePlan {
    bool stored = false;
    bool stored_spare_bit = false;       // the bit after `coded`, ignored
    std::size_t stored_extra_bytes = 0;  // after the sound, ignored
    bool tables_same_segmentation = true;
    DstSegmentation filter_segments;
    DstSegmentation table_segments;  // unused when tables_same_segmentation
    bool tables_same_mapping = true;
    DstMapping filter_mapping;
    DstMapping table_mapping;  // unused when tables_same_mapping
    std::vector<bool> half_probability;
    std::vector<DstFilter> filters;
    std::vector<DstTable> tables;
    bool first_bit = true;  // the leading bit the decoder discards

    const DstSegmentation& effective_table_segments() const {
        return tables_same_segmentation ? filter_segments : table_segments;
    }
    const DstMapping& effective_table_mapping() const {
        return tables_same_mapping ? filter_mapping : table_mapping;
    }
};

// Ways to damage a frame. The plan-level ones change the plan (and the
// frame's header says something out of range); the others change the bytes.
enum class DstDamage {
    none,
    header_cut,                // the frame ends inside its header
    stored_stuffing,           // a stored frame's zero bits are not zero
    stored_cut,                // a stored frame shorter than its sound
    segment_too_short,         // an explicit filter segment of 1016 bits
    segment_too_long,          // leaves less than 1024 bits for the implicit one
    resolution_zero,           // filter segment resolution 0
    too_many_segments,         // one explicit filter segment past the limit
    mapping_out_of_range,      // a filter number above the count introduced
    too_many_filters,          // 2 x N + 1 filters
    segment_count_mismatch,    // tables share the filter mapping, not its segment count
    rice_method_3,             // filter 0 Rice-coded with method 3
    rice_method_too_long,      // filter 0 Rice-coded with k = method + 1 = its order
    coefficient_out_of_range,  // filter 0's last coefficient 256
    table_entry_out_of_range,  // table 0's last entry 129
    coded_first_bit,           // the coded data starts with a 1
    unused_bits,               // four zero bytes after the coded data
    coded_cut_short,           // only the first four bytes of the coded data
};

// Choices not set are drawn from `seed` when `random`, otherwise made for
// size: one segment per channel, a fitted filter per channel (of
// `filter_order`, or 128: the best on the tone, and the most work for a
// decoder), tables from the residual statistics, the shorter coding, and a
// stored frame when the compressed one is not shorter.
struct DstEncoderOptions {
    std::uint64_t seed = 1;
    bool random = false;
    // Random draws stay within the syntax FFmpeg reads: no stored frames,
    // one segment per channel with both segmentation flags set, no tables of
    // length 1.
    bool ffmpeg_readable = false;

    std::optional<bool> stored;
    std::optional<bool> tables_same_segmentation;
    std::optional<DstSegmentation> filter_segments;
    std::optional<DstSegmentation> table_segments;
    std::optional<bool> tables_same_mapping;
    std::optional<DstMapping> filter_mapping;
    std::optional<DstMapping> table_mapping;
    std::optional<std::vector<bool>> half_probability;
    std::optional<unsigned> filter_order;  // every filter
    std::optional<DstCoding> filter_coding;
    std::optional<unsigned> table_length;  // every table
    std::optional<DstCoding> table_coding;
    std::optional<bool> first_bit;
    DstDamage damage = DstDamage::none;
};

// Valid segments of about equal length: `explicit_counts` per channel (one
// count when same_for_all_channels). `filters`: filter limits, else table.
DstSegmentation even_dst_segments(const DstGeometry& geometry, bool filters,
                                  const std::vector<unsigned>& explicit_counts,
                                  bool same_for_all_channels);

// The plan for one frame of `sound` (geometry.sound_bytes() bytes,
// channel-interleaved, earliest sample in each byte's top bit).
DstFramePlan plan_dst_frame(std::span<const std::uint8_t> sound, const DstGeometry& geometry,
                            const DstEncoderOptions& options);

// What the decoder meets in a frame written here.
struct DstFrameInfo {
    std::uint64_t header_bits = 0;
    std::uint64_t coded_bits = 0;  // D: the arithmetic-coded data with its padding
    std::uint64_t end_pos = 0;     // the decoder's read position after the last bit
};

// Writes `plan` for `sound`, damaged as asked for the byte-level damages.
Bytes write_dst_frame(const DstFramePlan& plan, std::span<const std::uint8_t> sound,
                      const DstGeometry& geometry, DstDamage damage = DstDamage::none,
                      DstFrameInfo* info = nullptr);

// plan_dst_frame() then write_dst_frame(), with the stored fallback when
// choosing for size and `stored` is not set.
Bytes encode_dst_frame(std::span<const std::uint8_t> sound, const DstGeometry& geometry,
                       const DstEncoderOptions& options, DstFrameInfo* info = nullptr);

}  // namespace dsd::testgen
