// The options every tool knows: "--help" or "-h", "--version" or "-V", each
// only as the sole argument, and "--", which ends the options. None contains
// a '.', so no name a tool accepts is ever taken for one; every other
// argument is a file name.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace dsd {

enum class ToolOption { none, help, version };

struct ToolCommandLine {
    ToolOption option = ToolOption::none;
    // With no option: argv[1..] in order, less the first "--", which ends
    // the options wherever it stands (as getopt's does) and is never a name.
    std::vector<std::string> names;
};

ToolCommandLine parse_tool_command_line(int argc, const char* const argv[]);

// The option given by this command line, or none.
ToolOption tool_option(int argc, const char* const argv[]);

// Prints `text` on standard output and flushes it; returns the exit status:
// 0, or 1 when the text could not be written.
int print_option_text(std::string_view text);

// The text of "--help": the usage text with the program's invocation name,
// a blank line, the tool's `about` text, the options, and "See TOOL(1).".
std::string help_text(std::string_view usage, const char* program, std::string_view about,
                      std::string_view tool_name);

// "<tool_name> <project version>\n", the text of "--version".
std::string version_text(std::string_view tool_name);

}  // namespace dsd
