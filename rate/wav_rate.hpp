// The sampling-rate and byte-rate fields of a WAV file's "fmt " chunk: found
// by walking the RIFF chunks, then overwritten in place.
#pragma once

#include <cstdint>

#include "header_access.hpp"

namespace dsd::rate {

inline constexpr std::uint32_t wav_target_rate = 44100;

enum class WavFinding { found, not_wav, not_pcm, unreadable };

struct WavFormatFields {
    WavFinding finding = WavFinding::not_wav;
    std::uint64_t rate_offset = 0;  // samples per second; the byte rate follows it
    std::uint16_t format_tag = 0;
    std::uint32_t sample_rate = 0;
    std::uint32_t byte_rate = 0;
    std::uint16_t block_align = 0;
};

// Reads chunk headers, "ds64" and "fmt " only. The walk is bounded by the
// source's real size, never by the RIFF size field.
WavFormatFields locate_wav_format(const ByteSource& source);

// What setting the rate of the file open on fd (for reading) to 44100 Hz and
// its byte rate to 44100 x block align takes.
FieldChange rate_field_change(int fd);

// Sets both fields of the file open on fd for update.
RewriteOutcome rewrite_rate_field(int fd);

}  // namespace dsd::rate
