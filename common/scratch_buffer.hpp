// Buffers for the conversion loops that a thread keeps from one conversion
// to the next. A batch converts file after file on the same few threads;
// buffers allocated anew for each file go back to the system when freed,
// and the kernel then maps and zeroes their pages again for the next file,
// which costs more than converting a small file does.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

namespace dsd {

// `size` bytes, taken from this thread's spare buffers when one is large
// enough and given back to them when it goes. What it holds at first is
// unspecified. A thread keeps a few spares, so memory stays bounded.
class ScratchBuffer {
  public:
    explicit ScratchBuffer(std::size_t size);
    ~ScratchBuffer();
    // The bytes go with it; the buffer moved from holds none. Given back on
    // the thread that destroys it.
    ScratchBuffer(ScratchBuffer&& other) noexcept;
    ScratchBuffer& operator=(ScratchBuffer&&) = delete;
    ScratchBuffer(const ScratchBuffer&) = delete;
    ScratchBuffer& operator=(const ScratchBuffer&) = delete;

    std::span<std::uint8_t> bytes() const { return {data_.get(), size_}; }

  private:
    std::unique_ptr<std::uint8_t[]> data_;
    std::size_t capacity_ = 0;
    std::size_t size_ = 0;
};

}  // namespace dsd
