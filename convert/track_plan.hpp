// Where an edited master's tracks lie in its sound, from its markers or from
// a CUE sheet. Every sample of the program lands in exactly one track: a
// pause belongs to the end of the track before it, the first pause (or
// pregap) to the start of track 1. Cuts fall on whole bytes of each channel
// (8 samples); a position between two is taken down to the first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "cue.hpp"
#include "dsdiff.hpp"

namespace dsd {

inline constexpr std::size_t max_tracks = 255;

struct PlannedTrack {
    std::uint64_t first_byte = 0;  // of each channel, from the sound's start
    std::uint64_t end_byte = 0;    // one past the last
    std::string title;             // the marker's text or the CUE TITLE, as stored
    std::string performer;         // the CUE PERFORMER, as stored
};

enum class TrackPlanError {
    none,
    no_tracks,        // no TrackStart marker, or no TRACK in the CUE sheet
    marker_outside,   // detail: the marker's index in file order, from 0
    too_many_tracks,  // detail: how many
    track_too_short,  // detail: the track's number, from 1: no whole byte of its own
    cue,              // cue_error and detail (the line)
};

struct TrackPlan {
    TrackPlanError error = TrackPlanError::none;
    std::uint64_t detail = 0;
    CueError cue_error = CueError::none;
    std::vector<PlannedTrack> tracks;
};

// From the markers in file order. Only TrackStart, TrackStop and
// ProgramStart markers of all channels cut; each of those must lie within
// the sound (its end included). The program runs from its ProgramStart, or
// the first TrackStart when that comes earlier or there is none, to the
// last TrackStop when that comes after the last TrackStart, else to the end
// of the sound.
TrackPlan plan_tracks(std::span<const DffMarker> markers, const DffTimecode& sound_start,
                      std::uint32_t rate, std::uint64_t bytes_per_channel);

// From a parsed sheet: track n starts at its INDEX 01, track 1 at its
// INDEX 00 when it has one; the last track runs to the end of the sound.
// Every INDEX, whether it cuts or not, must lie before the sound's end.
// A frame is rate / 75 samples.
TrackPlan plan_tracks(const CueSheet& sheet, std::uint32_t rate, std::uint64_t bytes_per_channel);

}  // namespace dsd
