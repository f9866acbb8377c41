// Fuzzes where a split puts its tracks: the input read as a CUE sheet, and
// as the body of a "DIIN" chunk whose markers make the tracks. Whatever it
// says, the reading ends, and a plan that is not refused holds 1 to 255
// tracks inside the sound, each of at least one byte, one right after the
// other.
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "cue.hpp"
#include "dsdiff.hpp"
#include "rewrite_check.hpp"
#include "track_plan.hpp"

using namespace dsd::fuzz;

namespace {

constexpr std::uint32_t rate = 2822400;
constexpr std::uint64_t sound_bytes = 1000000;

void check(const dsd::TrackPlan& plan, std::uint64_t bytes) {
    if (plan.error != dsd::TrackPlanError::none) {
        require(plan.tracks.empty());
        return;
    }
    require(!plan.tracks.empty() && plan.tracks.size() <= dsd::max_tracks);
    for (std::size_t i = 0; i < plan.tracks.size(); ++i) {
        const auto& track = plan.tracks[i];
        require(track.first_byte < track.end_byte && track.end_byte <= bytes);
        require(i + 1 == plan.tracks.size() || track.end_byte == plan.tracks[i + 1].first_byte);
    }
}

void append_be64(std::vector<std::uint8_t>& out, std::uint64_t v) {
    for (int shift = 56; shift >= 0; shift -= 8) {
        out.push_back(static_cast<std::uint8_t>(v >> shift));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const dsd::CueResult cue = dsd::parse_cue(text);
    if (cue.error == dsd::CueError::none) {
        check(dsd::plan_tracks(cue.sheet, rate, sound_bytes), sound_bytes);
        check(dsd::plan_tracks(cue.sheet, 5644800, 10), 10);
    } else {
        require(cue.line >= 1);
    }

    // "FRM8" size "DSD " "DIIN" size, the input, a pad byte.
    std::vector<std::uint8_t> file{'F', 'R', 'M', '8'};
    append_be64(file, 4 + 12 + size + (size & 1));
    file.insert(file.end(), {'D', 'S', 'D', ' ', 'D', 'I', 'I', 'N'});
    append_be64(file, size);
    file.insert(file.end(), data, data + size);
    if ((size & 1) != 0) {
        file.push_back(0);
    }
    const auto source = dsd::memory_source(std::span<const std::uint8_t>(file));
    const dsd::DffWalk walk = dsd::walk_dff(source);
    require(walk.error == dsd::DffWalkError::none && walk.diin.has_value());
    const dsd::DffDiin diin = dsd::read_dff_diin(source, *walk.diin);
    require(diin.error != dsd::DffWalkError::unreadable);
    for (const auto& marker : diin.markers) {
        require(marker.text.size() <= dsd::dff_max_text_length);
    }
    // From the start of the day and from a start time of the first bytes.
    check(dsd::plan_tracks(diin.markers, {}, rate, sound_bytes), sound_bytes);
    if (size >= dsd::dff_timecode_size) {
        const auto start = dsd::parse_dff_timecode(std::span(data, size));
        check(dsd::plan_tracks(diin.markers, start, 0xFFFFFFFF, sound_bytes), sound_bytes);
    }
    return 0;
}
