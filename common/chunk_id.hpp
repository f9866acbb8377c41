// Four-character chunk identifiers, as DSF, DSDIFF and RIFF all use them.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <span>
#include <string_view>

namespace dsd {

using ChunkId = std::array<std::uint8_t, 4>;

// True when the span starts with the four-character identifier `id`.
inline bool has_id(std::span<const std::uint8_t> bytes, std::string_view id) {
    return bytes.size() >= 4 && id.size() == 4 &&
           std::equal(id.begin(), id.end(), bytes.begin(),
                      [](char c, std::uint8_t b) { return static_cast<std::uint8_t>(c) == b; });
}

}  // namespace dsd
