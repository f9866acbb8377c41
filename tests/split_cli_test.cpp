// dff-dsf-split as users run it: edited masters plain and DST-compressed,
// cut at their markers or at a CUE sheet's tracks. Each track must be the
// DSF that dff-dsf-convert writes for the whole file, sliced byte for byte;
// the tracks together the program; and a failure must leave nothing.
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <iomanip>
#include <sstream>

#include "dsf_expect.hpp"
#include "dsf_generator.hpp"
#include "dst_file.hpp"
#include "edited_master.hpp"
#include "test_support.hpp"
#include "tone.hpp"

namespace dsd::test {
namespace {

namespace gen = testgen;

const std::string splitter = DFF_DSF_SPLIT;
const std::string reverse = DFF_DSF_CONVERT;

constexpr std::uint32_t fs = 2822400;
constexpr std::int64_t frame = 37632;  // samples of each channel in 1/75 s at DSD64
constexpr std::uint64_t frame_bytes = frame / 8;

// An edited master: a tone, its markers and texts, and tag chunks.
struct Master {
    unsigned channels = 2;
    std::uint64_t frames = 21;
    std::optional<gen::Timecode> start;
    std::vector<gen::Marker> markers;
    std::optional<std::string> artist;
    std::optional<std::string> title;
    std::vector<Bytes> tags;  // top-level "ID3 " chunks after the sound
    bool dst = false;
    std::function<void(std::uint64_t, gen::DstEncoderOptions&)> frame_options;
};

Bytes file_of(const Master& m) {
    Bytes sound(m.frames * frame_bytes * m.channels);
    gen::InterleavedTone(m.channels, fs).next(sound);
    gen::EditedMaster edited;
    edited.rate = fs;
    edited.start = m.start;
    edited.markers = m.markers;
    edited.artist = m.artist;
    edited.title = m.title;
    gen::DstFileSpec spec;
    spec.channels = m.channels;
    spec.rate = fs;
    if (m.start) {
        spec.prop_chunks.push_back(gen::dff_abss(*m.start));
    }
    spec.chunks_before.push_back(gen::edited_master_diin(edited));
    for (const Bytes& tag : m.tags) {
        spec.chunks_after.push_back(gen::dff_chunk("ID3 ", tag));
    }
    spec.frame_options = m.frame_options;
    return m.dst ? gen::dst_dff_file(spec, sound) : gen::plain_dff_file(spec, sound);
}

// The channels of a DSF file's sound (DSF order), as DSDIFF bytes.
struct DsfSound {
    std::uint32_t type = 0;
    Channels channels;
};

DsfSound sound_of_dsf(const Bytes& dsf) {
    DsfSound s;
    s.type = static_cast<std::uint32_t>(le(dsf, 48, 4));
    const std::uint64_t n = le(dsf, 52, 4);
    const std::uint64_t per_channel = le(dsf, 64, 8) / 8;
    s.channels.assign(n, Bytes(per_channel));
    for (std::uint64_t c = 0; c < n; ++c) {
        for (std::uint64_t i = 0; i < per_channel; ++i) {
            s.channels[c][i] = mirror(dsf[92 + (i / 4096 * n + c) * 4096 + i % 4096]);
        }
    }
    return s;
}

Channels slice(const Channels& channels, std::uint64_t first, std::uint64_t end) {
    Channels out;
    for (const Bytes& c : channels) {
        out.emplace_back(c.begin() + static_cast<std::ptrdiff_t>(first),
                         c.begin() + static_cast<std::ptrdiff_t>(end));
    }
    return out;
}

// The tag a DSF file holds, from its metadata pointer to its end.
Bytes tag_of_dsf(const Bytes& dsf) {
    const std::uint64_t at = le(dsf, 20, 8);
    return at == 0 ? Bytes{} : Bytes(dsf.begin() + static_cast<std::ptrdiff_t>(at), dsf.end());
}

// h:mm:ss.ff (frames of 1/75 s) of a place given in bytes of each channel.
std::string clock_text(std::uint64_t bytes) {
    std::ostringstream out;
    const std::uint64_t frames = bytes * 8 * 75 / fs;
    out << frames / 270000 << ':' << std::setfill('0') << std::setw(2) << frames / 4500 % 60 << ':'
        << std::setw(2) << frames / 75 % 60 << '.' << std::setw(2) << frames % 75;
    return out.str();
}

class Split : public ::testing::Test {
  protected:
    RunResult run(const std::vector<std::string>& args, RunOptions options = {}) {
        options.cwd = dir.path();
        return run_program(splitter, args, options);
    }

    // What dff-dsf-convert makes of the whole input.
    DsfSound whole(const std::string& input) {
        const auto r = run_program(reverse, {dir / input, dir / "whole.dsf"});
        EXPECT_EQ(r.status, 0) << r.err;
        DsfSound s = sound_of_dsf(read_file(dir / "whole.dsf"));
        std::filesystem::remove(dir / "whole.dsf");
        return s;
    }

    // Splits in.dff (with `args` before the names) into `out`, expecting
    // the tracks `names` cut at `cuts` (bytes of each channel, one more than
    // the names): each the DSF of its slice of the whole with the tag it
    // holds; together the program. Returns the tags.
    std::vector<Bytes> expect_split(const Bytes& dff, const std::vector<std::uint64_t>& cuts,
                                    const std::vector<std::string>& names,
                                    const std::vector<std::string>& args = {},
                                    const std::string& out = "out") {
        write_file(dir / "in.dff", dff);
        const DsfSound program = whole("in.dff");
        std::vector<std::string> command = args;
        command.insert(command.end(), {"in.dff", out});
        const auto r = run(command);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, "");
        std::string lines;
        std::vector<Bytes> tags;
        Channels joined(program.channels.size());
        const std::string prefix = out.back() == '/' ? out : out + "/";
        for (std::size_t i = 0; i < names.size(); ++i) {
            SCOPED_TRACE(names[i]);
            const Bytes track = read_file(dir / ("out/" + names[i]));
            tags.push_back(tag_of_dsf(track));
            EXPECT_EQ(track,
                      expected_dsf(fs, program.type, slice(program.channels, cuts[i], cuts[i + 1]),
                                   tags.back()));
            const DsfSound sound = sound_of_dsf(track);
            for (std::size_t c = 0; c < joined.size() && c < sound.channels.size(); ++c) {
                joined[c].insert(joined[c].end(), sound.channels[c].begin(),
                                 sound.channels[c].end());
            }
            lines += names[i].substr(0, 2) + " " + clock_text(cuts[i]) + "-" +
                     clock_text(cuts[i + 1]) + " " + prefix + names[i] + "\n";
        }
        EXPECT_EQ(joined, slice(program.channels, cuts.front(), cuts.back()));
        if (std::find(args.begin(), args.end(), "-q") == args.end()) {
            EXPECT_EQ(r.out, lines);
        }
        std::vector<std::string> sorted = names;
        std::sort(sorted.begin(), sorted.end());
        EXPECT_EQ(entries_of(dir / "out"), sorted);
        EXPECT_EQ(read_file(dir / "in.dff"), dff);
        return tags;
    }

    static std::vector<std::string> entries_of(const std::string& path) {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(path)) {
            names.push_back(e.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    TempDir dir;
};

// Markers at frames, with the offset edited masters use on TrackStart and
// Index markers when `offset`.
std::vector<gen::Marker> album_markers(bool offset) {
    const std::int32_t o = offset ? -4 * frame : 0;
    return {
        {gen::program_start, 2 * frame},
        {gen::track_start, 4 * frame, o, "One"},
        {gen::index_mark, 5 * frame, o},
        {gen::track_start, 8 * frame, 0, "Second / Part"},
        {gen::track_start, 9 * frame, 0, "", 1},  // one channel's: no cut
        {gen::track_stop, 11 * frame},            // a pause to the next track
        {gen::track_start, 12 * frame, o, "Third"},
        {gen::track_start, 15 * frame},  // touching the one before, no text
        {gen::track_start, 17 * frame, 0, "Fifth"},
        {gen::track_stop, 19 * frame},  // then a post-roll of 2 frames
    };
}

const std::vector<std::uint64_t> album_cuts{2 * frame_bytes,  8 * frame_bytes,  12 * frame_bytes,
                                            15 * frame_bytes, 17 * frame_bytes, 19 * frame_bytes};
const std::vector<std::string> album_names{"01 - One.dsf", "02 - Second _ Part.dsf",
                                           "03 - Third.dsf", "04.dsf", "05 - Fifth.dsf"};

TEST_F(Split, MarkersCutTheProgramGaplesslyPlainAndDst) {
    for (const bool dst : {false, true}) {
        for (const unsigned channels : {1u, 2u, 6u}) {
            if (dst && channels == 1) {
                continue;
            }
            // An ABSS of 10:00:00 with the usual offsets, or none.
            const bool absolute = channels != 2;
            SCOPED_TRACE(std::to_string(channels) + (dst ? " DST" : " plain") +
                         (absolute ? ", ABSS" : ""));
            Master m;
            m.channels = channels;
            m.dst = dst;
            m.start = absolute ? std::optional(gen::Timecode{10, 0, 0, 0}) : std::nullopt;
            m.markers = album_markers(absolute);
            expect_split(file_of(m), album_cuts, album_names, {}, channels == 6 ? "out/" : "out");
            std::filesystem::remove_all(dir / "out");
        }
    }
}

// Cuts on any byte, inside DST frames too; a position between bytes is
// taken down. Without a ProgramStart or a TrackStop the program runs from
// the first TrackStart to the end of the sound.
TEST_F(Split, CutsInsideDstFramesAtAnyByte) {
    Master m;
    m.dst = true;
    m.frames = 5;
    m.markers = {{gen::track_start, 8 * 1000 + 5, 0, "a"},
                 {gen::track_start, 8 * 7001},
                 {gen::track_start, 8 * 12345 + 7, 0, "c"}};
    expect_split(file_of(m), {1000, 7001, 12345, 5 * frame_bytes},
                 {"01 - a.dsf", "02.dsf", "03 - c.dsf"});
}

// One "ID3 " chunk per track: each copied as that track's tag, its title
// naming the file, cover art before it however large. Any other count: tags
// made of the texts.
TEST_F(Split, OwnTagChunksAreCopiedWhenThereIsOnePerTrack) {
    Master m;
    m.frames = 6;
    m.markers = {{gen::track_start, 0, 0, "Marker one"},
                 {gen::track_start, 2 * frame, 0, "Marker two"},
                 {gen::track_start, 4 * frame}};
    m.tags = {gen::make_id3v2_tag("Tag one", 3, std::nullopt, false, "", 1600000),
              gen::make_id3v2_tag("Tag two", 4, 77, true), gen::make_id3v2_tag("", 3)};
    const std::vector<std::uint64_t> cuts{0, 2 * frame_bytes, 4 * frame_bytes, 6 * frame_bytes};
    EXPECT_EQ(expect_split(file_of(m), cuts, {"01 - Tag one.dsf", "02 - Tag two.dsf", "03.dsf"}),
              m.tags);
    std::filesystem::remove_all(dir / "out");
    m.tags.pop_back();
    const auto tags =
        expect_split(file_of(m), cuts, {"01 - Marker one.dsf", "02 - Marker two.dsf", "03.dsf"});
    EXPECT_NE(tags[0], m.tags[0]);
    EXPECT_EQ(Bytes(tags[0].begin(), tags[0].begin() + 3), (Bytes{'I', 'D', '3'}));
}

const std::string album_cue =
    "\xEF\xBB\xBFREM COMMENT \"made by hand\"\r\n"
    "PERFORMER \"Disc Artist\"\r\n"
    "TITLE \"Disc\"\r\n"
    "FILE \"album.dff\" WAVE\r\n"
    "  TRACK 01 AUDIO\r\n"
    "    TITLE \"A\"\r\n"
    "    INDEX 00 00:00:01\r\n"
    "    INDEX 01 00:00:03\r\n"
    "  TRACK 02 AUDIO\r\n"
    "    TITLE \"B\"\r\n"
    "    PERFORMER \"Guest\"\r\n"
    "    INDEX 00 00:00:08\r\n"
    "    INDEX 01 00:00:10\r\n"
    "  TRACK 03 AUDIO\r\n"
    "    INDEX 01 00:00:15\r\n";

// Track 1 from its pregap, track 2's pregap the end of track 1, the last
// track to the end of the sound; the markers are not used. Lines may end in
// a lone CR too, and the sheet may be UTF-16.
TEST_F(Split, CueSheetTracksWithPregaps) {
    std::string mac = album_cue;
    std::erase(mac, '\n');
    const struct {
        std::string cue;
        bool dst;
    } cases[] = {
        {album_cue, true}, {mac, false}, {gen::utf16_cue_text(album_cue.substr(3), false), false}};
    for (const auto& c : cases) {
        write_file(dir / "album.cue", Bytes(c.cue.begin(), c.cue.end()));
        Master m;
        m.dst = c.dst;
        m.markers = album_markers(false);
        expect_split(file_of(m),
                     {1 * frame_bytes, 10 * frame_bytes, 15 * frame_bytes, 21 * frame_bytes},
                     {"01 - A.dsf", "02 - B.dsf", "03.dsf"}, {"--cue", "album.cue"});
        std::filesystem::remove_all(dir / "out");
    }
}

// Where a chunk starts in a file.
std::uint64_t chunk_at(const Bytes& file, std::string_view id) {
    const auto at = std::search(file.begin(), file.end(), id.begin(), id.end());
    return static_cast<std::uint64_t>(at - file.begin());
}

TEST_F(Split, EveryRefusalIsOneMessageAndCreatesNothing) {
    const auto with = [](std::vector<gen::Marker> markers,
                         std::optional<gen::Timecode> start = std::nullopt) {
        Master m;
        m.frames = 2;
        m.markers = std::move(markers);
        m.start = start;
        return file_of(m);
    };
    const auto with_chunks = [](std::vector<Bytes> props, std::vector<Bytes> before) {
        gen::DstFileSpec spec;
        spec.prop_chunks = std::move(props);
        spec.chunks_before = std::move(before);
        return gen::plain_dff_file(spec, Bytes(2 * frame_bytes * 2, 0x69));
    };
    Master album;
    album.markers = album_markers(false);
    const Bytes good = file_of(album);
    std::vector<gen::Marker> many;
    many.reserve(256);
    for (int i = 0; i < 256; ++i) {
        many.push_back({gen::track_start, 8 * i});
    }
    const Bytes short_start = with_chunks({gen::dff_chunk("ABSS", {0, 10, 0, 0})}, {});
    const Bytes broken_mark =
        with_chunks({}, {gen::dff_chunk("DIIN", gen::dff_mark({}, 0, 0, 0, "ab", 9))});
    const std::string usage =
        "DFF To DSF Track Splitter\nUsage: " + splitter + " <in_dff_file> <out_dir>\n";
    const struct {
        std::string what;
        Bytes dff;
        std::vector<std::string> args;
        std::string out;
        std::string err;
    } cases[] = {
        {"no markers", with({}), {"in.dff", "out"}, "", "No track markers : in.dff\n"},
        {"no TrackStart",
         with({{gen::program_start, 0}, {gen::index_mark, 8}, {gen::track_stop, 800}}),
         {"in.dff", "out"},
         "",
         "No track markers : in.dff\n"},
        {"past the end",
         with({{gen::index_mark, 9 * frame},
               {gen::track_start, 0},
               {gen::track_stop, 2 * frame + 1}}),
         {"in.dff", "out"},
         "",
         "Marker outside the sound : 2\n"},
        {"before the sound",
         with({{gen::track_start, -8}, {gen::track_start, 8}}, gen::Timecode{0, 0, 1, 0}),
         {"in.dff", "out"},
         "",
         "Marker outside the sound : 0\n"},
        {"two starts in a byte",
         with({{gen::track_start, 8}, {gen::track_start, 12}}),
         {"in.dff", "out"},
         "",
         "Track too short : 1\n"},
        {"256 tracks", with(many), {"in.dff", "out"}, "", "Too many tracks : 256\n"},
        {"short ABSS",
         short_start,
         {"in.dff", "out"},
         "",
         "Wrong chunk size : 'ABSS' at " + std::to_string(chunk_at(short_start, "ABSS")) +
             ", size 4\n"},
        {"broken MARK",
         broken_mark,
         {"in.dff", "out"},
         "",
         "Wrong chunk size : 'MARK' at " + std::to_string(chunk_at(broken_mark, "MARK")) +
             ", size 24\n"},
        {"not DSDIFF", Bytes(40, 'x'), {"in.dff", "out"}, "", "Not a 'DFF' format : xxxx\n"},
        {"CUE line",
         good,
         {"--cue", "bad.cue", "in.dff", "out"},
         "",
         "CUE sheet line 3: track is not AUDIO\n"},
        {"CUE past the end",
         good,
         {"--cue=late.cue", "in.dff", "out"},
         "",
         "CUE sheet line 5: position at or past the end of the sound\n"},
        {"CUE INDEX 02 past the end",
         good,
         {"--cue", "late_index.cue", "in.dff", "out"},
         "",
         "CUE sheet line 4: position at or past the end of the sound\n"},
        {"CUE odd UTF-16",
         good,
         {"--cue", "odd.cue", "in.dff", "out"},
         "",
         "CUE sheet line 2: invalid UTF-16 text\n"},
        {"CUE without tracks",
         good,
         {"--cue", "empty.cue", "in.dff", "out"},
         "",
         "No track markers : empty.cue\n"},
        {"CUE too large",
         good,
         {"--cue", "large.cue", "in.dff", "out"},
         "",
         "CUE sheet too large : large.cue\n"},
        {"CUE missing",
         good,
         {"--cue", "missing.cue", "in.dff", "out"},
         "Usage: Can't open file. missing.cue\n",
         ""},
        {"unknown option", good, {"--cut", "in.dff", "out"}, "Usage: Unknown option. --cut\n", ""},
        {"no value", good, {"--cue"}, "Usage: Option needs a value. --cue\n", ""},
        {"a value",
         good,
         {"--quiet=yes", "in.dff", "out"},
         "Usage: Option takes no value. --quiet\n",
         ""},
        {"one name", good, {"in.dff"}, usage, ""},
        {"three names", good, {"in.dff", "out", "more"}, usage, ""},
        {"no dot", good, {"in", "out"}, "Usage: Wrong filename. in\n", ""},
        {"extension",
         good,
         {"in.Dff", "out"},
         "Usage: Input File extension is not 'dff'. in.Dff\n",
         ""},
        {"missing input", good, {"none.dff", "out"}, "Usage: Can't open file. none.dff\n", ""},
        {"no parent",
         good,
         {"in.dff", "no/out"},
         "",
         " cannot create directory : no/out (No such file or directory)\n"},
        {"not a directory",
         good,
         {"in.dff", "bad.cue"},
         "",
         " cannot create directory : bad.cue (Not a directory)\n"},
    };
    const auto put = [&](const std::string& name, const std::string& text) {
        write_file(dir / name, Bytes(text.begin(), text.end()));
    };
    put("bad.cue", "TRACK 01 AUDIO\nINDEX 01 00:00:00\nTRACK 02 MODE1/2352\n");
    put("late.cue",
        "FILE a.dff WAVE\nTRACK 01 AUDIO\nINDEX 01 00:00:00\nTRACK 02 AUDIO\n"
        "INDEX 01 00:00:21\n");
    put("late_index.cue",
        "FILE a.dff WAVE\nTRACK 01 AUDIO\nINDEX 01 00:00:00\nINDEX 02 00:00:21\n");
    put("odd.cue", gen::utf16_cue_text("REM x\r\n", false) + "R");
    put("empty.cue", "REM nothing\n");
    put("large.cue", std::string((1 << 20) + 1, '\n'));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        write_file(dir / "in.dff", c.dff);
        const std::vector<std::string> before = dir.entries();
        RunOptions named;
        named.argv0 = splitter;
        const auto r = run(c.args, named);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.err, c.err);
        EXPECT_EQ(dir.entries(), before);
        EXPECT_EQ(read_file(dir / "in.dff"), c.dff);
    }
}

// Four tracks of a frame each, then a fifth of ten frames.
Master five_tracks() {
    Master m;
    m.frames = 14;
    m.markers = {{gen::track_start, 0},
                 {gen::track_start, frame},
                 {gen::track_start, 2 * frame},
                 {gen::track_start, 3 * frame},
                 {gen::track_start, 4 * frame, 0, "Long"}};
    return m;
}

// A small tmpfs mounted on `path` for the object's lifetime (needs root).
class SmallDisk {
  public:
    SmallDisk(const std::string& path, const std::string& size) : path_(path) {
        ::mkdir(path.c_str(), 0777);
        mounted_ = ::mount("tmpfs", path.c_str(), "tmpfs", 0, ("size=" + size).c_str()) == 0;
        if (!mounted_) {
            why_not_ = std::strerror(errno);
        }
    }
    ~SmallDisk() {
        if (mounted_) {
            ::umount2(path_.c_str(), MNT_DETACH);
        }
    }
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;

    bool mounted() const { return mounted_; }
    const std::string& why_not() const { return why_not_; }

  private:
    std::string path_;
    bool mounted_ = false;
    std::string why_not_;
};

// A write failing in the fifth track leaves no track, not even the four
// complete ones; a directory that was there keeps what it held (an old
// track of the same name included), one the run made is gone.
TEST_F(Split, AFullDiskDuringTheFifthTrackLeavesNothing) {
    write_file(dir / "in.dff", file_of(five_tracks()));
    RunOptions limited;
    limited.file_size_limit = 50000;  // the first four are 16 KiB, the fifth 96 KiB
    ::mkdir((dir / "kept").c_str(), 0777);
    write_file(dir / "kept/01.dsf", {'o', 'l', 'd'});
    for (const std::string out : {"kept", "new"}) {
        const auto r = run({"in.dff", out}, limited);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, " write error : " + out + "/05 - Long.dsf at 50000\n");
    }
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"in.dff", "kept"}));
    EXPECT_EQ(entries_of(dir / "kept"), std::vector<std::string>{"01.dsf"});
    EXPECT_EQ(read_file(dir / "kept/01.dsf"), (Bytes{'o', 'l', 'd'}));

    // A disk that really fills up.
    const SmallDisk disk(dir / "disk", "128k");
    if (!disk.mounted()) {
        GTEST_SKIP() << "a full disk needs a small tmpfs, which cannot be mounted here ("
                     << disk.why_not() << "); the file-size limit stood in for it";
    }
    const auto r = run({"in.dff", "disk/album"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err.rfind(" write error : disk/album/05 - Long.dsf at ", 0), 0u) << r.err;
    EXPECT_TRUE(entries_of(dir / "disk").empty());
}

TEST_F(Split, ADamagedDstFrameLeavesNothing) {
    Master m = five_tracks();
    m.dst = true;
    m.frame_options = [](std::uint64_t index, gen::DstEncoderOptions& options) {
        if (index == 6) {
            options.damage = gen::DstDamage::header_cut;
        }
    };
    write_file(dir / "in.dff", file_of(m));
    const auto r = run({"in.dff", "out"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "Damaged DST frame : 6\n");
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"in.dff"});
}

// Frames before the program and after its end are never decoded: damaged
// ones there change nothing.
TEST_F(Split, DamagedDstFramesOutsideTheProgramDoNotMatter) {
    Master m;
    m.dst = true;
    m.markers = album_markers(false);  // the program: frames 2 to 18
    write_file(dir / "in.dff", file_of(m));
    ASSERT_EQ(run({"-q", "in.dff", "good"}).status, 0);
    m.frame_options = [](std::uint64_t index, gen::DstEncoderOptions& options) {
        if (index <= 1 || index >= 19) {
            options.damage = gen::DstDamage::header_cut;
        }
    };
    write_file(dir / "in.dff", file_of(m));
    const auto r = run({"-q", "in.dff", "out"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(entries_of(dir / "out"), album_names);
    for (const auto& name : album_names) {
        EXPECT_EQ(read_file(dir / ("out/" + name)), read_file(dir / ("good/" + name))) << name;
    }
    m.frame_options = [](std::uint64_t index, gen::DstEncoderOptions& options) {
        if (index == 18) {
            options.damage = gen::DstDamage::header_cut;
        }
    };
    write_file(dir / "in.dff", file_of(m));
    EXPECT_EQ(run({"-q", "in.dff", "last"}).err, "Damaged DST frame : 18\n");
}

// A signal while the sound is read: the tracks so far are dropped, the
// directory made for them removed, and the signal ends the run; signals the
// caller ignores (nohup) are no reason to stop.
TEST_F(Split, ASignalLeavesNothingUnlessIgnored) {
    if (!tracing_available()) {
        GTEST_SKIP() << "needs ptrace of a natively run program to signal it inside its loop";
    }
    write_file(dir / "in.dff", file_of(five_tracks()));
    const auto signalled = [&](const std::vector<int>& sent, bool ignored) {
        pid_t child = 0;
        RunOptions options;
        if (ignored) {
            options.ignored_signals = sent;
        }
        options.while_running = [&](pid_t pid) { child = pid; };
        options.stop_after_syscall = is_large_pread;
        options.while_stopped = [&] {
            for (const int sig : sent) {
                ::kill(child, sig);
            }
        };
        const auto r = run({"-q", "in.dff", "out"}, options);
        EXPECT_TRUE(r.stopped);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, "");
        return r.status;
    };
    EXPECT_EQ(signalled({SIGTERM}, false), 128 + SIGTERM);
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"in.dff"});
    EXPECT_EQ(signalled({SIGHUP, SIGINT}, true), 0);
    EXPECT_EQ(entries_of(dir / "out").size(), 5u);
}

// 255 tracks, all staged at once until the last is complete.
TEST_F(Split, TheMostTracksThereMayBe) {
    Master m;
    m.frames = 1;
    for (int i = 0; i < 255; ++i) {
        m.markers.push_back({gen::track_start, 8 * 16 * i});
    }
    write_file(dir / "in.dff", file_of(m));
    const auto r = run({"-q", "in.dff", "out"});
    EXPECT_EQ(r.status, 0) << r.err;
    const auto names = entries_of(dir / "out");
    ASSERT_EQ(names.size(), 255u);
    EXPECT_EQ(names.front(), "01.dsf");
    EXPECT_EQ(le(read_file(dir / "out/254.dsf"), 64, 8), 16u * 8);
    EXPECT_EQ(le(read_file(dir / "out/255.dsf"), 64, 8), (frame_bytes - 254 * 16) * 8);
}

// The input is never written, not even through a track's name.
TEST_F(Split, ATrackNameLeadingToTheInputIsRefused) {
    Master m;
    m.markers = album_markers(false);
    const Bytes dff = file_of(m);
    write_file(dir / "in.dff", dff);
    ::mkdir((dir / "out").c_str(), 0777);
    ASSERT_EQ(::symlink("../in.dff", (dir / "out/02 - Second _ Part.dsf").c_str()), 0);
    const auto r = run({"in.dff", "out"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, " cannot open file : out/02 - Second _ Part.dsf\n");
    EXPECT_EQ(read_file(dir / "in.dff"), dff);
    EXPECT_EQ(entries_of(dir / "out"), std::vector<std::string>{"02 - Second _ Part.dsf"});
}

TEST_F(Split, NoClobberQuietAndNamesLikeOptions) {
    Master m;
    m.markers = album_markers(false);
    const Bytes dff = file_of(m);
    write_file(dir / "in.dff", dff);
    ::mkdir((dir / "out").c_str(), 0777);
    write_file(dir / "out/03 - Third.dsf", {'o', 'l', 'd'});
    auto r = run({"-n", "in.dff", "out"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "in.dff: not overwritten, out/03 - Third.dsf exists\n");
    EXPECT_EQ(entries_of(dir / "out"), std::vector<std::string>{"03 - Third.dsf"});
    // Without -n it is replaced; -q prints nothing.
    r = run({"--quiet", "in.dff", "out"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(entries_of(dir / "out").size(), 5u);
    EXPECT_NE(read_file(dir / "out/03 - Third.dsf"), (Bytes{'o', 'l', 'd'}));
    // Bundled options, and names that start like options after --.
    write_file(dir / "-in.dff", dff);
    r = run({"-nq", "--", "-in.dff", "-out"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(entries_of(dir / "-out"), entries_of(dir / "out"));
}

std::string run_tool(const std::string& tool, const std::vector<std::string>& args) {
    const auto r = run_program(tool, args);
    EXPECT_EQ(r.status, 0) << tool << " failed: " << r.err;
    return r.out;
}

// What mutagen reads from each track's tag, and ffprobe of its length.
TEST_F(Split, TagsAndLengthsAsOtherReadersSeeThem) {
    const auto python = python_with_mutagen();
    const auto ffprobe = find_on_path("ffprobe");
    if (!python && !ffprobe) {
        GTEST_SKIP() << "neither Python's mutagen nor ffprobe is installed (Debian packages "
                        "python3-mutagen, ffmpeg)";
    }
    Master m;
    m.markers = album_markers(false);
    m.artist = "Bj\xf6rk";  // ISO-8859-1
    m.title = "Album \xe2\x84\x96 1";
    write_file(dir / "in.dff", file_of(m));
    ASSERT_EQ(run({"-q", "in.dff", "markers"}).status, 0);
    write_file(dir / "album.cue", Bytes(album_cue.begin(), album_cue.end()));
    ASSERT_EQ(run({"-q", "--cue", "album.cue", "in.dff", "cue"}).status, 0);

    const struct {
        std::string file;
        std::string tags;
        double seconds;
    } tracks[] = {
        {"markers/01 - One.dsf", "1/5|One|Album \xe2\x84\x96 1|Bj\xc3\xb6rk|Bj\xc3\xb6rk",
         6 / 75.0},
        {"markers/02 - Second _ Part.dsf",
         "2/5|Second / Part|Album \xe2\x84\x96 1|Bj\xc3\xb6rk|Bj\xc3\xb6rk", 4 / 75.0},
        {"markers/04.dsf", "4/5|-|Album \xe2\x84\x96 1|Bj\xc3\xb6rk|Bj\xc3\xb6rk", 2 / 75.0},
        {"cue/01 - A.dsf", "1/3|A|Disc|Disc Artist|Disc Artist", 9 / 75.0},
        {"cue/02 - B.dsf", "2/3|B|Disc|Guest|Disc Artist", 5 / 75.0},
        {"cue/03.dsf", "3/3|-|Disc|Disc Artist|Disc Artist", 6 / 75.0},
    };
    const std::string script =
        "import sys, mutagen\n"
        "for name in sys.argv[1:]:\n"
        "    t = mutagen.File(name).tags\n"
        "    line = '|'.join(t[k].text[0] if k in t else '-'"
        " for k in ('TRCK', 'TIT2', 'TALB', 'TPE1', 'TPE2'))\n"
        "    sys.stdout.buffer.write((line + '\\n').encode())\n";
    for (const auto& t : tracks) {
        SCOPED_TRACE(t.file);
        if (python) {
            EXPECT_EQ(run_tool(*python, {"-c", script, dir / t.file}), t.tags + "\n");
        }
        if (ffprobe) {
            const std::string out =
                run_tool(*ffprobe, {"-v", "error", "-show_entries", "format=duration", "-of",
                                    "default=noprint_wrappers=1:nokey=1", dir / t.file});
            // ffprobe takes a DSF file's length from its size: whole blocks
            // of 4096 bytes per channel, and the tag after them.
            const double block = 4096 * 8.0 / fs;
            EXPECT_GE(std::stod(out), t.seconds - 1e-6);
            EXPECT_LT(std::stod(out), t.seconds + block + 0.001);
        }
    }
    if (!python) {
        GTEST_SKIP() << "tags not read: Python's mutagen is not installed (python3-mutagen)";
    }
    if (!ffprobe) {
        GTEST_SKIP() << "lengths not read: ffprobe is not installed (ffmpeg)";
    }
}

}  // namespace
}  // namespace dsd::test
