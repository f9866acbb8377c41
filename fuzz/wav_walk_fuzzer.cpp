// Fuzzes the WAV chunk walk and the rate rewrite built on it: whatever the
// input, the walk ends, a format it finds is a PCM "fmt " chunk inside a
// RIFF/RF64/BW64 WAVE file, and the rewrite changes its rate and byte rate
// or nothing, never the file's length.
#include <cstdint>
#include <cstring>
#include <span>

#include "rewrite.hpp"
#include "rewrite_check.hpp"
#include "wav.hpp"

using namespace dsd::fuzz;

namespace {

std::uint64_t le(const std::uint8_t* p, int n) {
    std::uint64_t v = 0;
    for (int i = n - 1; i >= 0; --i) {
        v = v << 8 | p[i];
    }
    return v;
}

std::vector<std::uint8_t> le_bytes(std::uint32_t a, std::uint32_t b) {
    std::vector<std::uint8_t> out;
    for (const std::uint32_t v : {a, b}) {
        for (int i = 0; i < 4; ++i) {
            out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
        }
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using dsd::WavFinding;
    using dsd::rate::RewriteOutcome;
    const auto fmt =
        dsd::locate_wav_format(dsd::memory_source(std::span<const std::uint8_t>(data, size)));
    require(fmt.finding != WavFinding::unreadable);
    if (fmt.finding == WavFinding::found) {
        require(size >= 12 && std::memcmp(data + 8, "WAVE", 4) == 0);
        require(std::memcmp(data, "RIFF", 4) == 0 || std::memcmp(data, "RF64", 4) == 0 ||
                std::memcmp(data, "BW64", 4) == 0);
        require(fmt.rate_offset >= 24 && fmt.rate_offset + 12 <= size);
        const std::uint8_t* chunk = data + fmt.rate_offset - 12;
        require(std::memcmp(chunk, "fmt ", 4) == 0);
        require(fmt.format_tag == le(chunk + 8, 2));
        require(fmt.format_tag == 1 || fmt.format_tag == 3 || fmt.format_tag == 0xFFFE);
        require(fmt.sample_rate == le(chunk + 12, 4) && fmt.byte_rate == le(chunk + 16, 4));
        require(fmt.block_align == le(chunk + 20, 2));
    }

    const int fd = file_with(data, size);
    const RewriteOutcome outcome = dsd::rate::rewrite_wav_rate(fd);
    switch (fmt.finding) {
        case WavFinding::found: {
            const std::uint32_t byte_rate = 44100u * fmt.block_align;
            const bool set = fmt.sample_rate == 44100 && fmt.byte_rate == byte_rate;
            require(outcome == (set ? RewriteOutcome::already_set : RewriteOutcome::rewritten));
            require_only_field_changed(data, size, fd, fmt.rate_offset, le_bytes(44100, byte_rate));
            break;
        }
        case WavFinding::not_wav:
            require(outcome == RewriteOutcome::not_wav);
            require_unchanged(data, size, fd);
            break;
        case WavFinding::not_pcm:
            require(outcome == RewriteOutcome::not_pcm);
            require_unchanged(data, size, fd);
            break;
        case WavFinding::unreadable:
            break;
    }
    return 0;
}
