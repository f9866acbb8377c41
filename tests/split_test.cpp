// The pieces of the track splitter on data built in memory: markers and
// "ID3 " chunks as the DSDIFF walk reads them, CUE sheets, where the tracks
// lie, and what they are called and tagged.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cue.hpp"
#include "dff_builder.hpp"
#include "dsdiff.hpp"
#include "edited_master.hpp"
#include "id3_tag.hpp"
#include "track_names.hpp"
#include "track_plan.hpp"

namespace dsd {
namespace {

namespace gen = testgen;
using gen::Bytes;

constexpr std::uint32_t fs64 = 2822400;
constexpr std::int64_t frame64 = 37632;  // samples of 1/75 s at DSD64

DffDiin diin_of(const Bytes& file, DffWalk& walk) {
    walk = walk_dff(memory_source(file));
    EXPECT_EQ(walk.error, DffWalkError::none);
    return walk.diin ? read_dff_diin(memory_source(file), *walk.diin) : DffDiin{};
}

TEST(SplitMarkers, ReadInFileOrderWithEveryField) {
    gen::EditedMaster master;
    master.start = gen::Timecode{10, 0, 0, 0};
    master.master_id = std::string("EM-1\0\0", 6);
    master.markers = {{gen::program_start, fs64, 0, ""},
                      {gen::track_start, 3 * fs64, -150528, "Odd"},
                      {gen::index_mark, 4 * fs64, 0, "", 2}};
    master.tags.assign(300, Bytes{'I', 'D', '3'});
    DffWalk walk;
    const DffDiin diin = diin_of(gen::edited_master_file(master, gen::pattern_bytes(16)), walk);
    EXPECT_EQ(diin.error, DffWalkError::none);
    EXPECT_EQ(diin.master_id, std::string("EM-1\0\0", 6));
    ASSERT_EQ(diin.markers.size(), 3u);
    const DffMarker& start = diin.markers[1];
    EXPECT_EQ(start.time.hours, 10);
    EXPECT_EQ(start.time.minutes, 0);
    EXPECT_EQ(start.time.seconds, 3);
    EXPECT_EQ(start.time.samples, 150528u);
    EXPECT_EQ(start.offset, -150528);
    EXPECT_TRUE(start.is(DffMarkerType::track_start));
    EXPECT_EQ(start.text, "Odd");
    EXPECT_EQ(diin.markers[2].channel, 2);
    EXPECT_TRUE(diin.markers[2].is(DffMarkerType::index));
    // Every tag chunk is counted; the first 256 are kept.
    EXPECT_EQ(walk.tag_chunk_count, 300u);
    EXPECT_EQ(walk.tag_chunks.size(), dff_max_kept_tag_chunks);
    ASSERT_TRUE(walk.start_time);
    EXPECT_EQ(walk.start_time->size, 8u);

    // A text longer than its chunk breaks the walk there.
    const Bytes broken =
        gen::dff_form({gen::dff_chunk("DIIN", gen::dff_mark({}, 0, 0, 0, "abc", 4))});
    const DffDiin d = diin_of(broken, walk);
    EXPECT_EQ(d.error, DffWalkError::wrong_chunk_size);
    EXPECT_TRUE(d.markers.empty());
}

TEST(SplitMarkers, PositionsAreExactForEveryFieldValue) {
    DffMarker m;
    // The example of an edited master starting at 10:00:00.
    const DffTimecode ten{10, 0, 0, 0};
    m.time = {10, 0, 1, 0};
    EXPECT_EQ(dff_marker_position(m, ten, fs64), 2822400);
    m.time = {10, 0, 3, 0};
    m.offset = -150528;
    EXPECT_EQ(dff_marker_position(m, ten, fs64), 8316672);
    // Before the sound, and the largest values there are.
    EXPECT_EQ(dff_marker_position(m, {10, 0, 3, 0}, fs64), -150528);
    m.time = {65535, 255, 255, 0xFFFFFFFF};
    m.offset = 0;
    const std::uint32_t rate = 0xFFFFFFFF;
    EXPECT_EQ(dff_marker_position(m, {}, rate),
              ((65535 * 3600 + 255 * 60 + 255) + 1) * std::int64_t{rate});
    EXPECT_EQ(dff_marker_position(DffMarker{}, m.time, rate),
              -((65535 * 3600 + 255 * 60 + 255) + 1) * std::int64_t{rate});
}

// Markers at sample positions, stored as times after `start`.
std::vector<DffMarker> markers(const std::vector<gen::Marker>& list,
                               std::optional<gen::Timecode> start = std::nullopt) {
    gen::EditedMaster master;
    master.start = start;
    master.markers = list;
    DffWalk walk;
    return diin_of(gen::edited_master_file(master, {}), walk).markers;
}

struct Cut {
    std::uint64_t first;
    std::uint64_t end;
    std::string title;
    bool operator==(const Cut&) const = default;
};

std::vector<Cut> cuts(const TrackPlan& plan) {
    EXPECT_EQ(plan.error, TrackPlanError::none) << plan.detail;
    std::vector<Cut> out;
    for (const auto& t : plan.tracks) {
        out.push_back({t.first_byte, t.end_byte, t.title});
    }
    return out;
}

TEST(SplitPlan, TracksFromMarkersCoverTheProgramGaplessly) {
    const gen::Timecode ten{10, 0, 0, 0};
    const std::uint64_t sound = 20 * frame64;  // bytes of each channel: 20 x 1/75 s x 8
    const std::uint64_t f = frame64 / 8;       // bytes of 1/75 s
    const DffTimecode start{10, 0, 0, 0};
    // A first pause, a pause between tracks 2 and 3, an index and a
    // one-channel marker inside tracks, a post-roll; file order need not be
    // time order.
    const auto m = markers({{gen::program_start, 2 * frame64},
                            {gen::track_start, 4 * frame64, -4 * frame64, "One"},
                            {gen::index_mark, 5 * frame64},
                            {gen::track_start, 6 * frame64, 0, "Two"},
                            {gen::track_stop, 9 * frame64},
                            {gen::track_stop, 15 * frame64},
                            {gen::track_start, 10 * frame64, 0, "Three"},
                            {gen::track_start, 12 * frame64, 0, "", 1}},
                           ten);
    EXPECT_EQ(cuts(plan_tracks(m, start, fs64, sound)),
              (std::vector<Cut>{
                  {2 * f, 6 * f, "One"}, {6 * f, 10 * f, "Two"}, {10 * f, 15 * f, "Three"}}));

    // No ProgramStart, no TrackStop, no ABSS: the first TrackStart to the end.
    // Positions between bytes are taken down.
    EXPECT_EQ(cuts(plan_tracks(
                  markers({{gen::track_start, 8 * 100 + 7}, {gen::track_start, 8 * 200 + 1}}), {},
                  fs64, 1000)),
              (std::vector<Cut>{{100, 200, ""}, {200, 1000, ""}}));
    // A ProgramStart after the first TrackStart, a TrackStop before the last
    // TrackStart, a TrackStart at the very start.
    EXPECT_EQ(cuts(plan_tracks(markers({{gen::track_start, 0},
                                        {gen::program_start, 80},
                                        {gen::track_stop, 160},
                                        {gen::track_start, 240}}),
                               {}, fs64, 100)),
              (std::vector<Cut>{{0, 30, ""}, {30, 100, ""}}));
}

TEST(SplitPlan, MarkerRefusals) {
    const auto refusal = [](const std::vector<gen::Marker>& list, std::uint64_t bytes = 1000) {
        const TrackPlan plan = plan_tracks(markers(list), {}, fs64, bytes);
        EXPECT_TRUE(plan.tracks.empty());
        return std::pair(plan.error, plan.detail);
    };
    using E = TrackPlanError;
    EXPECT_EQ(refusal({}), std::pair(E::no_tracks, std::uint64_t{0}));
    EXPECT_EQ(refusal({{gen::program_start, 0}, {gen::index_mark, 8}, {gen::track_stop, 80}}),
              std::pair(E::no_tracks, std::uint64_t{0}));
    // The first such marker in file order; ignored markers count in the
    // index but may lie anywhere. The end of the sound is inside it.
    EXPECT_EQ(refusal({{gen::index_mark, 9000},
                       {gen::track_start, 0, 0, "", 3},
                       {gen::track_start, 8000},
                       {gen::track_stop, 8001},
                       {gen::track_start, 8 * 1000 + 1}}),
              std::pair(E::marker_outside, std::uint64_t{3}));
    EXPECT_EQ(refusal({{gen::track_start, 16}, {gen::program_start, 8, 9}}),
              std::pair(E::marker_outside, std::uint64_t{1}));
    // Two starts inside one byte leave the first track nothing.
    EXPECT_EQ(refusal({{gen::track_start, 8}, {gen::track_start, 12}, {gen::track_start, 800}}),
              std::pair(E::track_too_short, std::uint64_t{1}));
    EXPECT_EQ(refusal({{gen::track_start, 8}, {gen::track_start, 8000}}),
              std::pair(E::track_too_short, std::uint64_t{2}));
    std::vector<gen::Marker> many;
    many.reserve(256);
    for (int i = 0; i < 256; ++i) {
        many.push_back({gen::track_start, 8 * i});
    }
    EXPECT_EQ(refusal(many), std::pair(E::too_many_tracks, std::uint64_t{256}));
    many.pop_back();
    EXPECT_EQ(plan_tracks(markers(many), {}, fs64, 1000).tracks.size(), 255u);
}

TEST(SplitCue, ASheetAsWritersWriteThem) {
    const std::string sheet =
        "\xEF\xBB\xBFREM GENRE Classical\r\n"
        "PERFORMER \"The Band\"\r\n"
        "title Bare Album Title  \r\n"
        "DISC_ID 8A0B2C0D\r\n"
        "UPC_EAN 0123456789012\r\n"
        "TOC_INFO1 \"0 150 20000\"\r\n"
        "toc_info2 x\r\n"
        "SIZE_INFO 0 1 2 3\r\n"
        "FILE \"album.dff\" WAVE\r\n"
        "\r\n"
        "  TRACK 01 AUDIO\r\n"
        "    TITLE \"First\"\r\n"
        "    INDEX 00 00:00:00\r\n"
        "    INDEX 01 00:02:00\r\n"
        "  TRACK 2 audio\r\n"
        "    TITLE \"Caf\xe9\"\r\n"
        "    PERFORMER Guest\r\n"
        "    FLAGS DCP\r\n"
        "    INDEX 00 03:59:70\r\n"
        "    INDEX 01 04:01:00\n"
        "    INDEX 02 04:30:00\n"
        "    COMPOSER \"Someone\"\n"
        "    Arranger Other\n"
        "    MESSAGE \"a message\"\n"
        "    GENRE Jazz\n"
        "FILE \"other.dff\" WAVE\n"
        "  TRACK 03 AUDIO\n"
        "    INDEX 01 09:00:00\n"
        "anything at all\n";
    const CueResult r = parse_cue(sheet);
    ASSERT_EQ(r.error, CueError::none) << r.line;
    EXPECT_EQ(r.sheet.title, "Bare Album Title");
    EXPECT_EQ(r.sheet.performer, "The Band");
    ASSERT_EQ(r.sheet.tracks.size(), 2u);
    const CueTrack& one = r.sheet.tracks[0];
    EXPECT_EQ(one.number, 1u);
    EXPECT_EQ(one.title, "First");
    ASSERT_TRUE(one.pregap);
    EXPECT_EQ(one.pregap->frames, 0u);
    EXPECT_EQ(one.start.frames, 150u);
    EXPECT_EQ(one.start.line, 14u);
    const CueTrack& two = r.sheet.tracks[1];
    EXPECT_EQ(two.title, "Caf\xe9");
    EXPECT_EQ(two.performer, "Guest");
    EXPECT_EQ(two.pregap->frames, (3 * 60 + 59) * 75 + 70u);
    EXPECT_EQ(two.start.frames, (4 * 60 + 1) * 75u);
    ASSERT_EQ(two.later.size(), 1u);
    EXPECT_EQ(two.later[0].frames, (4 * 60 + 30) * 75u);
    EXPECT_EQ(two.later[0].line, 21u);

    // Tracks: track 1 from its pregap, track 2's pregap the end of track 1,
    // the last to the end. A frame is fs / 75 samples at every rate.
    const std::uint64_t bytes = 5 * 60 * 5644800 / 8;
    const TrackPlan plan = plan_tracks(r.sheet, 5644800, bytes);
    EXPECT_EQ(cuts(plan),
              (std::vector<Cut>{{0, 241 * 705600, "First"}, {241 * 705600, bytes, "Caf\xe9"}}));
    EXPECT_EQ(plan.tracks[1].performer, "Guest");

    // Lines ended by a lone CR, as old Mac writers end them, or by any mix.
    const CueResult mac = parse_cue(
        "TITLE x\rFILE a.dff WAVE\r\nTRACK 01 AUDIO\n\rINDEX 01 00:00:00\r\rTRACK 02 AUDIO\r"
        "TITLE \"Two\"\rINDEX 01 00:01:00\r");
    ASSERT_EQ(mac.error, CueError::none) << mac.line;
    EXPECT_EQ(mac.sheet.title, "x");
    ASSERT_EQ(mac.sheet.tracks.size(), 2u);
    EXPECT_EQ(mac.sheet.tracks[1].title, "Two");
    EXPECT_EQ(mac.sheet.tracks[1].start.line, 9u);

    // UTF-16 of either byte order, as some Windows programs write: texts as
    // UTF-8, surrogate pairs joined.
    for (const bool big_endian : {false, true}) {
        const CueResult wide = parse_cue(
            gen::utf16_cue_text("TITLE \"Caf\xc3\xa9\"\r\nFILE a.dff WAVE\rTRACK 01 AUDIO\n"
                                "  TITLE \xe2\x99\xaa \xf0\x9f\x8e\xb5\r\n  INDEX 01 00:00:00\r\n",
                                big_endian));
        ASSERT_EQ(wide.error, CueError::none) << wide.line;
        EXPECT_EQ(wide.sheet.title, "Caf\xc3\xa9");
        ASSERT_EQ(wide.sheet.tracks.size(), 1u);
        EXPECT_EQ(wide.sheet.tracks[0].title, "\xe2\x99\xaa \xf0\x9f\x8e\xb5");
        EXPECT_EQ(wide.sheet.tracks[0].start.line, 5u);
    }
}

TEST(SplitCue, MalformedLinesAndPositionsNameTheirLine) {
    const std::string head = "FILE \"a.dff\" WAVE\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n";
    const struct {
        std::string text;
        CueError error;
        std::size_t line;
    } cases[] = {
        {"TRAK 01 AUDIO\n", CueError::unknown_command, 1},
        {"REM a\rREM b\r\n\r\nREM c\n\rTRAK\r", CueError::unknown_command, 6},
        {gen::utf16_cue_text("REM a\r\nREM b\rTRAK\n", false), CueError::unknown_command, 3},
        // UTF-16 with a surrogate alone or an odd last byte.
        {gen::utf16_cue_text("REM a\r\nREM b\rREM ", false) + std::string("\x00\xD8x\x00", 4),
         CueError::bad_utf16, 3},
        {gen::utf16_cue_text("REM\n", true) + std::string("\xDC\x00", 2), CueError::bad_utf16, 2},
        {gen::utf16_cue_text("\n", false) + std::string("\x3C\xD8", 2), CueError::bad_utf16, 2},
        {gen::utf16_cue_text("REM\n\n", false) + "A", CueError::bad_utf16, 3},
        {"TITLE \"open\n", CueError::no_closing_quote, 1},
        {"PERFORMER \"a\" b\n", CueError::text_after_value, 1},
        {"TITLE\n", CueError::no_value, 1},
        {head + "TRACK 00 AUDIO\n", CueError::bad_track, 4},
        {head + "TRACK 100 AUDIO\n", CueError::bad_track, 4},
        {head + "TRACK 02 MODE1/2352\n", CueError::not_audio, 4},
        {head + "TRACK 01 AUDIO\n", CueError::track_order, 4},
        {"INDEX 01 00:00:00\n", CueError::index_before_track, 1},
        {head + "TRACK 02 AUDIO\nINDEX 01 00:60:00\n", CueError::bad_index, 5},
        {head + "TRACK 02 AUDIO\nINDEX 01 00:01:75\n", CueError::bad_index, 5},
        {head + "TRACK 02 AUDIO\nINDEX 1 1:01\n", CueError::bad_index, 5},
        {head + "TRACK 02 AUDIO\nINDEX 01 00:02:00\nINDEX 00 00:01:00\n", CueError::index_order, 6},
        {head + "TRACK 02 AUDIO\nINDEX 00 00:02:00\nINDEX 01 00:01:00\n", CueError::position_order,
         6},
        {head + "TRACK 02 AUDIO\nINDEX 01 00:01:00\nINDEX 03 00:02:00\nINDEX 02 00:03:00\n",
         CueError::index_order, 7},
        {head + "TRACK 02 AUDIO\nINDEX 01 00:01:00\nINDEX 02 00:01:00\nINDEX 03 00:00:74\n",
         CueError::position_order, 7},
        {head + "INDEX 02 00:01:00\nTRACK 02 AUDIO\nINDEX 01 00:00:74\n", CueError::position_order,
         6},
        {head + "TRACK 02 AUDIO\nINDEX 01 00:00:00\n", CueError::position_order, 5},
        {head + "TRACK 02 AUDIO\nINDEX 02 00:01:00\nTRACK 03 AUDIO\n", CueError::no_start_index, 4},
        {head + "TRACK 02 AUDIO\n", CueError::no_start_index, 4},
    };
    for (const auto& c : cases) {
        const CueResult r = parse_cue(c.text);
        EXPECT_EQ(r.error, c.error) << c.text;
        EXPECT_EQ(r.line, c.line) << c.text;
    }
    // Positions at or past the end of the sound, found when planning.
    const auto past = [](const std::string& text, std::uint64_t bytes) {
        const CueResult r = parse_cue(text);
        EXPECT_EQ(r.error, CueError::none);
        const TrackPlan plan = plan_tracks(r.sheet, fs64, bytes);
        EXPECT_EQ(plan.error, TrackPlanError::cue);
        EXPECT_EQ(plan.cue_error, CueError::past_end);
        return plan.detail;
    };
    EXPECT_EQ(
        past(head + "TRACK 02 AUDIO\nINDEX 00 00:00:01\nINDEX 01 00:01:00\n", 75 * frame64 / 8),
        6u);
    EXPECT_EQ(past(head + "TRACK 02 AUDIO\nINDEX 01 999999999:00:00\n", 1000), 5u);
    // Indexes that do not cut, the first of them past the end named.
    const std::string later = head + "INDEX 02 00:00:70\nINDEX 03 00:01:00\nINDEX 04 00:01:01\n";
    EXPECT_EQ(past(later, frame64 * 75 / 8), 5u);
    EXPECT_EQ(past(later, (75 * frame64 + 8) / 8), 6u);
    EXPECT_EQ(plan_tracks(parse_cue(later).sheet, fs64, (76 * frame64 + 8) / 8).error,
              TrackPlanError::none);
    EXPECT_EQ(plan_tracks(parse_cue(head).sheet, fs64, 0).detail, 3u);
    EXPECT_EQ(plan_tracks(CueSheet{}, fs64, 1000).error, TrackPlanError::no_tracks);
}

TEST(SplitNames, NumberAndCleanTitle) {
    const struct {
        std::size_t number;
        std::string title;
        std::string name;
    } cases[] = {
        {1, "", "01.dsf"},
        {2, " \t ", "02.dsf"},
        {10, std::string("Title\0\0", 7), "10 - Title.dsf"},
        {100, "  A/B\x01\x7f\xc2\x85 C  ", "100 - A_B___ C.dsf"},
        {3, "Caf\xe9", "03 - Caf\xc3\xa9.dsf"},  // ISO-8859-1 in, UTF-8 out
        {4, "\xe6\x97\xa5\xe6\x9c\xac", "04 - \xe6\x97\xa5\xe6\x9c\xac.dsf"},
        {5, std::string(199, 'a') + "\xc3\xa9z", "05 - " + std::string(199, 'a') + ".dsf"},
        {6, std::string(198, 'a') + "\xc3\xa9z", "06 - " + std::string(198, 'a') + "\xc3\xa9.dsf"},
        {7, std::string(199, 'a') + " b", "07 - " + std::string(199, 'a') + ".dsf"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(track_file_name(c.number, c.title), c.name);
    }
    EXPECT_EQ(text_as_utf8(std::string("Bj\xf6rk\0", 6)), "Bj\xc3\xb6rk");
    EXPECT_EQ(text_as_utf8("Bj\xc3\xb6rk"), "Bj\xc3\xb6rk");
}

TEST(SplitTags, FramesInOrderEmptyOnesLeftOut) {
    const auto ids = [](const std::vector<Id3TextFrame>& frames) {
        std::string out;
        for (const auto& f : frames) {
            out += f.id + "=" + f.text + ";";
        }
        return out;
    };
    EXPECT_EQ(ids(track_tag_frames(3, 12, {"T", "P", "Al", "Ar"})),
              "TRCK=3/12;TIT2=T;TALB=Al;TPE1=P;TPE2=Ar;");
    EXPECT_EQ(ids(track_tag_frames(1, 1, {})), "TRCK=1/1;");
}

// A tag of one version holding `frames` (each already laid out).
Bytes tag_of(std::uint8_t major, std::uint8_t flags, const Bytes& body) {
    Bytes tag{'I', 'D', '3', major, 0, flags};
    for (const int shift : {21, 14, 7, 0}) {
        tag.push_back(static_cast<std::uint8_t>(body.size() >> shift & 0x7F));
    }
    tag.insert(tag.end(), body.begin(), body.end());
    return tag;
}

Bytes frame(const std::string& id, const Bytes& data, std::uint8_t major, std::uint16_t flags = 0) {
    Bytes out(id.begin(), id.end());
    const std::size_t n = data.size();
    if (major == 2) {
        out.insert(out.end(), {static_cast<std::uint8_t>(n >> 16),
                               static_cast<std::uint8_t>(n >> 8), static_cast<std::uint8_t>(n)});
    } else {
        const int step = major == 3 ? 8 : 7;
        for (const int k : {3, 2, 1, 0}) {
            out.push_back(static_cast<std::uint8_t>(n >> (step * k) & (major == 3 ? 0xFF : 0x7F)));
        }
        out.insert(out.end(),
                   {static_cast<std::uint8_t>(flags >> 8), static_cast<std::uint8_t>(flags)});
    }
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes unsynchronised(const Bytes& data) {
    Bytes out;
    for (const std::uint8_t b : data) {
        out.push_back(b);
        if (b == 0xFF) {
            out.push_back(0);
        }
    }
    return out;
}

TEST(SplitTags, TitleOfAnyTagVersion) {
    const Bytes latin{0, 'C', 'a', 'f', 0xE9, 0, 'x'};
    const Bytes utf16le{1, 0xFF, 0xFE, 'C', 0, 0x3D, 0xD8, 0x00, 0xDE, 0, 0};  // C, U+1F600
    const Bytes utf16be{2, 0, 'A', 0xD8, 0x00};                                // A, lone surrogate
    const std::string smile = "C\xf0\x9f\x98\x80";
    const Bytes other = frame("TPE1", {3, 'x'}, 4);
    EXPECT_EQ(id3_title(tag_of(2, 0, frame("TP1", {0, 'x'}, 2) + frame("TT2", latin, 2))),
              "Caf\xc3\xa9");
    EXPECT_EQ(id3_title(tag_of(3, 0, frame("TIT2", utf16le, 3))), smile);
    EXPECT_EQ(id3_title(tag_of(4, 0, other + frame("TIT2", utf16be, 4))), "A\xef\xbf\xbd");
    // Unsynchronised (FF 00 stands for FF) with an extended header.
    const Bytes extended{0, 0, 0, 6, 0, 0, 0, 0, 0, 0};  // 2.3: 6 bytes after the size
    EXPECT_EQ(
        id3_title(tag_of(3, 0xC0, unsynchronised(extended + frame("TIT2", {0, 0xFF, 'a'}, 3)))),
        "\xc3\xbf"
        "a");
    // 2.4: a frame unsynchronised with its data length before it; padding.
    EXPECT_EQ(
        id3_title(tag_of(4, 0,
                         frame("TIT2", Bytes{0, 0, 0, 3} + unsynchronised({0, 0xFF, 'b'}), 4, 3) +
                             Bytes(20, 0))),
        "\xc3\xbf"
        "b");
    // Valid UTF-8 kept; a UTF-8 frame that is not is read as ISO-8859-1.
    EXPECT_EQ(id3_title(tag_of(4, 0, frame("TIT2", {3, 0xC3, 0xA9}, 4))), "\xc3\xa9");
    EXPECT_EQ(id3_title(tag_of(4, 0, frame("TIT2", {3, 0xE9}, 4))), "\xc3\xa9");
    // What the builder makes reads back.
    const auto made = make_id3v24_tag(std::vector<Id3TextFrame>{{"TIT2", "\xe6\x97\xa5"}});
    ASSERT_TRUE(made);
    EXPECT_EQ(id3_title(*made), "\xe6\x97\xa5");
    // No title, compressed, cut short, not a tag.
    EXPECT_EQ(id3_title(tag_of(4, 0, other)), std::nullopt);
    EXPECT_EQ(id3_title(tag_of(4, 0, frame("TIT2", {0, 'a'}, 4, 0x08))), std::nullopt);
    Bytes cut = tag_of(3, 0, frame("TIT2", {0, 'a', 'b'}, 3));
    cut[17] = 9;
    EXPECT_EQ(id3_title(cut), std::nullopt);
    EXPECT_EQ(id3_title(Bytes{'T', 'A', 'G'}), std::nullopt);
    // A title longer than is read: what is read, without a cut character.
    Bytes cafes{3};
    for (std::size_t i = 0; i < 40000; ++i) {
        cafes.insert(cafes.end(), {0xC3, 0xA9});
    }
    std::string read;
    for (std::size_t i = 0; i < (id3_title_bytes_read - 1) / 2; ++i) {
        read += "\xc3\xa9";
    }
    EXPECT_EQ(id3_title(tag_of(4, 0, frame("TIT2", cafes, 4))), read);
    EXPECT_EQ(id3_title(tag_of(3, 0, frame("TIT2", cafes, 3, 0) + frame("TPE1", {0, 'x'}, 3))),
              read);
}

// A source of `bytes` that counts what is read from it and fails from
// offset `broken` on.
ByteSource counted_source(const Bytes& bytes, std::uint64_t& count,
                          std::uint64_t broken = UINT64_MAX) {
    return {
        bytes.size(), [&bytes, &count, broken](std::uint64_t offset, std::span<std::uint8_t> out) {
            count += out.size();
            return offset + out.size() <= broken && memory_source(bytes).read_exact(offset, out);
        }};
}

// Cover art before the title, larger than any buffer: the title is found
// reading frame headers only, in every version; a tag unsynchronised as a
// whole is read through.
TEST(SplitTags, TitleBehindLargeCoverArt) {
    const Bytes picture = Bytes{0, 'i', 'm', 'a', 'g', 'e', '/', 'p', 'n', 'g', 0, 3, 0} +
                          gen::pattern_bytes(1600000) + Bytes{0xFF, 0, 0xFF, 0xFF};
    const Bytes tags[] = {
        tag_of(2, 0, frame("PIC", picture, 2) + frame("TT2", {0, 'T', 'w', 'o'}, 2)),
        tag_of(3, 0, frame("APIC", picture, 3) + frame("TIT2", {0, 'T', 'w', 'o'}, 3)),
        tag_of(4, 0, frame("APIC", picture, 4) + frame("TIT2", {3, 'T', 'w', 'o'}, 4)),
    };
    for (const Bytes& tag : tags) {
        std::uint64_t count = 0;
        const Id3TitleRead r = read_id3_title(counted_source(tag, count), 0, tag.size());
        EXPECT_EQ(r.title, "Two");
        EXPECT_EQ(r.read_error, std::nullopt);
        EXPECT_LT(count, 20000u);
    }
    const Bytes whole = tag_of(
        3, 0x80, unsynchronised(frame("APIC", picture, 3) + frame("TIT2", {0, 0xFF, 'c'}, 3)));
    EXPECT_EQ(id3_title(whole),
              "\xc3\xbf"
              "c");
    // Where the source fails, read from it.
    const std::uint64_t title_at = 10 + 10 + picture.size();
    std::uint64_t count = 0;
    const Id3TitleRead failed =
        read_id3_title(counted_source(tags[1], count, title_at), 0, tags[1].size());
    EXPECT_EQ(failed.title, std::nullopt);
    EXPECT_EQ(failed.read_error, title_at);
}

}  // namespace
}  // namespace dsd
