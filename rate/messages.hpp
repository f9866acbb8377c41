// Every text the rate rewriters print. Each has at most one "%s", which
// format_message fills with the program or file name.
#pragma once

#include <string_view>

namespace dsd::rate {

inline constexpr std::string_view usage_text =
    "Change sampling rate\nUsage: %s <diff_file1> <diff_file2>.... \n";
inline constexpr std::string_view wrong_filename = "Usage: Wrong filename. %s\n";
inline constexpr std::string_view extension_not_dff = "Usage: File extension is not 'dff'. %s\n";
inline constexpr std::string_view extension_not_wav = "Usage: File extension is not 'wav'. %s\n";
inline constexpr std::string_view cannot_open = "Usage: Can't open file. %s\n";
inline constexpr std::string_view not_dff = "Usage: Not a 'DFF' file. %s\n";
inline constexpr std::string_view dst_compressed = "Usage: DST compressed, rate not changed. %s\n";
inline constexpr std::string_view not_wav = "Usage: Not a 'WAV' file. %s\n";
inline constexpr std::string_view not_pcm = "Usage: Not PCM, rate not changed. %s\n";
inline constexpr std::string_view cannot_write = "Usage: Can't write file. %s\n";

}  // namespace dsd::rate
