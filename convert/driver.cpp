#include "driver.hpp"

#include <sys/stat.h>

#include <csignal>
#include <cstdio>
#include <mutex>
#include <optional>

#include "batch.hpp"
#include "command_line.hpp"
#include "file_io.hpp"
#include "file_name.hpp"
#include "message_format.hpp"
#include "messages.hpp"
#include "tool_options.hpp"

namespace dsd {
namespace {

namespace text = convert_text;

constexpr int failure = 1;

// Any file or link, even a dangling one, has the name.
bool name_taken(const std::string& name) {
    struct stat st {};
    return ::lstat(name.c_str(), &st) == 0;
}

std::string with_reason(const std::string& name, int error) {
    return name + " (" + error_text(error) + ")";
}

int run_single(const Direction& direction, const MakeConversion& make,
               const ConverterCommand& command, const char* program) {
    const auto& names = command.names;
    if (names.size() != 2 && (names.size() != 1 || !direction.output_optional)) {
        print_message(stdout, direction.usage, program);
        return failure;
    }
    FileJob job{names[0], {}, {}};
    Console console;
    FileReport report(console, job.input, FileReport::Mode::single, command.quiet);
    if (const auto refusal = name_refusal(job.input, direction.input)) {
        report.message(Stream::out, *refusal, job.input);
        return failure;
    }
    if (names.size() == 2) {
        job.output = names[1];
        if (const auto refusal = name_refusal(job.output, direction.output)) {
            report.message(Stream::out, *refusal, job.output);
            return failure;
        }
    } else {
        job.output = *file_stem_with_dot(job.input) + std::string(direction.output.lower);
    }

    prepare_process();
    const bool shown = ProgressDisplay::terminal_attached();
    ProgressDisplay display(console, {}, shown);
    std::uint64_t size = 0;
    if (struct stat st{}; shown && ::stat(job.input.c_str(), &st) == 0) {
        size = static_cast<std::uint64_t>(st.st_size);
    }
    ProgressCounter& progress = display.start(0, 1, job.input, size);
    const Outcome outcome = convert_file(job, *make(), report, progress, {command.no_clobber});
    display.finish(0, outcome == Outcome::failed);
    return outcome == Outcome::failed ? failure : 0;
}

}  // namespace

std::optional<std::string_view> name_refusal(std::string_view name, const FileKind& kind) {
    switch (check_file_name(name, kind.lower, kind.upper)) {
        case NameCheck::no_dot:
            return text::wrong_filename;
        case NameCheck::wrong_extension:
            return kind.wrong_extension;
        case NameCheck::ok:
            break;
    }
    return std::nullopt;
}

void prepare_process() {
    static std::once_flag once;
    std::call_once(once, [] {
        // Writes to a closed pipe fail with EPIPE instead of ending the run.
        std::signal(SIGPIPE, SIG_IGN);
        // Past a file-size limit, a write should fail and be reported like
        // any other failed write, not kill the process with its output
        // half-made.
        std::signal(SIGXFSZ, SIG_IGN);
    });
}

Outcome convert_file(const FileJob& job, Conversion& conversion, FileReport& report,
                     ProgressCounter& progress, const FileSettings& settings) {
    // Read-only: the input is never written, so read-only files and media
    // convert like any other.
    auto in = open_for_reading(job.input);
    const auto input_identity = in ? identity_of(in->get()) : std::nullopt;
    if (!input_identity) {
        report.message(Stream::out, text::cannot_open_input, job.input);
        return Outcome::failed;
    }
    // Only an input there is counts as done when skipped (its header lines
    // are not printed, so it is not read).
    if (settings.no_clobber && name_taken(job.output)) {
        report.about_input(text::not_overwritten, job.output);
        return Outcome::skipped;
    }
    if (!conversion.check(in->get(), report)) {
        return Outcome::failed;
    }

    TargetDirectories::Lease directories;
    if (settings.directories != nullptr) {
        auto made = settings.directories->make(job.directories);
        directories = std::move(made.lease);
        if (!made.failed.empty()) {
            report.message(Stream::err, text::cannot_make_directory,
                           with_reason(made.failed, made.error));
            return Outcome::failed;
        }
    }
    auto out = StagedOutput::create(
        job.output, input_identity,
        settings.no_clobber ? StagedOutput::Existing::keep : StagedOutput::Existing::replace);
    if (!out) {
        in->close();
        report.message(Stream::err, text::cannot_open_output, job.output);
        return Outcome::failed;
    }
    const WriteResult written = conversion.write(in->get(), out->fd(), progress);
    switch (written.status) {
        case WriteStatus::read_failed:
            report.message(Stream::err, text::read_error, written.position);
            return Outcome::failed;
        case WriteStatus::write_failed:
            report.message(Stream::err, text::write_error, written.position);
            return Outcome::failed;
        case WriteStatus::damaged_frame:
            report.message(Stream::err, reverse_text::damaged_frame, written.position);
            return Outcome::failed;
        case WriteStatus::ok:
            break;
    }
    in->close();
    const auto end = current_position(out->fd());
    switch (out->commit()) {
        case StagedOutput::Commit::write_failed:
            report.message(Stream::err, text::write_error, end);
            return Outcome::failed;
        case StagedOutput::Commit::name_failed:
            report.message(Stream::err, text::cannot_rename, with_reason(job.output, out->error()));
            return Outcome::failed;
        case StagedOutput::Commit::exists:
            // Made meanwhile by someone else: kept, as -n promises.
            report.about_input(text::not_overwritten, job.output);
            return Outcome::skipped;
        case StagedOutput::Commit::done:
            break;
    }
    directories.keep();
    conversion.finish(job.input, report);
    return Outcome::converted;
}

int run_converter(int argc, char** argv, const Direction& direction, const MakeConversion& make) {
    const auto is_input_name = [&](std::string_view name) {
        return check_file_name(name, direction.input.lower, direction.input.upper) == NameCheck::ok;
    };
    const ConverterCommand command = read_converter_command(argc, argv, is_input_name);
    const char* program = argc > 0 && argv[0] != nullptr ? argv[0] : "";
    switch (command.kind) {
        case ConverterCommand::Kind::help:
            return print_option_text(help_text(direction.usage, program, direction.about,
                                               direction.name, text::options_help));
        case ConverterCommand::Kind::version:
            return print_option_text(version_text(direction.name));
        case ConverterCommand::Kind::error:
            print_message(stdout, command.error, command.error_value);
            return failure;
        case ConverterCommand::Kind::batch:
            return run_batch(direction, make, command, program);
        case ConverterCommand::Kind::single:
            break;
    }
    return run_single(direction, make, command, program);
}

}  // namespace dsd
