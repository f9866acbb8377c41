// The converters' command line: the options in front of the names, and what
// a command line without any of them has always meant.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tool_options.hpp"

namespace dsd {

struct ConverterCommand {
    enum class Kind {
        help,
        version,
        single,  // one input, and maybe its output's name
        batch,   // -t: every name an input
        error,   // a wrong option: `error` and `error_value`
    };
    Kind kind = Kind::single;
    std::string_view error;
    std::string error_value;

    std::vector<std::string> names;
    std::string target;  // -t
    bool parents = false;
    bool no_clobber = false;
    bool quiet = false;
    unsigned long jobs = 1;
};

// Reads a converter's command line. `is_input_name` is true for the names
// the converter accepts as its input: those are never options. Without -t,
// --parents, -n, -q or -j the command line means what it always has: -h,
// --help, -V and --version count only as the sole argument, and every other
// argument but the first "--" is a name.
// The message template ("%s" the option as written) for a wrong option, or an
// empty view for OptionError::none.
std::string_view option_error_text(OptionError error);

ConverterCommand read_converter_command(int argc, const char* const argv[],
                                        const std::function<bool(std::string_view)>& is_input_name);

}  // namespace dsd
