#include "track_plan.hpp"

#include <algorithm>
#include <limits>
#include <optional>

namespace dsd {
namespace {

TrackPlan refused(TrackPlanError error, std::uint64_t detail) {
    TrackPlan plan;
    plan.error = error;
    plan.detail = detail;
    return plan;
}

TrackPlan cue_refused(CueError error, std::size_t line) {
    TrackPlan plan = refused(TrackPlanError::cue, line);
    plan.cue_error = error;
    return plan;
}

// Sets each track's end to the next one's start and the last one's to
// `end_byte`; refuses a track without a byte of its own.
TrackPlan finish(TrackPlan plan, std::uint64_t end_byte) {
    if (plan.tracks.size() > max_tracks) {
        return refused(TrackPlanError::too_many_tracks, plan.tracks.size());
    }
    for (std::size_t i = 0; i < plan.tracks.size(); ++i) {
        auto& track = plan.tracks[i];
        track.end_byte = i + 1 < plan.tracks.size() ? plan.tracks[i + 1].first_byte : end_byte;
        if (track.end_byte <= track.first_byte) {
            return refused(TrackPlanError::track_too_short, i + 1);
        }
    }
    return plan;
}

struct Cut {
    std::int64_t position = 0;  // in samples
    const DffMarker* marker = nullptr;
};

}  // namespace

TrackPlan plan_tracks(std::span<const DffMarker> markers, const DffTimecode& sound_start,
                      std::uint32_t rate, std::uint64_t bytes_per_channel) {
    // Sound longer than 2^60 bytes is beyond any file system.
    const auto samples = static_cast<std::int64_t>(
        std::min<std::uint64_t>(bytes_per_channel, std::uint64_t{1} << 60) * 8);
    std::vector<Cut> cuts;
    for (std::size_t i = 0; i < markers.size(); ++i) {
        const DffMarker& m = markers[i];
        const bool cutting = m.is(DffMarkerType::track_start) || m.is(DffMarkerType::track_stop) ||
                             m.is(DffMarkerType::program_start);
        if (!cutting || m.channel != 0) {
            continue;
        }
        const std::int64_t p = dff_marker_position(m, sound_start, rate);
        if (p < 0 || p > samples) {
            return refused(TrackPlanError::marker_outside, i);
        }
        cuts.push_back({p, &m});
    }
    std::stable_sort(cuts.begin(), cuts.end(),
                     [](const Cut& a, const Cut& b) { return a.position < b.position; });

    std::optional<std::int64_t> program_start;
    std::optional<std::int64_t> last_stop;
    TrackPlan plan;
    std::int64_t last_start = 0;
    for (const Cut& cut : cuts) {
        if (cut.marker->is(DffMarkerType::program_start)) {
            if (!program_start) {
                program_start = cut.position;
            }
        } else if (cut.marker->is(DffMarkerType::track_stop)) {
            last_stop = cut.position;
        } else {
            PlannedTrack track;
            track.first_byte = static_cast<std::uint64_t>(cut.position) / 8;
            track.title = cut.marker->text;
            plan.tracks.push_back(std::move(track));
            last_start = cut.position;
        }
    }
    if (plan.tracks.empty()) {
        return refused(TrackPlanError::no_tracks, 0);
    }
    if (program_start) {
        plan.tracks.front().first_byte = std::min(plan.tracks.front().first_byte,
                                                  static_cast<std::uint64_t>(*program_start) / 8);
    }
    const std::int64_t end = last_stop && *last_stop > last_start ? *last_stop : samples;
    return finish(std::move(plan), static_cast<std::uint64_t>(end) / 8);
}

TrackPlan plan_tracks(const CueSheet& sheet, std::uint32_t rate, std::uint64_t bytes_per_channel) {
    if (sheet.tracks.empty()) {
        return refused(TrackPlanError::no_tracks, 0);
    }
    const std::uint64_t samples = bytes_per_channel * 8;
    // frames x rate / 75 without a product that could wrap.
    const auto sample_of = [&](const CueIndex& index) -> std::optional<std::uint64_t> {
        const std::uint64_t seconds = index.frames / cue_frames_per_second;
        const std::uint64_t rest = index.frames % cue_frames_per_second;
        if (rate != 0 && seconds > std::numeric_limits<std::uint64_t>::max() / 2 / rate) {
            return std::nullopt;
        }
        const std::uint64_t at = seconds * rate + rest * rate / cue_frames_per_second;
        return at < samples ? std::optional(at) : std::nullopt;
    };
    TrackPlan plan;
    for (const CueTrack& t : sheet.tracks) {
        for (const auto& index : {t.pregap, std::optional(t.start)}) {
            if (index && !sample_of(*index)) {
                return cue_refused(CueError::past_end, index->line);
            }
        }
        for (const CueIndex& index : t.later) {
            if (!sample_of(index)) {
                return cue_refused(CueError::past_end, index.line);
            }
        }
        const CueIndex& start = plan.tracks.empty() && t.pregap ? *t.pregap : t.start;
        PlannedTrack track;
        track.first_byte = *sample_of(start) / 8;
        track.title = t.title;
        track.performer = t.performer;
        plan.tracks.push_back(std::move(track));
    }
    return finish(std::move(plan), bytes_per_channel);
}

}  // namespace dsd
