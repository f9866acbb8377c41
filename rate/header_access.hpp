// What the chunk walks and the rewrites share: random access to a file's
// header bytes (a file or, for tests and fuzzing, a buffer), the outcome of
// one file's rewrite, and the write of a changed field.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <functional>
#include <span>
#include <string_view>

namespace dsd::rate {

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

// True when the span starts with the four-character chunk identifier `id`.
inline bool has_id(std::span<const std::uint8_t> bytes, std::string_view id) {
    return bytes.size() >= 4 && id.size() == 4 &&
           std::equal(id.begin(), id.end(), bytes.begin(),
                      [](char c, std::uint8_t b) { return static_cast<std::uint8_t>(c) == b; });
}

enum class RewriteOutcome {
    rewritten,
    already_set,  // held the target values; not written
    not_dff,
    dst_compressed,
    not_wav,
    not_pcm,
    unreadable,
    write_failed,
};

// What one file needs: an outcome and, when it is `rewritten`, the bytes
// still to be written. Finding it needs only read access.
struct FieldChange {
    RewriteOutcome outcome = RewriteOutcome::unreadable;
    std::uint64_t offset = 0;
    std::array<std::uint8_t, 8> bytes{};
    std::size_t size = 0;
};

inline FieldChange no_change(RewriteOutcome outcome) {
    return FieldChange{.outcome = outcome};
}

// `wanted` at `offset` unless it equals `current` (at most 8 bytes).
FieldChange change_field(std::uint64_t offset, std::span<const std::uint8_t> current,
                         std::span<const std::uint8_t> wanted);

// Writes a change found by change_field, then syncs; any other outcome is
// returned as it is. The caller still has to check the close.
RewriteOutcome apply_change(int fd, const FieldChange& change);

}  // namespace dsd::rate
