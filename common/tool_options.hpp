// The two options every tool knows: "--help" and "--version", each only as
// the sole argument. Neither contains a '.', so no name a tool accepts is
// ever taken for one; any other command line is the tool's own business.
#pragma once

#include <string>
#include <string_view>

namespace dsd {

enum class ToolOption { none, help, version };

// The option given by this command line, or none.
ToolOption tool_option(int argc, const char* const argv[]);

// Prints `text` on standard output and flushes it; returns the exit status:
// 0, or 1 when the text could not be written.
int print_option_text(std::string_view text);

// "<tool_name> <project version>\n", the text of "--version".
std::string version_text(std::string_view tool_name);

}  // namespace dsd
