#include "write_result.hpp"

#include <algorithm>

#include "file_io.hpp"

namespace dsd {

WriteResult write_failure(int out) {
    return {WriteStatus::write_failed, current_position(out)};
}

WriteResult copy_range(int in, std::uint64_t offset, std::uint64_t length, int out,
                       std::span<std::uint8_t> buffer) {
    for (std::uint64_t done = 0; done < length;) {
        const auto n =
            static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), length - done));
        const auto got = read_full_at(in, buffer.first(n), offset + done);
        if (got != n) {
            return {WriteStatus::read_failed, static_cast<std::int64_t>(offset + done + got)};
        }
        if (!write_full(out, buffer.first(n))) {
            return write_failure(out);
        }
        done += n;
    }
    return {};
}

}  // namespace dsd
