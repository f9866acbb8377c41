#include "byte_source.hpp"

#include <algorithm>

#include "file_io.hpp"

namespace dsd {

ByteSource file_source(int fd, std::uint64_t size) {
    return {size, [fd](std::uint64_t offset, std::span<std::uint8_t> out) {
                return read_full_at(fd, out, offset) == out.size();
            }};
}

ByteSource memory_source(std::span<const std::uint8_t> bytes) {
    return {bytes.size(), [bytes](std::uint64_t offset, std::span<std::uint8_t> out) {
                if (offset > bytes.size() || out.size() > bytes.size() - offset) {
                    return false;
                }
                std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(offset), out.size(),
                            out.begin());
                return true;
            }};
}

WindowedReader::WindowedReader(const ByteSource& source, std::uint64_t end, std::size_t window)
    : source_(source), end_(end), window_(window) {}

bool WindowedReader::read_exact(std::uint64_t offset, std::span<std::uint8_t> out) {
    if (offset < start_ || offset - start_ > filled_ || out.size() > filled_ - (offset - start_)) {
        if (out.size() > window_.size() || offset >= end_) {
            return source_.read_exact(offset, out);
        }
        const auto length =
            static_cast<std::size_t>(std::min<std::uint64_t>(window_.size(), end_ - offset));
        filled_ = 0;
        if (!source_.read_exact(offset, std::span(window_).first(length))) {
            return false;
        }
        start_ = offset;
        filled_ = length;
        if (out.size() > filled_) {
            return source_.read_exact(offset, out);
        }
    }
    const auto at = static_cast<std::ptrdiff_t>(offset - start_);
    std::copy_n(window_.begin() + at, out.size(), out.begin());
    return true;
}

}  // namespace dsd
