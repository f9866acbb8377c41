#include "converter.hpp"

#include <algorithm>
#include <cstddef>
#include <optional>
#include <span>
#include <string>

#include "byte_source.hpp"
#include "chunk_id.hpp"
#include "conversion.hpp"
#include "dff_report.hpp"
#include "dff_to_dsf.hpp"
#include "dsf.hpp"
#include "dsf_to_dff.hpp"
#include "dst_decode.hpp"
#include "dst_sound.hpp"
#include "file_io.hpp"
#include "id3_tag.hpp"
#include "message_format.hpp"
#include "messages.hpp"

namespace dsd {
namespace {

namespace text = convert_text;
namespace reverse = reverse_text;
namespace decode = dst_decode_text;

// The four header lines, as many as the header has values for.
void print_stream_info(const DsfHeaderResult& header, FileReport& report) {
    const auto& info = header.info;
    std::string lines;
    if (header.values_read >= 1) {
        lines += format_message(text::sampling_frequency, std::to_string(info.sampling_frequency));
    }
    if (header.values_read >= 2) {
        lines += format_message(text::bit_number, std::to_string(info.bits_per_sample));
    }
    if (header.values_read >= 3) {
        lines += format_message(text::sample_number, std::to_string(info.sample_count));
    }
    if (header.values_read >= 4) {
        lines += format_message(text::data_size, std::to_string(info.data_size));
    }
    report.header(lines);
}

// Reports a header that failed its checks.
void report_header_error(const DsfHeaderResult& header, FileReport& report) {
    const auto say = [&](std::string_view message, const auto& value) {
        report.message(Stream::err, message, value);
    };
    switch (header.error) {
        case DsfHeaderError::read_failed:
            say(text::read_error, header.detail);
            break;
        case DsfHeaderError::not_dsf:
            say(text::not_dsf, printable_bytes(header.identifier));
            break;
        case DsfHeaderError::wrong_channels:
            say(text::wrong_channels, header.detail);
            break;
        case DsfHeaderError::wrong_rate:
            say(text::wrong_rate, header.info.sampling_frequency);
            break;
        case DsfHeaderError::wrong_bits:
            say(text::wrong_bits, header.detail);
            break;
        case DsfHeaderError::wrong_block_size:
            say(text::wrong_block_size, header.detail);
            break;
        case DsfHeaderError::wrong_data_size:
            say(text::wrong_data_size, header.detail);
            break;
        case DsfHeaderError::none:
            break;
    }
}

class DsfToDff final : public Conversion {
  public:
    explicit DsfToDff(std::uint32_t fixed_rate) : fixed_rate_(fixed_rate) {}

    bool check(int in, FileReport& report) override {
        header_ = read_dsf_header(in);
        print_stream_info(header_, report);
        if (header_.error != DsfHeaderError::none) {
            report_header_error(header_, report);
            return false;
        }
        tag_ = find_id3_tag(in, header_.info.metadata_pointer);
        return true;
    }

    WriteResult write(int in, int out, ProgressCounter& progress) override {
        const std::uint32_t rate = fixed_rate_ != 0 ? fixed_rate_ : header_.info.sampling_frequency;
        return write_dff_stream(in, out, header_.info, rate, tag_, &progress);
    }

  private:
    std::uint32_t fixed_rate_;
    DsfHeaderResult header_;
    std::optional<Id3TagLocation> tag_;
};

// Refusals of a DSDIFF input, on standard error.
Say to_stderr(FileReport& out) {
    return [&out](std::string_view message, std::string_view value) {
        out.message(Stream::err, message, value);
    };
}

// Plans the reading of the whole DSDIFF input with `plan_for`; false, and
// reported, when the input has no size to plan by.
template <typename Plan, typename Planner>
bool plan_input(int in, FileReport& report, Plan& plan, const Planner& plan_for) {
    const auto size = file_size(in);
    if (!size) {
        report.message(Stream::err, text::read_error, 0);
        return false;
    }
    plan = plan_for(file_source(in, *size));
    if (plan.walk.error == DffWalkError::unreadable) {
        // The walk reads only inside the size it was given: a read there
        // fails when the file shrank, and stopped at its end at the latest.
        if (const auto now = file_size(in)) {
            plan.walk.error_offset = std::min(plan.walk.error_offset, *now);
        }
    }
    return true;
}

class DffToDsf final : public Conversion {
  public:
    bool check(int in, FileReport& report) override {
        if (!plan_input(in, report, plan_, plan_dsf)) {
            return false;
        }
        if (plan_.error != DsfPlanError::none) {
            report_plan_error(plan_, to_stderr(report));
            return false;
        }
        return true;
    }

    WriteResult write(int in, int out, ProgressCounter& progress) override {
        return write_dsf_stream(in, out, plan_, dst_threads_from_environment(), &progress);
    }

    // What dsf-dff-convert would print for the file written.
    void finish(const std::string& input, FileReport& report) override {
        if (plan_.tag_skipped) {
            report.message(Stream::err, reverse::tag_skipped, input);
        }
        DsfHeaderResult written;
        written.info = dsf_stream_info(plan_.layout);
        written.values_read = 4;
        print_stream_info(written, report);
    }

  private:
    DsfPlan plan_;
};

void report_decode_plan_error(const DecodePlan& plan, const std::string& input, FileReport& out) {
    const auto report = [&](std::string_view message, const auto& value) {
        out.message(Stream::err, message, value);
    };
    const DffWalk& walk = plan.walk;
    switch (plan.error) {
        case DecodePlanError::walk:
            report_walk_error(walk, to_stderr(out));
            break;
        case DecodePlanError::compressed:
            report(reverse::compressed, quoted(compression_type(walk)));
            break;
        case DecodePlanError::not_dst:
            report(decode::not_dst, input);
            break;
        case DecodePlanError::no_rate:
            report(reverse::missing_chunk, quoted(ChunkId{'F', 'S', ' ', ' '}));
            break;
        case DecodePlanError::no_channels:
            report(reverse::missing_chunk, quoted(ChunkId{'C', 'H', 'N', 'L'}));
            break;
        case DecodePlanError::no_sound:
            report(reverse::missing_chunk, quoted(ChunkId{'D', 'S', 'T', ' '}));
            break;
        case DecodePlanError::wrong_channels:
            report(text::wrong_channels, walk.channel_count);
            break;
        case DecodePlanError::dst:
            report_dst_error(plan.dst, walk, to_stderr(out));
            break;
        case DecodePlanError::none:
            break;
    }
}

class DstDecode final : public Conversion {
  public:
    bool check(int in, FileReport& report) override {
        if (!plan_input(in, report, plan_, plan_dst_decode)) {
            return false;
        }
        if (plan_.error != DecodePlanError::none) {
            report_decode_plan_error(plan_, report.name(), report);
            return false;
        }
        return true;
    }

    WriteResult write(int in, int out, ProgressCounter& progress) override {
        return write_dst_decode(in, out, plan_, dst_threads_from_environment(), &progress);
    }

  private:
    DecodePlan plan_;
};

}  // namespace

int run_dsf_to_dff(int argc, char** argv, std::string_view usage, std::string_view about,
                   std::uint32_t fixed_rate, const char* name) {
    return run_converter(argc, argv,
                         {usage,
                          about,
                          name,
                          {"dsf", "DSF", text::input_extension},
                          {"dff", "DFF", text::output_extension}},
                         [fixed_rate] { return std::make_unique<DsfToDff>(fixed_rate); });
}

int run_dff_to_dsf(int argc, char** argv, const char* name) {
    return run_converter(argc, argv,
                         {reverse::usage,
                          reverse::about,
                          name,
                          {"dff", "DFF", reverse::input_extension},
                          {"dsf", "DSF", reverse::output_extension}},
                         [] { return std::make_unique<DffToDsf>(); });
}

int run_dst_decode(int argc, char** argv, const char* name) {
    return run_converter(argc, argv,
                         {decode::usage,
                          decode::about,
                          name,
                          {"dff", "DFF", reverse::input_extension},
                          {"dff", "DFF", text::output_extension},
                          false},
                         [] { return std::make_unique<DstDecode>(); });
}

}  // namespace dsd
