// Every text the converters print. Usage and name messages go to standard
// output; file errors to standard error. Each has at most one "%s", which
// format_message fills with a name, a number or an identifier. The driver's
// texts and those of dsf-dff-convert and dsf-dff256-dummy come first, then
// those of dff-dsf-convert alone.
#pragma once

#include <string_view>

namespace dsd::convert_text {

inline constexpr std::string_view convert_usage =
    "DSF To DFF Converter\nUsage: %s <in_dsf_file> <out_dff_file>\n";
inline constexpr std::string_view dff256_usage =
    "Dummy DSF64 Data To DFF256 Converter\nUsage: %s <in_dsf_file> <out_dff_file>\n";

// What --help adds after the usage text.
inline constexpr std::string_view convert_about =
    "Converts a stereo DSF file into a DSDIFF (DFF) file at the same sampling rate.\n"
    "  <in_dsf_file>   the DSF file to read; its name ends in .dsf or .DSF\n"
    "  <out_dff_file>  the DFF file to write; its name ends in .dff or .DFF.\n"
    "                  Optional: without it the input's name with dff for its\n"
    "                  extension is used (take1.dsf gives take1.dff)\n"
    "Prints the input's sampling frequency, bit number, sample count and data size.\n"
    "The two channels are interleaved byte by byte, 1-bit data bit-reversed into DFF\n"
    "order, the zero fill of the last block dropped; an ID3v2 tag is kept. The input\n"
    "is never changed; the output appears only once it is complete, replacing any\n"
    "file of its name, and on an error nothing is left behind.\n"
    "\n"
    "Exit status: 0 the output is complete; 1 any error (its one message says which).\n";
inline constexpr std::string_view dff256_about =
    "Converts a stereo DSF file into a DSDIFF (DFF) file whose header declares\n"
    "11289600 Hz (DSD256) whatever the input's rate; the sound is not resampled, and\n"
    "the file is otherwise the one dsf-dff-convert writes.\n"
    "  <in_dsf_file>   the DSF file to read; its name ends in .dsf or .DSF\n"
    "  <out_dff_file>  the DFF file to write; its name ends in .dff or .DFF.\n"
    "                  Optional: without it the input's name with dff for its\n"
    "                  extension is used (take1.dsf gives take1.dff)\n"
    "Prints the input's sampling frequency, bit number, sample count and data size.\n"
    "An ID3v2 tag is kept. The input is never changed; the output appears only once\n"
    "it is complete, replacing any file of its name, and on an error nothing is left\n"
    "behind.\n"
    "\n"
    "Exit status: 0 the output is complete; 1 any error (its one message says which).\n";

inline constexpr std::string_view wrong_filename = "Usage: Wrong filename. %s\n";
inline constexpr std::string_view input_extension =
    "Usage: Input File extension is not 'dsf'. %s\n";
inline constexpr std::string_view output_extension =
    "Usage: Output File extension is not 'dff'. %s\n";
inline constexpr std::string_view cannot_open_input = "Usage: Can't open file. %s\n";

inline constexpr std::string_view sampling_frequency = "Sampling frequency <%s>\n";
inline constexpr std::string_view bit_number = "bit number <%s>\n";
inline constexpr std::string_view sample_number = "sample number <%s>\n";
inline constexpr std::string_view data_size = "DSD Data size <%s>\n";

inline constexpr std::string_view not_dsf = "Not a 'DSF' format : %s\n";
inline constexpr std::string_view wrong_channels = "Wrong numbers of channels : %s\n";
inline constexpr std::string_view wrong_rate = "Wrong sampling frequency : %s\n";
inline constexpr std::string_view wrong_bits = "Wrong bit number : %s\n";
inline constexpr std::string_view wrong_data_size = "Wrong data size : %s\n";
inline constexpr std::string_view wrong_block_size = "Wrong block size : %s\n";

inline constexpr std::string_view cannot_open_output = " cannot open file : %s\n";
inline constexpr std::string_view read_error = " read error : %s\n";
inline constexpr std::string_view write_error = " write error : %s\n";
// The complete output could not be given its name: the output's name, then
// the reason in parentheses.
inline constexpr std::string_view cannot_rename = " cannot rename file : %s\n";
// Standard output lost the header lines (the reason); the conversion goes on.
inline constexpr std::string_view lost_output = " cannot write standard output : %s\n";

// The options, shared by every converter. What --help lists after the
// tool's own text; its "%s" is the program's name.
inline constexpr std::string_view options_help =
    "Or:    %s [OPTION]... -t DIR FILE...\n"
    "Options, before the names (short ones may be bundled: -nq, -nj 2):\n"
    "  -t, --target-directory=DIR  every name is an input; each output goes into DIR\n"
    "                              under the input's base name with the output's\n"
    "                              extension\n"
    "      --parents               with -t: the output keeps the input's path below\n"
    "                              DIR, as cp --parents does, making the\n"
    "                              directories it needs\n"
    "  -n, --no-clobber            never replace a file or link that has the output's\n"
    "                              name: that input is skipped, with a line on\n"
    "                              standard error, and counts as done\n"
    "  -q, --quiet                 print no header lines\n"
    "  -j, --jobs=N                with -t: up to N conversions at once (default 1)\n"
    "  -h, --help                  print this help and exit\n"
    "  -V, --version               print the name and version and exit\n"
    "  --                          ends the options: every later argument is a name\n"
    "A name that ends in the input's extension is never taken for an option.\n"
    "With -t, a failure is reported as NAME: MESSAGE on standard error and the other\n"
    "inputs are still converted; each converted file's header lines follow a line\n"
    "NAME: on standard output. The status is 0 when every input was converted or\n"
    "skipped, 1 otherwise. On a terminal, standard error shows the progress of a\n"
    "run that takes more than a second: the current file's (with -j, the batch's).\n";

// Errors in the options: standard output, before any file is opened.
inline constexpr std::string_view unknown_option = "Usage: Unknown option. %s\n";
inline constexpr std::string_view missing_value = "Usage: Option needs a value. %s\n";
inline constexpr std::string_view unexpected_value = "Usage: Option takes no value. %s\n";
inline constexpr std::string_view wrong_jobs = "Usage: Jobs must be a whole number from 1. %s\n";
inline constexpr std::string_view needs_target = "Usage: Option only works with -t. %s\n";
inline constexpr std::string_view not_directory = "Usage: Not a directory. %s\n";

// One input of several (-t), on standard error after "NAME: ".
// An absolute name, or one with a ".." component, under --parents.
inline constexpr std::string_view outside_target =
    "Usage: Name is absolute or has '..' (--parents). %s\n";
// Its output name is that of an earlier input of the same run.
inline constexpr std::string_view same_output = "Output of an earlier input, not converted : %s\n";
// The same file given again (as cp warns of it): converted once, the repeat
// skipped and counted as done.
inline constexpr std::string_view given_again = "given more than once, not converted again : %s\n";
// A directory --parents needed could not be made: its name and the reason.
inline constexpr std::string_view cannot_make_directory = " cannot create directory : %s\n";
// -n and an existing output: the input is skipped, named in front in every
// run ("NAME: not overwritten, OUTPUT exists").
inline constexpr std::string_view not_overwritten = "not overwritten, %s exists\n";

}  // namespace dsd::convert_text

namespace dsd::reverse_text {

inline constexpr std::string_view usage =
    "DFF To DSF Converter\nUsage: %s <in_dff_file> <out_dsf_file>\n";
inline constexpr std::string_view about =
    "Converts a DSDIFF (DFF) file of 1 to 6 channels, uncompressed or DST-compressed,\n"
    "into a DSF file at the same sampling rate.\n"
    "  <in_dff_file>   the DFF file to read; its name ends in .dff or .DFF\n"
    "  <out_dsf_file>  the DSF file to write; its name ends in .dsf or .DSF.\n"
    "                  Optional: without it the input's name with dsf for its\n"
    "                  extension is used (take1.dff gives take1.dsf)\n"
    "Prints the sampling frequency, bit number, sample count and data size of the DSF\n"
    "written (DST-compressed sound is decoded first, on every CPU). Each channel is\n"
    "split into 4096-byte blocks, every byte's bits reversed into DSF order and the\n"
    "last block zero-filled; an ID3v2 tag is kept (without one, the artist and title\n"
    "of the DIIN chunk become the tag). A DSF file comes back byte for byte through\n"
    "dsf-dff-convert and this tool only if it is laid out as this tool writes it:\n"
    "1-bit, a multiple of 8 samples, a data chunk of just its samples' blocks with\n"
    "zero fill (an 8-bit DSF comes back 1-bit; non-zero fill and extra blocks are\n"
    "dropped). The input is never changed; the output appears only once it is\n"
    "complete, replacing any file of its name, and on an error nothing is left\n"
    "behind.\n"
    "\n"
    "Exit status: 0 the output is complete; 1 any error (its one message says which).\n";
inline constexpr std::string_view input_extension =
    "Usage: Input File extension is not 'dff'. %s\n";
inline constexpr std::string_view output_extension =
    "Usage: Output File extension is not 'dsf'. %s\n";

// The input's refusals, on standard error. Identifiers are quoted, bytes
// that are not printable shown as \xNN.
inline constexpr std::string_view not_dff = "Not a 'DFF' format : %s\n";
inline constexpr std::string_view past_end_of_file = "Chunk runs past the end of the file : %s\n";
inline constexpr std::string_view past_parent = "Chunk runs past the end of its parent : %s\n";
inline constexpr std::string_view second_chunk = "Second chunk : %s\n";
inline constexpr std::string_view wrong_chunk_size = "Wrong chunk size : %s\n";
inline constexpr std::string_view compressed = "Compressed sound, not converted : %s\n";
inline constexpr std::string_view missing_chunk = "Missing chunk : %s\n";
inline constexpr std::string_view wrong_layout = "Unsupported channel layout : %s\n";
// DST: "FRTE N, file M", the frame count the "FRTE" chunk declares and the
// number of "DSTF" chunks.
inline constexpr std::string_view frame_count_differs = "DST frame count differs : %s\n";
// The index (from 0, in file order) of the first frame that does not decode.
inline constexpr std::string_view damaged_frame = "Damaged DST frame : %s\n";
// Also: convert_text::wrong_rate, wrong_channels, wrong_data_size and read_error.

// A warning on standard error; the conversion goes on.
inline constexpr std::string_view tag_skipped = "ID3 chunk holds no ID3v2 tag, not copied : %s\n";

}  // namespace dsd::reverse_text

namespace dsd::dst_decode_text {

inline constexpr std::string_view usage =
    "DST To DSD Decoder\nUsage: %s <in_dff_file> <out_dff_file>\n";
inline constexpr std::string_view about =
    "Decodes a DST-compressed DSDIFF (DFF) file of 1 to 6 channels into the\n"
    "uncompressed DSDIFF file of the same sound.\n"
    "  <in_dff_file>   the DST-compressed DFF file to read; its name ends in .dff or\n"
    "                  .DFF\n"
    "  <out_dff_file>  the DFF file to write; its name ends in .dff or .DFF\n"
    "Every chunk is copied unchanged and in its place (tags, texts, markers), except\n"
    "that the compression type becomes \"not compressed\", the DST frames become the\n"
    "decoded sound (decoded on every CPU) and the frame index is dropped. Prints\n"
    "nothing. The input is never changed; the output appears only once it is\n"
    "complete, replacing any file of its name, and on an error nothing is left\n"
    "behind.\n"
    "\n"
    "Exit status: 0 the output is complete; 1 any error (its one message says which).\n";
// The input's sound is stored as it is (the input's name).
inline constexpr std::string_view not_dst = "Sound is not DST compressed : %s\n";
// Also: convert_text's wrong_filename, output_extension, cannot_open_input and
// file errors, reverse_text's input_extension and refusals of the input.

}  // namespace dsd::dst_decode_text

namespace dsd::split_text {

inline constexpr std::string_view usage =
    "DFF To DSF Track Splitter\nUsage: %s <in_dff_file> <out_dir>\n";
inline constexpr std::string_view about =
    "Splits a DSDIFF (DFF) edited master of 1 to 6 channels, uncompressed or\n"
    "DST-compressed, into one tagged DSF file per track, at the track markers of its\n"
    "DIIN chunk or at the tracks of a CUE sheet.\n"
    "  <in_dff_file>  the DFF file to read; its name ends in .dff or .DFF\n"
    "  <out_dir>      the directory for the tracks, made when missing (its parent\n"
    "                 must exist); each track is NN.dsf, or NN - TITLE.dsf when it\n"
    "                 has a title\n"
    "Gapless: pauses belong to the end of the track before them, the first pause to\n"
    "track 1, and the tracks played in a row give back the program exactly. Each\n"
    "track is tagged (ID3v2.4: track n/N, title, album, artist, album artist), or\n"
    "gets the input's own ID3 chunk of that track when it holds one per track.\n"
    "Prints one line per track: NN START-END FILE, times as h:mm:ss.ff from the\n"
    "start of the sound (ff: frames of 1/75 s, as in a CUE sheet). The input is\n"
    "never changed; the tracks appear only once all of them are complete, and on an\n"
    "error none is left behind (nor a directory the run made).\n"
    "\n"
    "Exit status: 0 every track is written (or -n skipped the run); 1 any error (its\n"
    "one message says which).\n";
inline constexpr std::string_view options_help =
    "Options, before the names (short ones may be bundled: -nq):\n"
    "      --cue=FILE    take the tracks from the CUE sheet FILE instead of the\n"
    "                    markers\n"
    "  -n, --no-clobber  when a file of a track's name exists, write nothing: the run\n"
    "                    is skipped with a line on standard error and counts as done\n"
    "  -q, --quiet       print no track lines\n"
    "  -h, --help        print this help and exit\n"
    "  -V, --version     print the name and version and exit\n"
    "  --                ends the options: every argument after it is a name\n"
    "On a terminal, standard error shows the progress of a split that takes more than\n"
    "a second.\n";

// The input's refusals, on standard error, before any output exists.
// No TrackStart marker, or no TRACK in the CUE sheet: the file's name.
inline constexpr std::string_view no_tracks = "No track markers : %s\n";
// The index of the first marker (from 0, in file order) that lies before
// the sound or past its end.
inline constexpr std::string_view marker_outside = "Marker outside the sound : %s\n";
// The number of the first track (from 1) without a whole byte of each
// channel of its own.
inline constexpr std::string_view track_too_short = "Track too short : %s\n";
// How many tracks the markers make, when more than 255.
inline constexpr std::string_view too_many_tracks = "Too many tracks : %s\n";
// The CUE sheet: "N: WHAT", N its line (from 1), WHAT one of the texts below.
inline constexpr std::string_view cue_line = "CUE sheet line %s\n";
// A CUE sheet over 1 MiB: its name.
inline constexpr std::string_view cue_too_large = "CUE sheet too large : %s\n";
inline constexpr std::string_view cue_unknown_command = "unknown command";
inline constexpr std::string_view cue_no_closing_quote = "no closing quote";
inline constexpr std::string_view cue_text_after_value = "text after the value";
inline constexpr std::string_view cue_no_value = "value missing";
inline constexpr std::string_view cue_bad_track = "track number not from 01 to 99";
inline constexpr std::string_view cue_not_audio = "track is not AUDIO";
inline constexpr std::string_view cue_track_order = "track number out of order";
inline constexpr std::string_view cue_index_before_track = "INDEX before any TRACK";
inline constexpr std::string_view cue_bad_index = "INDEX is not nn mm:ss:ff";
inline constexpr std::string_view cue_index_order = "INDEX number out of order";
inline constexpr std::string_view cue_position_order = "position out of order";
inline constexpr std::string_view cue_no_start_index = "TRACK without INDEX 01";
inline constexpr std::string_view cue_past_end = "position at or past the end of the sound";
inline constexpr std::string_view cue_bad_utf16 = "invalid UTF-16 text";

// Writing a track failed: "NAME at POSITION", the track's file and its size
// when it failed.
// Also: convert_text::write_error, read_error, cannot_open_output,
// cannot_rename and cannot_make_directory; reverse_text's refusals.

}  // namespace dsd::split_text
