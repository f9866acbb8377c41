// Random access to a file's header bytes: a file or, for tests and fuzzing,
// a buffer. The chunk walks of every format read through this.
#pragma once

#include <cstdint>
#include <functional>
#include <span>

namespace dsd {

// The walks never look past `size`, so a read inside it that comes back short
// is an I/O error, not a short file.
struct ByteSource {
    std::uint64_t size = 0;
    // Fills the whole span from `offset`; false if it cannot.
    std::function<bool(std::uint64_t offset, std::span<std::uint8_t> out)> read_exact;
};

ByteSource file_source(int fd, std::uint64_t size);
// The span must outlive the source.
ByteSource memory_source(std::span<const std::uint8_t> bytes);

}  // namespace dsd
