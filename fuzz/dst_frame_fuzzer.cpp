// Fuzzes the DST frame decoder: byte 0 picks the channel count (1 to 6),
// the low bits of byte 1 the rate (8, 16, 32 or 64 x 44100 Hz), the rest is
// one frame. Besides the sanitizers (the frame is a buffer of exactly its
// size, so any read past it is caught), a stored frame must decode to its
// bytes, a second decoding must agree with the first, and, when bit 2 of
// byte 1 is set, decoding the frame together with itself, or with its
// first half, must give what each gives alone.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <span>
#include <vector>

#include "dst.hpp"

namespace {

using dsd::dst::FrameDecoder;
using dsd::dst::FrameStatus;

void require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

struct Decoded {
    FrameStatus status;
    std::vector<std::uint8_t> sound;
    bool operator==(const Decoded& o) const {
        return status == o.status && (status != FrameStatus::ok || sound == o.sound);
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) {
        return 0;
    }
    const unsigned channels = 1 + data[0] % dsd::dst::max_channels;
    const unsigned rate_index = data[1] & 3;
    const std::size_t L = dsd::dst::frame_bytes_per_channel((8u << rate_index) * 44100);
    const std::span<const std::uint8_t> frame(data + 2, size - 2);

    static std::unique_ptr<dsd::dst::FrameDecoder> decoders[dsd::dst::max_channels][4];
    auto& decoder = decoders[channels - 1][rate_index];
    if (!decoder) {
        decoder = std::make_unique<dsd::dst::FrameDecoder>(channels, L);
    }
    const auto alone = [&](std::span<const std::uint8_t> f) {
        Decoded d{FrameStatus::ok, std::vector<std::uint8_t>(channels * L)};
        d.status = decoder->decode(f, d.sound);
        return d;
    };
    const Decoded once = alone(frame);
    if (!frame.empty() && (frame[0] & 0x80) == 0) {
        const bool stored_ok = (frame[0] & 0x3F) == 0 && frame.size() > once.sound.size();
        require((once.status == FrameStatus::ok) == stored_ok);
        require(!stored_ok ||
                std::memcmp(once.sound.data(), frame.data() + 1, once.sound.size()) == 0);
    }
    require(alone(frame) == once);

    if ((data[1] & 4) != 0) {
        const std::span<const std::uint8_t> half = frame.first(frame.size() / 2);
        const Decoded half_alone = alone(half);
        // Decoded together with another frame or two, each gives what it
        // gives alone.
        for (const auto& other : {std::make_pair(frame, once), std::make_pair(half, half_alone)}) {
            for (const std::size_t count : {2, 3}) {
                std::vector<Decoded> together(
                    count, Decoded{FrameStatus::ok, std::vector<std::uint8_t>(channels * L)});
                std::vector<FrameDecoder::Job> jobs;
                for (std::size_t k = 0; k < count; ++k) {
                    jobs.push_back({k == 1 ? other.first : frame, together[k].sound});
                }
                decoder->decode(jobs);
                for (std::size_t k = 0; k < count; ++k) {
                    together[k].status = jobs[k].status;
                    require(together[k] == (k == 1 ? other.second : once));
                }
            }
        }
    }
    return 0;
}
