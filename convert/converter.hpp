// The command-line driver the converters share: the names, the staged
// output, --help and --version. What is read, checked, printed and written
// is the business of each direction's conversion.
#pragma once

#include <cstdint>
#include <string_view>

namespace dsd {

// The entry points. Each runs one conversion for the given command line and
// returns the exit status. "--help" (or "-h") prints the usage text and
// `about` on standard output, "--version" (or "-V") the name and version;
// both then end with status 0. `fixed_rate` 0 declares the input's own rate.
int run_dsf_to_dff(int argc, char** argv, std::string_view usage, std::string_view about,
                   std::uint32_t fixed_rate, const char* name);
int run_dff_to_dsf(int argc, char** argv, const char* name);
int run_dst_decode(int argc, char** argv, const char* name);

}  // namespace dsd
