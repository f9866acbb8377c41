// dsf-gen: writes a synthetic stereo DSF file (a sigma-delta tone per
// channel), for the quick start, the benchmarks and fuzzing seeds.
#include <charconv>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "dsf_generator.hpp"

namespace {

constexpr const char* usage_text =
    "Usage: %s [--rate HZ] [--bits 1|8] [--samples N] [--left HZ] [--right HZ]\n"
    "          [--amplitude A] [--title TEXT] [--artist TEXT] [--id3-version 3|4]\n"
    "          OUT.dsf\n";
constexpr const char* help_text =
    "Writes a stereo DSF file with a sigma-delta tone on each channel.\n"
    "  --rate HZ          sampling frequency, above 0 (default 2822400)\n"
    "  --bits 1|8         bits per sample: 1, least significant bit first\n"
    "                     (default), or 8, most significant bit first\n"
    "  --samples N        samples per channel (default: one second)\n"
    "  --left HZ          the left channel's tone (default 1000)\n"
    "  --right HZ         the right channel's tone (default 1500)\n"
    "  --amplitude A      the tones' amplitude, 0 to 1 of full scale (default 0.5)\n"
    "  --title TEXT       append an ID3v2 tag with this title (UTF-8)\n"
    "  --artist TEXT      append an ID3v2 tag with this artist (UTF-8)\n"
    "  --id3-version 3|4  the tag's version (default 3)\n"
    "  -h, --help         print this help and exit\n"
    "Exit status: 0 the file is written; 1 it could not be written; 2 a wrong\n"
    "command line.\n";

// The whole of `text` as a number, or nothing.
template <typename Number>
std::optional<Number> parse(std::string_view text) {
    Number value{};
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{} || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

}  // namespace

int main(int argc, char** argv) {
    // The generator is run by its path; its usage names it alone.
    std::string program = argc > 0 ? argv[0] : "dsf-gen";
    program.erase(0, program.rfind('/') + 1);
    const auto usage_error = [&](const std::string& problem) {
        if (!problem.empty()) {
            std::fprintf(stderr, "%s: %s\n", program.c_str(), problem.c_str());
        }
        std::fprintf(stderr, usage_text, program.c_str());
        return 2;
    };

    dsd::testgen::DsfSpec spec;
    std::optional<std::uint64_t> samples;
    std::string title;
    std::string artist;
    int id3_version = 3;
    std::string output;
    const std::vector<std::string_view> args(argv + 1, argv + argc);
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string_view arg = args[i];
        if (arg == "--help" || arg == "-h") {
            std::printf(usage_text, program.c_str());
            std::fputs(help_text, stdout);
            return std::fflush(stdout) == 0 ? 0 : 1;
        }
        if (!arg.starts_with("--")) {
            if (!output.empty()) {
                return usage_error("more than one output name");
            }
            output = arg;
            continue;
        }
        if (i + 1 >= args.size()) {
            return usage_error(std::string(arg) + " needs a value");
        }
        const std::string_view value = args[++i];
        const std::string wrong = "wrong " + std::string(arg) + ": " + std::string(value);
        if (arg == "--rate") {
            const auto rate = parse<std::uint32_t>(value);
            if (!rate || *rate == 0) {
                return usage_error(wrong);
            }
            spec.sampling_frequency = *rate;
        } else if (arg == "--bits") {
            const auto bits = parse<std::uint32_t>(value);
            if (!bits || (*bits != 1 && *bits != 8)) {
                return usage_error(wrong);
            }
            spec.bits_per_sample = *bits;
        } else if (arg == "--samples") {
            samples = parse<std::uint64_t>(value);
            if (!samples) {
                return usage_error(wrong);
            }
        } else if (arg == "--left" || arg == "--right" || arg == "--amplitude") {
            const auto number = parse<double>(value);
            if (!number || !std::isfinite(*number) || *number < 0 ||
                (arg == "--amplitude" && *number > 1)) {
                return usage_error(wrong);
            }
            (arg == "--left"    ? spec.left_hz
             : arg == "--right" ? spec.right_hz
                                : spec.amplitude) = *number;
        } else if (arg == "--title" || arg == "--artist") {
            if (!dsd::testgen::decode_utf8(std::string(value))) {
                return usage_error(std::string(arg) + " is not UTF-8");
            }
            (arg == "--title" ? title : artist) = value;
        } else if (arg == "--id3-version") {
            const auto version = parse<int>(value);
            if (!version || (*version != 3 && *version != 4)) {
                return usage_error(wrong);
            }
            id3_version = *version;
        } else {
            return usage_error("unknown option " + std::string(arg));
        }
    }
    if (output.empty()) {
        return usage_error("");
    }
    spec.sample_count = samples.value_or(spec.sampling_frequency);  // one second
    if (!title.empty() || !artist.empty()) {
        spec.id3_tag =
            dsd::testgen::make_id3v2_tag(title, id3_version, std::nullopt, false, artist);
    }
    std::ofstream out(output, std::ios::binary | std::ios::trunc);
    if (!out || !dsd::testgen::write_dsf(spec, out)) {
        std::fprintf(stderr, "%s: cannot write %s\n", program.c_str(), output.c_str());
        return 1;
    }
    out.close();
    if (!out) {
        std::fprintf(stderr, "%s: cannot write %s\n", program.c_str(), output.c_str());
        return 1;
    }
    return 0;
}
