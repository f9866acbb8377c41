#include "tool_options.hpp"

#include <cstdio>
#include <optional>
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

namespace {

// The option a long name stands for: itself, or the one option it
// abbreviates.
std::optional<std::size_t> find_long(std::span<const OptionSpec> specs, std::string_view name) {
    std::optional<std::size_t> found;
    bool ambiguous = false;
    for (std::size_t k = 0; k < specs.size(); ++k) {
        const auto& spec = specs[k];
        if (spec.long_name.empty() || !spec.long_name.starts_with(name)) {
            continue;
        }
        if (spec.long_name.size() == name.size()) {
            return k;
        }
        ambiguous = found.has_value();
        found = k;
    }
    if (ambiguous) {
        return std::nullopt;
    }
    return found;
}

std::optional<std::size_t> find_short(std::span<const OptionSpec> specs, char name) {
    for (std::size_t k = 0; k < specs.size(); ++k) {
        if (specs[k].short_name == name) {
            return k;
        }
    }
    return std::nullopt;
}

class Scanner {
  public:
    Scanner(int argc, const char* const argv[], std::span<const OptionSpec> specs)
        : argc_(argc), argv_(argv), specs_(specs) {}

    OptionScan run(const std::function<bool(std::string_view)>& is_name) {
        bool ended = false;
        for (; at_ < argc_ && argv_[at_] != nullptr; ++at_) {
            const std::string_view arg = argv_[at_];
            if (arg == "--") {
                ended = true;
                ++at_;
                break;
            }
            if (arg.size() < 2 || arg[0] != '-' || is_name(arg)) {
                break;
            }
            if (arg[1] == '-') {
                take_long(arg.substr(2));
            } else {
                take_short(arg.substr(1));
            }
        }
        for (; at_ < argc_ && argv_[at_] != nullptr; ++at_) {
            if (!ended && std::string_view(argv_[at_]) == "--") {
                ended = true;
                continue;
            }
            scan_.names.emplace_back(argv_[at_]);
        }
        return std::move(scan_);
    }

  private:
    void fail(OptionError error, std::string written) {
        if (scan_.error == OptionError::none) {
            scan_.error = error;
            scan_.error_option = std::move(written);
        }
    }

    // The value of the option just read: `attached`, or the next argument.
    void add(std::size_t spec, std::string written, std::optional<std::string_view> attached) {
        GivenOption option{spec, {}, std::move(written)};
        if (specs_[spec].takes_value) {
            if (attached) {
                option.value = *attached;
            } else if (at_ + 1 < argc_ && argv_[at_ + 1] != nullptr) {
                option.value = argv_[++at_];
            } else {
                fail(OptionError::missing_value, option.written);
            }
        }
        scan_.options.push_back(std::move(option));
    }

    void take_long(std::string_view body) {
        const auto equals = body.find('=');
        const auto name = body.substr(0, equals);
        const auto spec = find_long(specs_, name);
        if (!spec) {
            fail(OptionError::unknown, "--" + std::string(name));
            return;
        }
        std::string written = "--" + std::string(specs_[*spec].long_name);
        std::optional<std::string_view> attached;
        if (equals != std::string_view::npos) {
            if (!specs_[*spec].takes_value) {
                fail(OptionError::unexpected_value, written);
            }
            attached = body.substr(equals + 1);
        }
        add(*spec, std::move(written), attached);
    }

    void take_short(std::string_view letters) {
        for (std::size_t i = 0; i < letters.size(); ++i) {
            std::string written{'-', letters[i]};
            const auto spec = find_short(specs_, letters[i]);
            if (!spec) {
                fail(OptionError::unknown, std::move(written));
                return;
            }
            if (specs_[*spec].takes_value) {
                const auto rest = letters.substr(i + 1);
                add(*spec, std::move(written),
                    rest.empty() ? std::nullopt : std::optional<std::string_view>(rest));
                return;
            }
            add(*spec, std::move(written), std::nullopt);
        }
    }

    int argc_;
    const char* const* argv_;
    std::span<const OptionSpec> specs_;
    int at_ = 1;
    OptionScan scan_;
};

}  // namespace

OptionScan scan_options(int argc, const char* const argv[], std::span<const OptionSpec> specs,
                        const std::function<bool(std::string_view)>& is_name) {
    return Scanner(argc, argv, specs).run(is_name);
}

std::string help_text(std::string_view usage, const char* program, std::string_view about,
                      std::string_view tool_name, std::string_view options_help) {
    const std::string_view name = program != nullptr ? program : "";
    std::string text = format_message(usage, name);
    text += '\n';
    text += about;
    text += '\n';
    text += format_message(options_help, name);
    text += "\nSee ";
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
