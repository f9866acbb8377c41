#include "byte_order.hpp"
#include "dsdiff.hpp"

namespace dsd {
namespace {

// Seconds and samples from the hours of a 16-bit field: below 2^28 x 2^32.
std::int64_t samples_since_midnight(const DffTimecode& t, std::uint32_t rate) {
    const std::int64_t seconds = 3600 * std::int64_t{t.hours} + 60 * std::int64_t{t.minutes} +
                                 std::int64_t{t.seconds};
    return seconds * std::int64_t{rate} + std::int64_t{t.samples};
}

}  // namespace

DffTimecode parse_dff_timecode(std::span<const std::uint8_t> data) {
    return {load_be16(data), data[2], data[3], load_be32(data.subspan(4))};
}

std::optional<DffMarker> parse_dff_marker(std::span<const std::uint8_t> data) {
    if (data.size() < dff_marker_fields_size) {
        return std::nullopt;
    }
    const std::uint32_t length = load_be32(data.subspan(18));
    if (length > data.size() - dff_marker_fields_size) {
        return std::nullopt;
    }
    DffMarker marker;
    marker.time = parse_dff_timecode(data);
    marker.offset = static_cast<std::int32_t>(load_be32(data.subspan(8)));
    marker.type = load_be16(data.subspan(12));
    marker.channel = load_be16(data.subspan(14));
    marker.track_flags = load_be16(data.subspan(16));
    const auto text = data.subspan(dff_marker_fields_size, length);
    marker.text.assign(text.begin(), text.end());
    return marker;
}

std::int64_t dff_marker_position(const DffMarker& marker, const DffTimecode& sound_start,
                                 std::uint32_t rate) {
    return samples_since_midnight(marker.time, rate) + marker.offset -
           samples_since_midnight(sound_start, rate);
}

}  // namespace dsd
