// Every text the converters print. Usage and name messages go to standard
// output; file errors to standard error.
#pragma once

namespace dsd::convert_text {

inline constexpr char convert_usage[] =
    "DSF To DFF Converter\nUsage: %s <in_dsf_file> <out_dff_file>\n";
inline constexpr char dff256_usage[] =
    "Dummy DSF64 Data To DFF256 Converter\nUsage: %s <in_dsf_file> <out_dff_file>\n";

inline constexpr char wrong_filename[] = "Usage: Wrong filename. %s\n";
inline constexpr char input_extension[] = "Usage: Input File extension is not 'dsf'. %s\n";
inline constexpr char output_extension[] = "Usage: Output File extension is not 'dff'. %s\n";
inline constexpr char cannot_open_input[] = "Usage: Can't open file. %s\n";

inline constexpr char sampling_frequency[] = "Sampling frequency <%u>\n";
inline constexpr char bit_number[] = "bit number <%u>\n";
inline constexpr char sample_number[] = "sample number <%llu>\n";
inline constexpr char data_size[] = "DSD Data size <%llu>\n";

inline constexpr char not_dsf[] = "Not a 'DSF' format : %s\n";
inline constexpr char wrong_channels[] = "Wrong numbers of channels : %u\n";
inline constexpr char wrong_data_size[] = "Wrong data size : %llu\n";
inline constexpr char wrong_block_size[] = "Wrong block size : %u\n";

inline constexpr char cannot_open_output[] = " cannot open file : %s\n";
inline constexpr char read_error[] = " read error : %ld\n";
inline constexpr char write_error[] = " write error : %ld\n";
// The output file and why it could not be given its name.
inline constexpr char cannot_rename[] = " cannot rename file : %s (%s)\n";
// Standard output lost the header lines; the conversion still counts.
inline constexpr char lost_output[] = " cannot write standard output : %s\n";

}  // namespace dsd::convert_text
