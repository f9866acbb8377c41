// Writes the fuzzers' seed corpora, built by the test-data generator:
// fuzz-seeds DIR makes DIR/dsf (and the other corpora) afresh.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "dff_builder.hpp"
#include "dsf_generator.hpp"
#include "dst_frame_builder.hpp"
#include "edited_master.hpp"
#include "wav_builder.hpp"

namespace {

namespace fs = std::filesystem;
using dsd::testgen::DsfSpec;

bool save(const fs::path& file, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out.flush());
}

using Seeds = std::vector<std::pair<std::string, std::vector<std::uint8_t>>>;

Seeds dsf_seeds() {
    Seeds seeds;
    const auto add = [&](const std::string& name, DsfSpec spec) {
        seeds.emplace_back(name, dsd::testgen::make_dsf(spec));
    };
    DsfSpec spec;
    for (const std::uint64_t samples : {0ull, 1ull, 7ull, 8ull, 1000ull, 32768ull, 32768ull + 13}) {
        spec.sample_count = samples;
        add("dsf64_" + std::to_string(samples), spec);
    }
    spec.bits_per_sample = 8;
    spec.sampling_frequency = 5644800;
    spec.sample_count = 32768 + 5;
    add("dsf128_8bit", spec);
    spec.bits_per_sample = 1;
    spec.sampling_frequency = 11289600;
    spec.sample_count = 777;
    spec.id3_tag = dsd::testgen::make_id3v2_tag("Seed", 3, 41);
    add("dsf256_tag_odd", spec);
    spec.id3_tag = dsd::testgen::make_id3v2_tag("Seed", 4, 64, true);
    add("dsf256_tag_footer", spec);
    return seeds;
}

Seeds dff_seeds() {
    using namespace dsd::testgen;
    const Bytes sound = pattern_bytes(64);
    const Bytes dst_frames = dff_chunk("DST ", pattern_bytes(16));
    return {
        {"converter", converter_dff_file(2822400, sound)},
        {"fs_last_extra_chunks",
         dff_form(
             {dff_fver(), dff_chunk("COMT", pattern_bytes(7)),
              dff_prop({dff_chnl_stereo(), dff_cmpr("DSD ", "not compressed"), dff_fs(5644800)}),
              dff_chunk("DSD ", sound)})},
        {"dst", dff_form({dff_fver(),
                          dff_prop({dff_fs(2822400), dff_chnl_stereo(), dff_cmpr("DST ", "DST")}),
                          dst_frames})},
        {"other_prop_first", dff_form({dff_prop({dff_chunk("ABCD", pattern_bytes(3))}, "ANY "),
                                       dff_prop({dff_fs(11289600)}), dff_chunk("DSD ", sound)})},
        // Frames and titles: the walks inside "DST " and "DIIN".
        {"dst_frames_titles",
         dff_form({dff_fver(),
                   dff_prop({dff_fs(2822400), dff_chnl_stereo(), dff_cmpr("DST ", "DST Encoded")}),
                   dff_chunk("DIIN",
                             [] {
                                 Bytes body = dff_chunk("DIAR", {0, 0, 0, 3, 'A', 'r', 't'});
                                 const Bytes title = dff_chunk("DITI", {0, 0, 0, 2, 'T', 'i'});
                                 body.insert(body.end(), title.begin(), title.end());
                                 return body;
                             }()),
                   dff_chunk("DST ",
                             [] {
                                 Bytes body = dff_chunk("FRTE", {0, 0, 0, 2, 0, 75});
                                 for (const Bytes& chunk : {dff_chunk("DSTF", pattern_bytes(9)),
                                                            dff_chunk("DSTC", {1, 2, 3, 4}),
                                                            dff_chunk("DSTF", pattern_bytes(4))}) {
                                     body.insert(body.end(), chunk.begin(), chunk.end());
                                 }
                                 return body;
                             }())})},
    };
}

Seeds wav_seeds() {
    using namespace dsd::testgen;
    const Bytes samples = pattern_bytes(48);
    const WavFormat f24{1, 2, 48000, 24};
    return {
        {"canonical24", canonical_wav(f24, samples)},
        {"canonical16", canonical_wav({1, 2, 96000, 16}, samples)},
        {"junk27", wav_file({riff_chunk("JUNK", Bytes(27, 0)), riff_chunk("fmt ", fmt_body(f24)),
                             riff_chunk("data", samples)})},
        {"float",
         wav_file({riff_chunk("fmt ", fmt_body({3, 2, 44100, 32})), riff_chunk("data", samples)})},
        {"extensible",
         wav_file({riff_chunk("fmt ", fmt_extensible_body(f24, 1)), riff_chunk("data", samples)})},
        {"not_pcm",
         wav_file({riff_chunk("fmt ", fmt_body({2, 2, 44100, 4})), riff_chunk("data", samples)})},
        {"rf64",
         wav_file({riff_chunk("ds64", ds64_body(0, 48, 8, {{"bext", 10}})),
                   riff_chunk("bext", Bytes(10, 0x41), 0xFFFFFFFF),
                   riff_chunk("fmt ", fmt_body(f24)), riff_chunk("data", samples, 0xFFFFFFFF)},
                  "RF64", 0xFFFFFFFF)},
        {"bw64_no_fmt", wav_file({riff_chunk("data", samples)}, "BW64")},
    };
}

// DST frames after the two bytes the harness reads: channels - 1, and the
// rate's index (0: 8 x 44100 Hz, 3: 64 x 44100 Hz) plus 4 for decoding in
// pairs too.
Seeds dst_seeds() {
    using namespace dsd::test::dst;
    const auto seed = [](unsigned channels, unsigned rate_index, const Bytes& frame) {
        Bytes out{static_cast<std::uint8_t>(channels - 1), static_cast<std::uint8_t>(rate_index)};
        out.insert(out.end(), frame.begin(), frame.end());
        return out;
    };
    const auto sound = [](unsigned channels, std::size_t L) {
        std::vector<Bytes> each;
        for (unsigned c = 0; c < channels; ++c) {
            each.push_back(tone(800.0 + 300.0 * c, 352800u * (L / 588), L));
        }
        return interleave(each);
    };
    const Bytes mono = sound(1, 588);
    const Bytes six = sound(6, 588);
    const Bytes stereo64 = sound(2, 4704);

    // Segments per channel, several filters and tables, Rice coding with
    // each method, half probability, a table of length 1.
    FrameSpec mixed = fitted_spec(6, 588, six, 24, 16);
    mixed.filter_segmentation = {false, 10, {{13}, {}, {20, 13}, {}, {}, {15}}};
    mixed.tables_same_segmentation = false;
    mixed.table_segmentation = {true, 3, {{5, 9, 30}}};
    mixed.tables_same_mapping = false;
    mixed.table_mapping = {true, {{0, 1, 2, 1}}};
    mixed.tables.resize(3);
    mixed.tables[2] = {{128}, {}};
    mixed.half_probability = {true, false, true, false, false, true};
    for (unsigned f = 0; f < 6; ++f) {
        mixed.filters[f].coding = {true, f % 3, 2 + f % 4};
    }
    mixed.tables[0].coding = {true, 2, 1};
    fit_tables(mixed, six);

    return {
        {"stored_mono", seed(1, 0, stored_frame(mono))},
        {"mono_order16", seed(1, 0, compressed_frame(fitted_spec(1, 588, mono, 16, 24), mono))},
        {"six_mixed", seed(6, 4, compressed_frame(mixed, six))},
        {"stereo64_order64",
         seed(2, 7, compressed_frame(fitted_spec(2, 4704, stereo64, 64, 64), stereo64))},
    };
}

// CUE sheets, and "DIIN" bodies of markers, for the track planning.
Seeds split_seeds() {
    using namespace dsd::testgen;
    const auto text = [](std::string_view t) { return Bytes(t.begin(), t.end()); };
    EditedMaster master;
    master.start = Timecode{10, 0, 0, 0};
    master.artist = "Artist";
    master.title = "Album";
    master.markers = {{program_start, 75264},        {track_start, 150528, -150528, "One"},
                      {index_mark, 188160, -150528}, {track_start, 301056, 0, "Two"},
                      {track_stop, 400000},          {track_start, 451584},
                      {track_stop, 602112}};
    const Bytes diin = edited_master_diin(master);
    return {
        {"cue_pregaps",
         text("\xEF\xBB\xBFREM GENRE x\r\nPERFORMER \"P\"\r\nTITLE T\r\nFILE \"a.dff\" WAVE\r\n"
              "  TRACK 01 AUDIO\r\n    TITLE \"A\"\r\n    INDEX 00 00:00:00\r\n"
              "    INDEX 01 00:00:02\r\n  TRACK 02 AUDIO\r\n    INDEX 00 00:00:05\r\n"
              "    INDEX 01 00:00:06\r\n    INDEX 02 00:00:08\r\n")},
        {"cue_utf16",
         text(utf16_cue_text("TITLE \"Caf\xc3\xa9\"\r\nFILE a.dff WAVE\r\nTRACK 01 AUDIO\r\n"
                             "INDEX 01 00:00:00\r\n",
                             false))},
        {"cue_two_files", text("FILE a.dff WAVE\nTRACK 1 AUDIO\nINDEX 01 0:00:00\nFILE b.dff WAVE\n"
                               "TRACK 2 AUDIO\nINDEX 01 0:01:00\n")},
        {"diin_markers", Bytes(diin.begin() + 12, diin.end())},
    };
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "Usage: %s DIR\n", argv[0]);
        return 2;
    }
    const fs::path root = argv[1];
    const std::pair<std::string, Seeds> corpora[] = {
        {"dsf", dsf_seeds()}, {"dff", dff_seeds()},     {"wav", wav_seeds()},
        {"dst", dst_seeds()}, {"split", split_seeds()},
    };
    for (const auto& [corpus, seeds] : corpora) {
        std::error_code ec;
        fs::remove_all(root / corpus, ec);
        fs::create_directories(root / corpus);
        for (const auto& [name, bytes] : seeds) {
            if (!save(root / corpus / name, bytes)) {
                std::fprintf(stderr, "%s: cannot write %s\n", argv[0],
                             (root / corpus / name).c_str());
                return 1;
            }
        }
    }
    return 0;
}
