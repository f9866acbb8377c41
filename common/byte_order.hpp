// Explicit little- and big-endian field access over byte spans. Every binary
// field in the suite goes through these, so no code depends on host order or
// on struct layout.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace dsd {

inline std::uint16_t load_le16(std::span<const std::uint8_t> b) {
    return static_cast<std::uint16_t>(b[0] | (b[1] << 8));
}

inline std::uint32_t load_le32(std::span<const std::uint8_t> b) {
    return static_cast<std::uint32_t>(b[0]) | static_cast<std::uint32_t>(b[1]) << 8 |
           static_cast<std::uint32_t>(b[2]) << 16 | static_cast<std::uint32_t>(b[3]) << 24;
}

inline std::uint64_t load_le64(std::span<const std::uint8_t> b) {
    return static_cast<std::uint64_t>(load_le32(b.subspan(4, 4))) << 32 | load_le32(b.first(4));
}

inline std::uint16_t load_be16(std::span<const std::uint8_t> b) {
    return static_cast<std::uint16_t>(b[0] << 8 | b[1]);
}

inline std::uint32_t load_be32(std::span<const std::uint8_t> b) {
    return static_cast<std::uint32_t>(b[0]) << 24 | static_cast<std::uint32_t>(b[1]) << 16 |
           static_cast<std::uint32_t>(b[2]) << 8 | static_cast<std::uint32_t>(b[3]);
}

inline std::uint64_t load_be64(std::span<const std::uint8_t> b) {
    return static_cast<std::uint64_t>(load_be32(b.first(4))) << 32 | load_be32(b.subspan(4, 4));
}

inline void store_le16(std::span<std::uint8_t> b, std::uint16_t v) {
    b[0] = static_cast<std::uint8_t>(v);
    b[1] = static_cast<std::uint8_t>(v >> 8);
}

inline void store_le32(std::span<std::uint8_t> b, std::uint32_t v) {
    for (std::size_t i = 0; i < 4; ++i) {
        b[i] = static_cast<std::uint8_t>(v >> (8 * i));
    }
}

inline void store_le64(std::span<std::uint8_t> b, std::uint64_t v) {
    for (std::size_t i = 0; i < 8; ++i) {
        b[i] = static_cast<std::uint8_t>(v >> (8 * i));
    }
}

inline void store_be16(std::span<std::uint8_t> b, std::uint16_t v) {
    b[0] = static_cast<std::uint8_t>(v >> 8);
    b[1] = static_cast<std::uint8_t>(v);
}

inline void store_be32(std::span<std::uint8_t> b, std::uint32_t v) {
    for (std::size_t i = 0; i < 4; ++i) {
        b[i] = static_cast<std::uint8_t>(v >> (24 - 8 * i));
    }
}

inline void store_be64(std::span<std::uint8_t> b, std::uint64_t v) {
    for (std::size_t i = 0; i < 8; ++i) {
        b[i] = static_cast<std::uint8_t>(v >> (56 - 8 * i));
    }
}

}  // namespace dsd
