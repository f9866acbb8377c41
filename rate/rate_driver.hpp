// The command line shared by the four rate rewriters: each name is checked,
// opened for reading and handed to the tool's rewrite, and opened for update
// only when it needs a change; a rejected file gets one line on standard
// output and the run goes on.
#pragma once

#include <string_view>

#include "rewrite.hpp"

namespace dsd::rate {

struct RateTool {
    std::string_view lower_extension;
    std::string_view upper_extension;
    std::string_view extension_message;
    FieldChange (*rewrite)(int fd);  // fd is open for reading only
    std::string_view name;           // the program's name, for --version
    std::string_view about;          // what --help adds after the usage text
};

inline constexpr int exit_all_rewritten = 0;
inline constexpr int exit_some_failed = 1;
inline constexpr int exit_no_names = 255;

// Runs the tool over argv[1..]; returns the exit status. A lone "--help" or
// "-h" prints the help on standard output, a lone "--version" or "-V" the
// name and version; both then end with status 0. Any other argument but the
// first "--" is a file name.
int run_rate_tool(const RateTool& tool, int argc, const char* const argv[]);

}  // namespace dsd::rate
