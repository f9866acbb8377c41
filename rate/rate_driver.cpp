#include "rate_driver.hpp"

#include <csignal>
#include <cstdio>
#include <string>

#include "file_io.hpp"
#include "file_name.hpp"
#include "message_format.hpp"
#include "messages.hpp"
#include "tool_options.hpp"

namespace dsd::rate {

namespace {

void print(std::string_view text, std::string_view value) {
    print_message(stdout, text, value);
}

// The message for a file that was not rewritten, or none.
std::string_view message_for(RewriteOutcome outcome) {
    switch (outcome) {
        case RewriteOutcome::rewritten:
        case RewriteOutcome::already_set:
            return {};
        case RewriteOutcome::not_dff:
            return text::not_dff;
        case RewriteOutcome::dst_compressed:
            return text::dst_compressed;
        case RewriteOutcome::not_wav:
            return text::not_wav;
        case RewriteOutcome::not_pcm:
            return text::not_pcm;
        case RewriteOutcome::unreadable:
            // Opened but its header could not be read back.
            return text::cannot_open;
        case RewriteOutcome::write_failed:
            return text::cannot_write;
    }
    return text::cannot_write;
}

// True when the file was rewritten or already held the target values.
bool process_file(const RateTool& tool, const std::string& name) {
    switch (check_file_name(name, tool.lower_extension, tool.upper_extension)) {
        case NameCheck::ok:
            break;
        case NameCheck::no_dot:
            print(text::wrong_filename, name);
            return false;
        case NameCheck::wrong_extension:
            print(tool.extension_message, name);
            return false;
    }
    // Read first: a file that already holds the target values is a success
    // even where it may not be written, on a read-only medium too.
    const auto reading = open_for_reading(name);
    const auto identity = reading ? identity_of(reading->get()) : std::nullopt;
    if (!identity) {
        print(text::cannot_open, name);
        return false;
    }
    const FieldChange change = tool.rewrite(reading->get());
    RewriteOutcome outcome = change.outcome;
    if (outcome == RewriteOutcome::rewritten) {
        // The name must still lead to the file that was read.
        auto file = open_for_update(name);
        if (!file || identity_of(file->get()) != identity) {
            print(text::cannot_open, name);
            return false;
        }
        outcome = apply_change(file->get(), change);
        // Only a written file can lose data at close.
        if (!file->close() && outcome == RewriteOutcome::rewritten) {
            outcome = RewriteOutcome::write_failed;
        }
    }
    if (const auto message = message_for(outcome); !message.empty()) {
        print(message, name);
        return false;
    }
    return true;
}

}  // namespace

int run_rate_tool(const RateTool& tool, int argc, const char* const argv[]) {
    const ToolCommandLine line = parse_tool_command_line(argc, argv);
    switch (line.option) {
        case ToolOption::help:
            return print_option_text(help_text(text::usage_text, argv[0], tool.about, tool.name));
        case ToolOption::version:
            return print_option_text(version_text(tool.name));
        case ToolOption::none:
            break;
    }
    if (line.names.empty()) {
        print(text::usage_text, argc > 0 && argv[0] != nullptr ? argv[0] : "");
        std::fflush(stdout);
        return exit_no_names;
    }
    // A closed pipe or a full device on standard output never stops a batch:
    // every file is processed and the status is what the messages say, as
    // if they had all been printed.
    std::signal(SIGPIPE, SIG_IGN);
    bool all_done = true;
    for (const auto& name : line.names) {
        all_done = process_file(tool, name) && all_done;
    }
    std::fflush(stdout);
    return all_done ? exit_all_rewritten : exit_some_failed;
}

}  // namespace dsd::rate
