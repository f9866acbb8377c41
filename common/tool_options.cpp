#include "tool_options.hpp"

#include <cstdio>
#include <string>

#include "dsd_version.hpp"
#include "message_format.hpp"

namespace dsd {

ToolCommandLine parse_tool_command_line(int argc, const char* const argv[]) {
    ToolCommandLine line;
    if (argc == 2 && argv[1] != nullptr) {
        const std::string_view argument = argv[1];
        if (argument == "--help" || argument == "-h") {
            line.option = ToolOption::help;
            return line;
        }
        if (argument == "--version" || argument == "-V") {
            line.option = ToolOption::version;
            return line;
        }
    }
    bool options_ended = false;
    for (int i = 1; i < argc && argv[i] != nullptr; ++i) {
        if (!options_ended && std::string_view(argv[i]) == "--") {
            options_ended = true;
            continue;
        }
        line.names.emplace_back(argv[i]);
    }
    return line;
}

ToolOption tool_option(int argc, const char* const argv[]) {
    return parse_tool_command_line(argc, argv).option;
}

std::string help_text(std::string_view usage, const char* program, std::string_view about,
                      std::string_view tool_name) {
    std::string text = format_message(usage, program != nullptr ? program : "");
    text += '\n';
    text += about;
    text +=
        "\n"
        "Options, each alone on the command line:\n"
        "  -h, --help     print this help and exit\n"
        "  -V, --version  print the name and version and exit\n"
        "After --, every argument is a file name, even one that starts with -.\n"
        "\n"
        "See ";
    text += tool_name;
    text += "(1).\n";
    return text;
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
