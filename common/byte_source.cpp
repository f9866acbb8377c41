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

}  // namespace dsd
