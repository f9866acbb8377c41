#include "command_line.hpp"

#include <array>
#include <charconv>
#include <limits>

#include "messages.hpp"
#include "tool_options.hpp"

namespace dsd {
namespace {

namespace text = convert_text;

enum Option : std::size_t { target, parents, no_clobber, quiet, jobs, help, version };

constexpr std::array<OptionSpec, 7> options{{
    {'t', "target-directory", true},
    {0, "parents", false},
    {'n', "no-clobber", false},
    {'q', "quiet", false},
    {'j', "jobs", true},
    {'h', "help", false},
    {'V', "version", false},
}};

ConverterCommand refused(std::string_view message, std::string value) {
    ConverterCommand command;
    command.kind = ConverterCommand::Kind::error;
    command.error = message;
    command.error_value = std::move(value);
    return command;
}

// A whole number from 1, digits only; any larger than the type holds
// counts as the largest.
std::optional<unsigned long> job_count(std::string_view value) {
    unsigned long count = 0;
    const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), count);
    if (value.empty() || end != value.data() + value.size() || value.front() == '+') {
        return std::nullopt;
    }
    if (error == std::errc::result_out_of_range) {
        return std::numeric_limits<unsigned long>::max();
    }
    if (error != std::errc{} || count == 0) {
        return std::nullopt;
    }
    return count;
}

}  // namespace

std::string_view option_error_text(OptionError error) {
    switch (error) {
        case OptionError::unknown:
            return text::unknown_option;
        case OptionError::missing_value:
            return text::missing_value;
        case OptionError::unexpected_value:
            return text::unexpected_value;
        case OptionError::none:
            break;
    }
    return {};
}

ConverterCommand read_converter_command(
    int argc, const char* const argv[],
    const std::function<bool(std::string_view)>& is_input_name) {
    OptionScan scan = scan_options(argc, argv, options, is_input_name);
    bool any_new = false;
    for (const auto& given : scan.options) {
        any_new = any_new || given.spec < help;
    }
    if (!any_new) {
        const ToolCommandLine line = parse_tool_command_line(argc, argv);
        ConverterCommand command;
        switch (line.option) {
            case ToolOption::help:
                command.kind = ConverterCommand::Kind::help;
                break;
            case ToolOption::version:
                command.kind = ConverterCommand::Kind::version;
                break;
            case ToolOption::none:
                command.names = line.names;
                break;
        }
        return command;
    }
    if (scan.error != OptionError::none) {
        return refused(option_error_text(scan.error), scan.error_option);
    }
    ConverterCommand command;
    const std::string* jobs_given = nullptr;
    const std::string* parents_given = nullptr;
    for (const auto& given : scan.options) {
        switch (given.spec) {
            case target:
                command.target = given.value;
                break;
            case parents:
                command.parents = true;
                parents_given = &given.written;
                break;
            case no_clobber:
                command.no_clobber = true;
                break;
            case quiet:
                command.quiet = true;
                break;
            case jobs: {
                const auto count = job_count(given.value);
                if (!count) {
                    return refused(text::wrong_jobs, given.value);
                }
                command.jobs = *count;
                jobs_given = &given.written;
                break;
            }
            case help:
                command.kind = ConverterCommand::Kind::help;
                return command;
            case version:
                command.kind = ConverterCommand::Kind::version;
                return command;
            default:
                break;
        }
    }
    const bool has_target = std::any_of(scan.options.begin(), scan.options.end(),
                                        [](const GivenOption& o) { return o.spec == target; });
    if (!has_target && parents_given != nullptr) {
        return refused(text::needs_target, *parents_given);
    }
    if (!has_target && jobs_given != nullptr) {
        return refused(text::needs_target, *jobs_given);
    }
    command.kind = has_target ? ConverterCommand::Kind::batch : ConverterCommand::Kind::single;
    command.names = std::move(scan.names);
    return command;
}

}  // namespace dsd
