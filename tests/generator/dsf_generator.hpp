// Synthetic DSF files for tests, the quick start, benchmarks and fuzzing
// seeds. Every byte is built here; nothing is copied from another program.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace dsd::testgen {

struct DsfSpec {
    std::uint32_t sampling_frequency = 2822400;
    std::uint32_t bits_per_sample = 1;  // 1: LSB first, 8: MSB first
    std::uint64_t sample_count = 0;     // one-bit samples per channel
    double left_hz = 1000.0;            // tone of each channel
    double right_hz = 1500.0;
    double amplitude = 0.5;                            // of full scale
    std::optional<std::vector<std::uint8_t>> id3_tag;  // appended, metadata pointer set
};

// The whole file in memory (small files, for tests).
std::vector<std::uint8_t> make_dsf(const DsfSpec& spec);

// Streams the file with fixed buffers (any size); false on a write error.
bool write_dsf(const DsfSpec& spec, std::ostream& out);

// Number of data bytes (both channels, whole 4096-byte blocks).
std::uint64_t dsf_data_bytes(const DsfSpec& spec);

// A minimal ID3v2 tag (major version 3 or 4) with a TIT2 title frame and,
// when `artist` is not empty, a TPE1 artist frame; the padding makes the
// total length exactly `total_length` when it is given. UTF-8 text reads
// back as the same characters in either version.
std::vector<std::uint8_t> make_id3v2_tag(const std::string& title, int major = 3,
                                         std::optional<std::size_t> total_length = std::nullopt,
                                         bool footer = false, const std::string& artist = {});

// The code points of `text`, or nothing when it is not valid UTF-8.
std::optional<std::u32string> decode_utf8(const std::string& text);

}  // namespace dsd::testgen
