#include "byte_order.hpp"
#include "dsdiff.hpp"

namespace dsd {
namespace {

// Seconds and samples from the hours of a 16-bit field: below 2^28 x 2^32.
std::int64_t samples_since_midnight(const DffTimecode& t, std::uint32_t rate) {
    const std::int64_t seconds =
        3600 * std::int64_t{t.hours} + 60 * std::int64_t{t.minutes} + std::int64_t{t.seconds};
    return seconds * std::int64_t{rate} + std::int64_t{t.samples};
}

}  // namespace

DffTimecode parse_dff_timecode(std::span<const std::uint8_t> data) {
    return {load_be16(data), data[2], data[3], load_be32(data.subspan(4))};
}

std::int64_t dff_marker_position(const DffMarker& marker, const DffTimecode& sound_start,
                                 std::uint32_t rate) {
    return samples_since_midnight(marker.time, rate) + marker.offset -
           samples_since_midnight(sound_start, rate);
}

}  // namespace dsd
