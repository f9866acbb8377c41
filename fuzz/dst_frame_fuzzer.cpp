// Fuzzes the DST frame decoder: byte 0 picks the channel count (1 to 6),
// byte 1 the rate (8, 16, 32 or 64 x 44100 Hz), the rest is one frame.
// Besides the sanitizers (the frame is a buffer of exactly its size, so any
// read past it is caught), a stored frame must decode to its bytes, and a
// second decoding of the same frame by the same decoder must agree.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <span>
#include <vector>

#include "dst.hpp"

namespace {

void require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using dsd::dst::FrameStatus;
    if (size < 2) {
        return 0;
    }
    const unsigned channels = 1 + data[0] % dsd::dst::max_channels;
    const std::uint32_t rate = (8u << (data[1] & 3)) * 44100;
    const std::size_t L = dsd::dst::frame_bytes_per_channel(rate);
    const std::span<const std::uint8_t> frame(data + 2, size - 2);

    static std::unique_ptr<dsd::dst::FrameDecoder> decoders[dsd::dst::max_channels][4];
    auto& decoder = decoders[channels - 1][data[1] & 3];
    if (!decoder) {
        decoder = std::make_unique<dsd::dst::FrameDecoder>(channels, L);
    }
    std::vector<std::uint8_t> sound(channels * L);
    const FrameStatus status = decoder->decode(frame, sound);
    if (!frame.empty() && (frame[0] & 0x80) == 0) {
        const bool stored_ok = (frame[0] & 0x3F) == 0 && frame.size() > sound.size();
        require((status == FrameStatus::ok) == stored_ok);
        require(!stored_ok || std::memcmp(sound.data(), frame.data() + 1, sound.size()) == 0);
    }
    std::vector<std::uint8_t> again(sound.size());
    require(decoder->decode(frame, again) == status);
    require(status != FrameStatus::ok || again == sound);
    return 0;
}
