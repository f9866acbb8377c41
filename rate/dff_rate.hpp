// The sampling-rate field of a DSDIFF file: found by walking the chunks,
// then overwritten in place.
#pragma once

#include <cstdint>

#include "header_access.hpp"

namespace dsd::rate {

enum class DffFinding { found, not_dff, dst_compressed, unreadable };

struct DffRateField {
    DffFinding finding = DffFinding::not_dff;
    std::uint64_t offset = 0;  // of the 4-byte value in the "FS  " chunk
    std::uint32_t rate = 0;    // its current value
};

// Reads chunk headers only; the sound data is skipped by its size.
DffRateField locate_dff_rate_field(const ByteSource& source);

// What setting the rate field of the file open on fd (for reading) to
// `target_rate`, big-endian, takes.
FieldChange rate_field_change(int fd, std::uint32_t target_rate);

// Sets the rate field of the file open on fd for update.
RewriteOutcome rewrite_rate_field(int fd, std::uint32_t target_rate);

}  // namespace dsd::rate
