// An independent, deliberately plain statement of the DSF dff-dsf-convert
// writes, and of the DSDIFF sound it comes from, for comparing byte for byte.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "dff_expect.hpp"

namespace dsd::test {

using Channels = std::vector<std::vector<std::uint8_t>>;

// The DSDIFF sound chunk's data: a byte of each channel in turn.
inline std::vector<std::uint8_t> interleaved(const Channels& channels) {
    std::vector<std::uint8_t> out;
    for (std::size_t i = 0; !channels.empty() && i < channels[0].size(); ++i) {
        for (const auto& channel : channels) {
            out.push_back(channel[i]);
        }
    }
    return out;
}

// The DSF for `channels` (DSF order, DSDIFF bytes: most significant bit
// first) declared as channel type `type` at `rate`, with `tag` after it.
inline std::vector<std::uint8_t> expected_dsf(std::uint32_t rate, std::uint32_t type,
                                              const Channels& channels,
                                              const std::vector<std::uint8_t>& tag = {}) {
    const std::uint64_t per_channel = channels.empty() ? 0 : channels[0].size();
    const std::uint64_t blocks = (per_channel + 4095) / 4096;
    const std::uint64_t data = blocks * 4096 * channels.size();
    std::vector<std::uint8_t> out(92, 0);
    auto put = [&](std::size_t at, const std::string& text) {
        std::copy(text.begin(), text.end(), out.begin() + static_cast<std::ptrdiff_t>(at));
    };
    put(0, "DSD ");
    put_le(out, 4, 28, 8);
    put_le(out, 12, 92 + data + tag.size(), 8);
    put_le(out, 20, tag.empty() ? 0 : 92 + data, 8);
    put(28, "fmt ");
    put_le(out, 32, 52, 8);
    put_le(out, 40, 1, 4);
    put_le(out, 44, 0, 4);
    put_le(out, 48, type, 4);
    put_le(out, 52, channels.size(), 4);
    put_le(out, 56, rate, 4);
    put_le(out, 60, 1, 4);
    put_le(out, 64, per_channel * 8, 8);
    put_le(out, 72, 4096, 4);
    put_le(out, 76, 0, 4);
    put(80, "data");
    put_le(out, 84, 12 + data, 8);
    for (std::uint64_t b = 0; b < blocks; ++b) {
        for (const auto& channel : channels) {
            for (std::uint64_t i = b * 4096; i < (b + 1) * 4096; ++i) {
                out.push_back(i < per_channel ? mirror(channel[i]) : 0);
            }
        }
    }
    out.insert(out.end(), tag.begin(), tag.end());
    return out;
}

// The four lines dsf-dff-convert prints for a DSF file.
inline std::string header_lines(const std::vector<std::uint8_t>& dsf) {
    return "Sampling frequency <" + std::to_string(le(dsf, 56, 4)) + ">\nbit number <" +
           std::to_string(le(dsf, 60, 4)) + ">\nsample number <" + std::to_string(le(dsf, 64, 8)) +
           ">\nDSD Data size <" + std::to_string(le(dsf, 84, 8) - 12) + ">\n";
}

}  // namespace dsd::test
