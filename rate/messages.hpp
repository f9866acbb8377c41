// Every text the rate rewriters print. Each has at most one "%s", which
// format_message fills with the program or file name.
#pragma once

#include <string_view>

namespace dsd::rate::text {

inline constexpr std::string_view usage_text =
    "Change sampling rate\nUsage: %s <diff_file1> <diff_file2>.... \n";
// What --help adds after the usage text: the DFF tools' text has the rate
// they set as its "%s".
inline constexpr std::string_view dff_about =
    "Sets the sampling rate declared in each DSDIFF (DFF) file to\n"
    "%s, in place.\n"
    "  <diff_file1> <diff_file2>...  one or more DFF files; each name ends in .dff\n"
    "                                or .DFF\n"
    "Only the four bytes of the rate field are written, and only when they differ;\n"
    "the sound data, tags and file size stay as they are. A name or file that cannot\n"
    "be rewritten gets one line on standard output and the next name is taken.\n"
    "\n"
    "Exit status: 0 every file was rewritten or already held the rate; 1 at least\n"
    "one name or file failed; 255 no file name was given.\n";
inline constexpr std::string_view wav_about =
    "Sets the sampling rate of each WAV file to 44100 Hz and its byte rate to\n"
    "44100 x block align, in place.\n"
    "  <diff_file1> <diff_file2>...  one or more WAV files; each name ends in .wav\n"
    "                                or .WAV\n"
    "Only the eight bytes of the two fields are written, and only when they differ;\n"
    "the samples and file size stay as they are. A name or file that cannot be\n"
    "rewritten gets one line on standard output and the next name is taken.\n"
    "\n"
    "Exit status: 0 every file was rewritten or already held 44100 Hz; 1 at least\n"
    "one name or file failed; 255 no file name was given.\n";

inline constexpr std::string_view wrong_filename = "Usage: Wrong filename. %s\n";
inline constexpr std::string_view extension_not_dff = "Usage: File extension is not 'dff'. %s\n";
inline constexpr std::string_view extension_not_wav = "Usage: File extension is not 'wav'. %s\n";
inline constexpr std::string_view cannot_open = "Usage: Can't open file. %s\n";
inline constexpr std::string_view not_dff = "Usage: Not a 'DFF' file. %s\n";
inline constexpr std::string_view dst_compressed = "Usage: DST compressed, rate not changed. %s\n";
inline constexpr std::string_view not_wav = "Usage: Not a 'WAV' file. %s\n";
inline constexpr std::string_view not_pcm = "Usage: Not PCM, rate not changed. %s\n";
inline constexpr std::string_view cannot_write = "Usage: Can't write file. %s\n";

}  // namespace dsd::rate::text
