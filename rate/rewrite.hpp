// What the two rewrites share: the outcome of one file's rewrite, found
// with read access alone, and the write of a changed field.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace dsd::rate {

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
// still to be written.
struct FieldChange {
    RewriteOutcome outcome = RewriteOutcome::unreadable;
    std::uint64_t offset = 0;
    std::array<std::uint8_t, 8> bytes{};
    std::size_t size = 0;
};

// `wanted` at `offset` unless it equals `current` (at most 8 bytes).
FieldChange change_field(std::uint64_t offset, std::span<const std::uint8_t> current,
                         std::span<const std::uint8_t> wanted);

// Writes a change found by change_field, then syncs; any other outcome is
// returned as it is. The caller still has to check the close.
RewriteOutcome apply_change(int fd, const FieldChange& change);

// What setting the rate field of the DSDIFF file open on fd (for reading) to
// `target_rate` takes.
FieldChange dff_rate_change(int fd, std::uint32_t target_rate);

// What setting the WAV file's rate to 44100 Hz and its byte rate to 44100 x
// block align takes.
FieldChange wav_rate_change(int fd);

// The change applied to a file open on fd for update.
RewriteOutcome rewrite_dff_rate(int fd, std::uint32_t target_rate);
RewriteOutcome rewrite_wav_rate(int fd);

}  // namespace dsd::rate
