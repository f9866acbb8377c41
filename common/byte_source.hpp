// Random access to a file's header bytes: a file or, for tests and fuzzing,
// a buffer. The chunk walks of every format read through this.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

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

// Reads of a source through a window of fixed size, for walking many small
// chunks in file order with few reads: a read that lies inside the window is
// served from it; any other refills the window from its own offset (never
// past `end`), or goes to the source directly when it is larger than the
// window.
class WindowedReader {
  public:
    WindowedReader(const ByteSource& source, std::uint64_t end, std::size_t window);

    bool read_exact(std::uint64_t offset, std::span<std::uint8_t> out);

  private:
    const ByteSource& source_;
    std::uint64_t end_;
    std::vector<std::uint8_t> window_;
    std::uint64_t start_ = 0;  // the file offset of window_[0]
    std::size_t filled_ = 0;   // bytes of the window that hold file data
};

}  // namespace dsd
