// WAV (RIFF, RF64, BW64) headers for tests, assembled chunk by chunk. Sizes
// are computed from what was built unless a test overrides them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace dsd::testgen {

using Bytes = std::vector<std::uint8_t>;

// id, 32-bit little-endian size, body, and a pad byte after an odd body.
Bytes riff_chunk(std::string_view id, const Bytes& body,
                 std::optional<std::uint32_t> declared_size = std::nullopt);

// "RIFF" (or "RF64", "BW64"), its size, "WAVE", then the chunks.
Bytes wav_file(const std::vector<Bytes>& chunks, std::string_view form = "RIFF",
               std::optional<std::uint32_t> declared_size = std::nullopt);

struct WavFormat {
    std::uint16_t tag = 1;
    std::uint16_t channels = 2;
    std::uint32_t rate = 48000;
    std::uint16_t bits = 24;
};

// The 16-byte "fmt " body; block align and byte rate follow from the format.
Bytes fmt_body(const WavFormat& format);

// The 40-byte WAVE_FORMAT_EXTENSIBLE body with a KSDATAFORMAT sub-format
// GUID of the given code (1 PCM, 3 float), or `guid` verbatim when given.
Bytes fmt_extensible_body(const WavFormat& format, std::uint32_t subformat_code,
                          const std::optional<Bytes>& guid = std::nullopt);

// The "ds64" body: RIFF size, data size, sample count, then the table.
Bytes ds64_body(std::uint64_t riff_size, std::uint64_t data_size, std::uint64_t sample_count,
                const std::vector<std::pair<std::string, std::uint64_t>>& table = {});

// The canonical 44-byte header ("RIFF", "fmt " of 16, "data") and `samples`.
Bytes canonical_wav(const WavFormat& format, const Bytes& samples);

}  // namespace dsd::testgen
