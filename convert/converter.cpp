#include "converter.hpp"

#include <algorithm>
#include <cerrno>
#include <concepts>
#include <csignal>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <optional>
#include <span>
#include <string>

#include "byte_source.hpp"
#include "chunk_id.hpp"
#include "dff_report.hpp"
#include "dff_to_dsf.hpp"
#include "dsf.hpp"
#include "dsf_to_dff.hpp"
#include "dst_decode.hpp"
#include "dst_sound.hpp"
#include "file_io.hpp"
#include "file_name.hpp"
#include "id3_tag.hpp"
#include "message_format.hpp"
#include "messages.hpp"
#include "staged_output.hpp"
#include "tool_options.hpp"

namespace dsd {
namespace {

namespace text = convert_text;
namespace reverse = reverse_text;
namespace decode = dst_decode_text;

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

// Reports a header that failed its checks; returns the exit status.
int report_header_error(const DsfHeaderResult& header) {
    switch (header.error) {
        case DsfHeaderError::read_failed:
            report(text::read_error, header.detail);
            break;
        case DsfHeaderError::not_dsf:
            report(text::not_dsf, printable_bytes(header.identifier));
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

// One direction of conversion, as the driver runs it.
class Conversion {
  public:
    virtual ~Conversion() = default;
    // Reads and checks the input (named `input`) before the output exists,
    // printing what this direction prints; false when the run fails
    // (already reported).
    virtual bool check(int in, const std::string& input) = 0;
    virtual WriteResult write(int in, int out) = 0;
    // Once the output has its name.
    virtual void finish(const std::string& /*input*/) {}
};

// The names a direction takes: the two accepted forms of an extension, the
// message for any other, and the extension the output name gets by default.
struct FileKind {
    std::string_view lower;
    std::string_view upper;
    std::string_view wrong_extension;
};

struct Direction {
    std::string_view usage;  // the program name as its %s
    std::string_view about;  // what --help adds after it
    const char* name;        // the program's name, for --version
    FileKind input;
    FileKind output;
    bool output_optional = true;  // made from the input's name when not given
};

int run_converter(int argc, char** argv, const Direction& direction, Conversion& conversion) {
    const ToolCommandLine line = parse_tool_command_line(argc, argv);
    switch (line.option) {
        case ToolOption::help:
            return print_option_text(
                help_text(direction.usage, argv[0], direction.about, direction.name));
        case ToolOption::version:
            return print_option_text(version_text(direction.name));
        case ToolOption::none:
            break;
    }
    const auto& names = line.names;
    if (names.size() != 2 && (names.size() != 1 || !direction.output_optional)) {
        print_message(stdout, direction.usage, argv[0] != nullptr ? argv[0] : "");
        return failure;
    }
    const std::string& input = names[0];
    switch (check_file_name(input, direction.input.lower, direction.input.upper)) {
        case NameCheck::no_dot:
            return say(text::wrong_filename, input);
        case NameCheck::wrong_extension:
            return say(direction.input.wrong_extension, input);
        case NameCheck::ok:
            break;
    }
    std::string output;
    if (names.size() == 2) {
        output = names[1];
        switch (check_file_name(output, direction.output.lower, direction.output.upper)) {
            case NameCheck::no_dot:
                return say(text::wrong_filename, output);
            case NameCheck::wrong_extension:
                return say(direction.output.wrong_extension, output);
            case NameCheck::ok:
                break;
        }
    } else {
        output = *file_stem_with_dot(input) + std::string(direction.output.lower);
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
    if (!conversion.check(in->get(), input)) {
        return failure;
    }

    // Past a file-size limit, a write should fail and be reported like any
    // other failed write, not kill the process with its output half-made.
    std::signal(SIGXFSZ, SIG_IGN);
    auto out = StagedOutput::create(output, input_identity);
    if (!out) {
        in->close();
        report(text::cannot_open_output, output);
        return failure;
    }
    const WriteResult written = conversion.write(in->get(), out->fd());
    switch (written.status) {
        case WriteStatus::read_failed:
            report(text::read_error, written.position);
            return failure;
        case WriteStatus::write_failed:
            report(text::write_error, written.position);
            return failure;
        case WriteStatus::damaged_frame:
            report(reverse::damaged_frame, written.position);
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
    conversion.finish(input);
    return 0;
}

class DsfToDff final : public Conversion {
  public:
    explicit DsfToDff(std::uint32_t fixed_rate) : fixed_rate_(fixed_rate) {}

    bool check(int in, const std::string& /*input*/) override {
        header_ = read_dsf_header(in);
        print_stream_info(header_);
        if (header_.error != DsfHeaderError::none) {
            report_header_error(header_);
            return false;
        }
        tag_ = find_id3_tag(in, header_.info.metadata_pointer);
        return true;
    }

    WriteResult write(int in, int out) override {
        const std::uint32_t rate = fixed_rate_ != 0 ? fixed_rate_ : header_.info.sampling_frequency;
        return write_dff_stream(in, out, header_.info, rate, tag_);
    }

  private:
    std::uint32_t fixed_rate_;
    DsfHeaderResult header_;
    std::optional<Id3TagLocation> tag_;
};

// Refusals of a DSDIFF input, on standard error.
const Say to_stderr = [](std::string_view message, std::string_view value) {
    report(message, value);
};

class DffToDsf final : public Conversion {
  public:
    bool check(int in, const std::string& /*input*/) override {
        const auto size = file_size(in);
        if (!size) {
            report(text::read_error, 0);
            return false;
        }
        plan_ = plan_dsf(file_source(in, *size));
        if (plan_.error != DsfPlanError::none) {
            report_plan_error(plan_, to_stderr);
            return false;
        }
        return true;
    }

    WriteResult write(int in, int out) override {
        return write_dsf_stream(in, out, plan_, dst_threads_from_environment());
    }

    // What dsf-dff-convert would print for the file written.
    void finish(const std::string& input) override {
        if (plan_.tag_skipped) {
            report(reverse::tag_skipped, input);
        }
        DsfHeaderResult written;
        written.info = dsf_stream_info(plan_.layout);
        written.values_read = 4;
        print_stream_info(written);
    }

  private:
    DsfPlan plan_;
};

void report_decode_plan_error(const DecodePlan& plan, const std::string& input) {
    const DffWalk& walk = plan.walk;
    switch (plan.error) {
        case DecodePlanError::walk:
            report_walk_error(walk, to_stderr);
            break;
        case DecodePlanError::compressed:
            report(reverse::compressed, quoted(compression_type(walk)));
            break;
        case DecodePlanError::not_dst:
            report(decode::not_dst, input);
            break;
        case DecodePlanError::no_rate:
            report(reverse::missing_chunk, quoted({'F', 'S', ' ', ' '}));
            break;
        case DecodePlanError::no_channels:
            report(reverse::missing_chunk, quoted({'C', 'H', 'N', 'L'}));
            break;
        case DecodePlanError::no_sound:
            report(reverse::missing_chunk, quoted({'D', 'S', 'T', ' '}));
            break;
        case DecodePlanError::wrong_channels:
            report(text::wrong_channels, walk.channel_count);
            break;
        case DecodePlanError::dst:
            report_dst_error(plan.dst, walk, to_stderr);
            break;
        case DecodePlanError::none:
            break;
    }
}

class DstDecode final : public Conversion {
  public:
    bool check(int in, const std::string& input) override {
        const auto size = file_size(in);
        if (!size) {
            report(text::read_error, 0);
            return false;
        }
        plan_ = plan_dst_decode(file_source(in, *size));
        if (plan_.error != DecodePlanError::none) {
            report_decode_plan_error(plan_, input);
            return false;
        }
        return true;
    }

    WriteResult write(int in, int out) override {
        return write_dst_decode(in, out, plan_, dst_threads_from_environment());
    }

  private:
    DecodePlan plan_;
};

}  // namespace

int run_dsf_to_dff(int argc, char** argv, std::string_view usage, std::string_view about,
                   std::uint32_t fixed_rate, const char* name) {
    DsfToDff conversion(fixed_rate);
    return run_converter(argc, argv,
                         {usage,
                          about,
                          name,
                          {"dsf", "DSF", text::input_extension},
                          {"dff", "DFF", text::output_extension}},
                         conversion);
}

int run_dff_to_dsf(int argc, char** argv, const char* name) {
    DffToDsf conversion;
    return run_converter(argc, argv,
                         {reverse::usage,
                          reverse::about,
                          name,
                          {"dff", "DFF", reverse::input_extension},
                          {"dsf", "DSF", reverse::output_extension}},
                         conversion);
}

int run_dst_decode(int argc, char** argv, const char* name) {
    DstDecode conversion;
    return run_converter(argc, argv,
                         {decode::usage,
                          decode::about,
                          name,
                          {"dff", "DFF", reverse::input_extension},
                          {"dff", "DFF", text::output_extension},
                          false},
                         conversion);
}

}  // namespace dsd
