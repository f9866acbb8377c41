// An independent, deliberately plain statement of what a converter must
// write for a given DSF file, for comparing outputs byte for byte.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace dsd::test {

inline std::uint64_t le(const std::vector<std::uint8_t>& b, std::size_t at, int n) {
    std::uint64_t v = 0;
    for (int i = n - 1; i >= 0; --i) {
        v = v << 8 | b[at + static_cast<std::size_t>(i)];
    }
    return v;
}

inline void put_le(std::vector<std::uint8_t>& b, std::size_t at, std::uint64_t v, int n) {
    for (int i = 0; i < n; ++i) {
        b[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
    }
}

inline void put_be(std::vector<std::uint8_t>& b, std::size_t at, std::uint64_t v, int n) {
    for (int i = 0; i < n; ++i) {
        b[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * (n - 1 - i)));
    }
}

inline std::uint8_t mirror(std::uint8_t x) {
    std::uint8_t r = 0;
    for (int i = 0; i < 8; ++i) {
        if (x & (1 << i)) {
            r |= static_cast<std::uint8_t>(0x80 >> i);
        }
    }
    return r;
}

// Where byte i of a channel (0 left, 1 right) of a stereo DSF's sound lies:
// 4096-byte blocks from offset 92, left and right in turn.
inline std::uint64_t dsf_byte_at(std::uint64_t i, std::uint64_t channel) {
    return 92 + i / 4096 * 8192 + channel * 4096 + i % 4096;
}

struct SoundExtent {
    std::uint64_t per_channel = 0;  // bytes each channel gives
    bool truncated = false;         // a byte it needs lies past the end of the file
};

// The bytes a converter takes from `dsf`, counted one index at a time: index
// i counts while the sample count asks for it (8 samples a byte) and both
// channels' bytes at i lie inside the data chunk (which ends at 80 + its size
// field). Never looks past the end of the file.
inline SoundExtent dsf_sound_extent(const std::vector<std::uint8_t>& dsf) {
    const std::uint64_t samples = le(dsf, 64, 8);
    const std::uint64_t chunk_size = le(dsf, 84, 8);
    SoundExtent extent;
    for (std::uint64_t i = 0;; ++i) {
        if (i * 8 >= samples || dsf_byte_at(i, 1) - 80 >= chunk_size) {
            return extent;
        }
        if (dsf_byte_at(i, 1) >= dsf.size()) {
            extent.truncated = true;
            return extent;
        }
        ++extent.per_channel;
    }
}

// The DFF a converter writes for `dsf` (a well-formed stereo DSF), declared
// at `rate`, with `tag` (possibly empty) as its "ID3 " chunk.
inline std::vector<std::uint8_t> expected_dff(const std::vector<std::uint8_t>& dsf,
                                              std::uint32_t rate,
                                              const std::vector<std::uint8_t>& tag = {}) {
    const bool lsb_first = le(dsf, 60, 4) == 1;
    const std::uint64_t per_channel = dsf_sound_extent(dsf).per_channel;

    std::vector<std::uint8_t> h(130, 0);
    // Byte by byte: GCC 12 for s390x takes a std::copy here for an overflow.
    auto put = [&](std::size_t at, std::string_view text) {
        for (std::size_t i = 0; i < text.size(); ++i) {
            h.at(at + i) = static_cast<std::uint8_t>(text[i]);
        }
    };
    put(0, "FRM8");
    put(12, "DSD ");
    put(16, "FVER");
    put_be(h, 20, 4, 8);
    put_be(h, 28, 0x01040000, 4);
    put(32, "PROP");
    put_be(h, 36, 74, 8);
    put(44, "SND ");
    put(48, "FS  ");
    put_be(h, 52, 4, 8);
    put_be(h, 60, rate, 4);
    put(64, "CHNL");
    put_be(h, 68, 10, 8);
    put_be(h, 76, 2, 2);
    put(78, "SLFT");
    put(82, "SRGT");
    put(86, "CMPR");
    put_be(h, 90, 20, 8);
    put(98, "DSD ");
    h[102] = 14;
    put(103, "not compressed");
    put(118, "DSD ");
    put_be(h, 122, 2 * per_channel, 8);

    std::vector<std::uint8_t> out = h;
    for (std::uint64_t i = 0; i < per_channel; ++i) {
        const std::uint8_t l = dsf[dsf_byte_at(i, 0)];
        const std::uint8_t r = dsf[dsf_byte_at(i, 1)];
        out.push_back(lsb_first ? mirror(l) : l);
        out.push_back(lsb_first ? mirror(r) : r);
    }
    if (!tag.empty()) {
        const std::size_t at = out.size();
        out.resize(at + 12);
        std::copy_n("ID3 ", 4, out.begin() + static_cast<std::ptrdiff_t>(at));
        put_be(out, at + 4, tag.size(), 8);
        out.insert(out.end(), tag.begin(), tag.end());
        if (tag.size() % 2 != 0) {
            out.push_back(0);
        }
    }
    put_be(out, 4, out.size() - 12, 8);
    return out;
}

}  // namespace dsd::test
