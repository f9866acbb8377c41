#include "converter.hpp"

#include <cerrno>
#include <concepts>
#include <csignal>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string>

#include "dsf.hpp"
#include "dsf_to_dff.hpp"
#include "file_io.hpp"
#include "file_name.hpp"
#include "id3_tag.hpp"
#include "message_format.hpp"
#include "messages.hpp"
#include "tool_options.hpp"

namespace dsd {
namespace {

namespace text = convert_text;

constexpr int failure = 1;

int say(std::string_view text, const std::string& name) {
    print_message(stdout, text, name);
    return failure;
}

void report(std::string_view text, std::string_view value) {
    print_message(stderr, text, value);
}

template <std::integral Number>
void report(std::string_view text, Number value) {
    report(text, std::to_string(value));
}

// The header lines are information, not the product: a closed pipe or a
// full device on standard output is reported once and the run goes on.
void print_stream_info(const DsfHeaderResult& header) {
    const auto& info = header.info;
    if (header.values_read >= 1) {
        print_message(stdout, text::sampling_frequency, std::to_string(info.sampling_frequency));
    }
    if (header.values_read >= 2) {
        print_message(stdout, text::bit_number, std::to_string(info.bits_per_sample));
    }
    if (header.values_read >= 3) {
        print_message(stdout, text::sample_number, std::to_string(info.sample_count));
    }
    if (header.values_read >= 4) {
        print_message(stdout, text::data_size, std::to_string(info.data_size));
    }
    errno = 0;
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        report(text::lost_output, std::strerror(errno != 0 ? errno : EIO));
    }
}

// Bytes from a file, safe to show on a terminal: printable ASCII as it is,
// anything else as \xNN.
std::string printable(std::string_view bytes) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string shown;
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte < 0x7F) {
            shown += c;
        } else {
            shown += "\\x";
            shown += digits[byte >> 4];
            shown += digits[byte & 0xF];
        }
    }
    return shown;
}

// Reports a header that failed its checks; returns the exit status.
int report_header_error(const DsfHeaderResult& header) {
    switch (header.error) {
        case DsfHeaderError::read_failed:
            report(text::read_error, header.detail);
            break;
        case DsfHeaderError::not_dsf:
            report(text::not_dsf, printable(header.identifier));
            break;
        case DsfHeaderError::wrong_channels:
            report(text::wrong_channels, header.detail);
            break;
        case DsfHeaderError::wrong_rate:
            report(text::wrong_rate, header.info.sampling_frequency);
            break;
        case DsfHeaderError::wrong_bits:
            report(text::wrong_bits, header.detail);
            break;
        case DsfHeaderError::wrong_block_size:
            report(text::wrong_block_size, header.detail);
            break;
        case DsfHeaderError::wrong_data_size:
            report(text::wrong_data_size, header.detail);
            break;
        case DsfHeaderError::none:
            break;
    }
    return failure;
}

}  // namespace

int run_converter(int argc, char** argv, const ConverterVariant& variant) {
    const ToolCommandLine line = parse_tool_command_line(argc, argv);
    switch (line.option) {
        case ToolOption::help:
            return print_option_text(
                help_text(variant.usage, argv[0], variant.about, variant.name));
        case ToolOption::version:
            return print_option_text(version_text(variant.name));
        case ToolOption::none:
            break;
    }
    const auto& names = line.names;
    if (names.size() != 1 && names.size() != 2) {
        print_message(stdout, variant.usage, argv[0] != nullptr ? argv[0] : "");
        return failure;
    }
    const std::string& input = names[0];
    switch (check_file_name(input, "dsf", "DSF")) {
        case NameCheck::no_dot:
            return say(text::wrong_filename, input);
        case NameCheck::wrong_extension:
            return say(text::input_extension, input);
        case NameCheck::ok:
            break;
    }
    std::string output;
    if (names.size() == 2) {
        output = names[1];
        switch (check_file_name(output, "dff", "DFF")) {
            case NameCheck::no_dot:
                return say(text::wrong_filename, output);
            case NameCheck::wrong_extension:
                return say(text::output_extension, output);
            case NameCheck::ok:
                break;
        }
    } else {
        output = *file_stem_with_dot(input) + "dff";
    }

    // Writes to a closed pipe fail with EPIPE instead of ending the run.
    std::signal(SIGPIPE, SIG_IGN);
    // Read-only: the input is never written, so read-only files and media
    // convert like any other.
    auto in = open_for_reading(input);
    const auto input_identity = in ? identity_of(in->get()) : std::nullopt;
    if (!input_identity) {
        return say(text::cannot_open_input, input);
    }
    const DsfHeaderResult header = read_dsf_header(in->get());
    print_stream_info(header);
    if (header.error != DsfHeaderError::none) {
        return report_header_error(header);
    }
    const auto tag = find_id3_tag(in->get(), header.info.metadata_pointer);

    // Past a file-size limit, a write should fail and be reported like any
    // other failed write, not kill the process with its output half-made.
    std::signal(SIGXFSZ, SIG_IGN);
    auto out = StagedOutput::create(output, input_identity);
    if (!out) {
        in->close();
        report(text::cannot_open_output, output);
        return failure;
    }
    const std::uint32_t rate =
        variant.fixed_rate != 0 ? variant.fixed_rate : header.info.sampling_frequency;
    const WriteResult written = write_dff_stream(in->get(), out->fd(), header.info, rate, tag);
    switch (written.status) {
        case WriteStatus::read_failed:
            report(text::read_error, written.position);
            return failure;
        case WriteStatus::write_failed:
            report(text::write_error, written.position);
            return failure;
        case WriteStatus::ok:
            break;
    }
    in->close();
    const auto end = current_position(out->fd());
    switch (out->commit()) {
        case StagedOutput::Commit::write_failed:
            report(text::write_error, end);
            return failure;
        case StagedOutput::Commit::name_failed:
            report(text::cannot_rename, output + " (" + std::strerror(out->error()) + ")");
            return failure;
        case StagedOutput::Commit::done:
            break;
    }
    return 0;
}

}  // namespace dsd
