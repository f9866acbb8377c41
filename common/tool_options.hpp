// The options every tool knows: "--help" or "-h", "--version" or "-V", each
// only as the sole argument, and "--", which ends the options. None contains
// a '.', so no name a tool accepts is ever taken for one; every other
// argument is a file name.
//
// Tools with more options read them with scan_options, GNU style.
#pragma once

#include <cstddef>
#include <functional>
#include <span>
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

// One option a tool accepts.
struct OptionSpec {
    char short_name = 0;         // 0: none
    std::string_view long_name;  // without the dashes; empty: none
    bool takes_value = false;
};

struct GivenOption {
    std::size_t spec = 0;  // its index in the table
    std::string value;
    std::string written;  // as it names itself in a message: "-j" or "--jobs"
};

enum class OptionError {
    none,
    unknown,           // no such option, or a long name that abbreviates several
    missing_value,     // the last argument, and it takes a value
    unexpected_value,  // --name=VALUE for one that takes none
};

struct OptionScan {
    std::vector<GivenOption> options;  // in the order given
    std::vector<std::string> names;
    OptionError error = OptionError::none;  // the first one met
    std::string error_option;               // as written
};

// Reads the options in front of the names, GNU style: short options may be
// bundled ("-nq", "-nj 2", "-j2"), a long one may be any unambiguous
// abbreviation and takes its value after '=' or as the next argument, "--"
// ends the options. The options end at the first name: "-" alone, anything
// not starting with '-', and any argument for which `is_name` is true, so
// that names a tool accepts are never taken for options. After the options,
// the first "--" is dropped wherever it stands, as parse_tool_command_line
// does. The scan goes on past an unknown option, so that `options` holds
// every known one given, even one given wrongly.
OptionScan scan_options(int argc, const char* const argv[], std::span<const OptionSpec> specs,
                        const std::function<bool(std::string_view)>& is_name);

// Prints `text` on standard output and flushes it; returns the exit status:
// 0, or 1 when the text could not be written.
int print_option_text(std::string_view text);

// The option list of --help for tools that know only -h, -V and --.
inline constexpr std::string_view basic_options_help =
    "Options, each alone on the command line:\n"
    "  -h, --help     print this help and exit\n"
    "  -V, --version  print the name and version and exit\n"
    "  --             ends the options: every argument after it is a file name\n";

// The text of "--help": the usage text with the program's invocation name,
// a blank line, the tool's `about` text, a blank line, the option list
// (its "%s", if any, the invocation name too), and "See TOOL(1).".
std::string help_text(std::string_view usage, const char* program, std::string_view about,
                      std::string_view tool_name,
                      std::string_view options_help = basic_options_help);

// "<tool_name> <project version>\n", the text of "--version".
std::string version_text(std::string_view tool_name);

}  // namespace dsd
