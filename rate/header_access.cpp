#include "header_access.hpp"

#include <unistd.h>

#include <algorithm>

#include "file_io.hpp"

namespace dsd::rate {

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

FieldChange change_field(std::uint64_t offset, std::span<const std::uint8_t> current,
                         std::span<const std::uint8_t> wanted) {
    if (std::ranges::equal(current, wanted)) {
        return no_change(RewriteOutcome::already_set);
    }
    FieldChange change{.outcome = RewriteOutcome::rewritten, .offset = offset};
    change.size = std::min(wanted.size(), change.bytes.size());
    std::copy_n(wanted.begin(), change.size, change.bytes.begin());
    return change;
}

RewriteOutcome apply_change(int fd, const FieldChange& change) {
    if (change.outcome != RewriteOutcome::rewritten) {
        return change.outcome;
    }
    if (!write_full_at(fd, std::span(change.bytes).first(change.size), change.offset) ||
        ::fsync(fd) != 0) {
        return RewriteOutcome::write_failed;
    }
    return RewriteOutcome::rewritten;
}

}  // namespace dsd::rate
