#include "converter.hpp"

#include <cerrno>
#include <csignal>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string>

#include "dff_writer.hpp"
#include "dsf_header.hpp"
#include "file_io.hpp"
#include "file_name.hpp"
#include "id3_tag.hpp"
#include "messages.hpp"
#include "tool_options.hpp"

namespace dsd {
namespace {

namespace text = convert_text;

constexpr int failure = 1;

int say(const char* format, const std::string& name) {
    std::printf(format, name.c_str());
    return failure;
}

// The header lines are information, not the product: a closed pipe or a
// full device on standard output is reported once and the run goes on.
void print_stream_info(const DsfHeaderResult& header) {
    const auto& info = header.info;
    if (header.values_read >= 1) {
        std::printf(text::sampling_frequency, info.sampling_frequency);
    }
    if (header.values_read >= 2) {
        std::printf(text::bit_number, info.bits_per_sample);
    }
    if (header.values_read >= 3) {
        std::printf(text::sample_number, static_cast<unsigned long long>(info.sample_count));
    }
    if (header.values_read >= 4) {
        std::printf(text::data_size, static_cast<unsigned long long>(info.data_size));
    }
    errno = 0;
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        const int error = errno != 0 ? errno : EIO;
        std::fprintf(stderr, text::lost_output, std::strerror(error));
    }
}

// Reports a header that failed its checks; returns the exit status.
int report_header_error(const DsfHeaderResult& header) {
    switch (header.error) {
        case DsfHeaderError::read_failed:
            std::fprintf(stderr, text::read_error, static_cast<long>(header.detail));
            break;
        case DsfHeaderError::not_dsf:
            std::fprintf(stderr, text::not_dsf, header.identifier.c_str());
            break;
        case DsfHeaderError::wrong_channels:
            std::fprintf(stderr, text::wrong_channels, static_cast<unsigned>(header.detail));
            break;
        case DsfHeaderError::wrong_block_size:
            std::fprintf(stderr, text::wrong_block_size, static_cast<unsigned>(header.detail));
            break;
        case DsfHeaderError::wrong_data_size:
            std::fprintf(stderr, text::wrong_data_size,
                         static_cast<unsigned long long>(header.detail));
            break;
        case DsfHeaderError::none:
            break;
    }
    return failure;
}

// The usage text with the program's invocation name.
std::string usage_text(const char* format, const char* program) {
    const int length = std::snprintf(nullptr, 0, format, program);
    if (length <= 0) {
        return {};
    }
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    std::snprintf(text.data(), text.size(), format, program);
    text.pop_back();
    return text;
}

}  // namespace

int run_converter(int argc, char** argv, const ConverterVariant& variant) {
    switch (tool_option(argc, argv)) {
        case ToolOption::help:
            return print_option_text(usage_text(variant.usage, argv[0]));
        case ToolOption::version:
            return print_option_text(version_text(variant.name));
        case ToolOption::none:
            break;
    }
    if (argc != 2 && argc != 3) {
        std::fputs(usage_text(variant.usage, argv[0]).c_str(), stdout);
        return failure;
    }
    const std::string input = argv[1];
    switch (check_file_name(input, "dsf", "DSF")) {
        case NameCheck::no_dot:
            return say(text::wrong_filename, input);
        case NameCheck::wrong_extension:
            return say(text::input_extension, input);
        case NameCheck::ok:
            break;
    }
    std::string output;
    if (argc == 3) {
        output = argv[2];
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
        std::fprintf(stderr, text::cannot_open_output, output.c_str());
        return failure;
    }
    const std::uint32_t rate =
        variant.fixed_rate != 0 ? variant.fixed_rate : header.info.sampling_frequency;
    const WriteResult written = write_dff_stream(in->get(), out->fd(), header.info, rate, tag);
    switch (written.status) {
        case WriteStatus::read_failed:
            std::fprintf(stderr, text::read_error, static_cast<long>(written.position));
            return failure;
        case WriteStatus::write_failed:
            std::fprintf(stderr, text::write_error, static_cast<long>(written.position));
            return failure;
        case WriteStatus::ok:
            break;
    }
    in->close();
    const auto end = current_position(out->fd());
    switch (out->commit()) {
        case StagedOutput::Commit::write_failed:
            std::fprintf(stderr, text::write_error, static_cast<long>(end));
            return failure;
        case StagedOutput::Commit::name_failed:
            std::fprintf(stderr, text::cannot_rename, output.c_str(), std::strerror(out->error()));
            return failure;
        case StagedOutput::Commit::done:
            break;
    }
    return 0;
}

}  // namespace dsd
