#include "tool_options.hpp"

#include <cstdio>
#include <string>

#include "dsd_version.hpp"

namespace dsd {

ToolOption tool_option(int argc, const char* const argv[]) {
    if (argc != 2 || argv[1] == nullptr) {
        return ToolOption::none;
    }
    const std::string_view argument = argv[1];
    if (argument == "--help") {
        return ToolOption::help;
    }
    if (argument == "--version") {
        return ToolOption::version;
    }
    return ToolOption::none;
}

int print_option_text(std::string_view text) {
    const bool written = std::fwrite(text.data(), 1, text.size(), stdout) == text.size();
    // A full disk or a closed pipe must not pass for success.
    return std::fflush(stdout) == 0 && written ? 0 : 1;
}

std::string version_text(std::string_view tool_name) {
    std::string text(tool_name);
    text += ' ';
    text += project_version;
    text += '\n';
    return text;
}

}  // namespace dsd
