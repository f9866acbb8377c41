// Every text the converters print. Usage and name messages go to standard
// output; file errors to standard error. Each has at most one "%s", which
// format_message fills with a name or a number.
#pragma once

#include <string_view>

namespace dsd::convert_text {

inline constexpr std::string_view convert_usage =
    "DSF To DFF Converter\nUsage: %s <in_dsf_file> <out_dff_file>\n";
inline constexpr std::string_view dff256_usage =
    "Dummy DSF64 Data To DFF256 Converter\nUsage: %s <in_dsf_file> <out_dff_file>\n";

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
inline constexpr std::string_view wrong_data_size = "Wrong data size : %s\n";
inline constexpr std::string_view wrong_block_size = "Wrong block size : %s\n";

inline constexpr std::string_view cannot_open_output = " cannot open file : %s\n";
inline constexpr std::string_view read_error = " read error : %s\n";
inline constexpr std::string_view write_error = " write error : %s\n";

}  // namespace dsd::convert_text
