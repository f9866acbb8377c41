// What both conversion loops report, and the copy of a byte range from the
// input to the output that both use for tags.
#pragma once

#include <cstdint>
#include <span>

namespace dsd {

enum class WriteStatus { ok, read_failed, write_failed, damaged_frame };

struct WriteResult {
    WriteStatus status = WriteStatus::ok;
    // Of the failing file; of a damaged DST frame, its index.
    std::int64_t position = 0;
};

WriteResult write_failure(int out);

// Appends `length` bytes of `in` from `offset` to `out`, through `buffer`.
WriteResult copy_range(int in, std::uint64_t offset, std::uint64_t length, int out,
                       std::span<std::uint8_t> buffer);

}  // namespace dsd
