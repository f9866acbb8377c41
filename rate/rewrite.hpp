// What the two rewrites share: the outcome of one file's rewrite and the
// write of a changed field.
#pragma once

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

// Writes `wanted` over `current` at `offset` unless they are equal, then
// syncs. The caller still has to check the close.
RewriteOutcome update_field(int fd, std::uint64_t offset, std::span<const std::uint8_t> current,
                            std::span<const std::uint8_t> wanted);

// Sets the rate field of the DSDIFF file open on fd to `target_rate`.
RewriteOutcome rewrite_dff_rate(int fd, std::uint32_t target_rate);

// Sets the WAV file's rate to 44100 Hz and its byte rate to 44100 x block
// align.
RewriteOutcome rewrite_wav_rate(int fd);

}  // namespace dsd::rate
