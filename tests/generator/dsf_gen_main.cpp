// dsf-gen: writes a synthetic stereo DSF file (a sigma-delta tone per
// channel), for the quick start, the benchmarks and fuzzing seeds.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "dsf_generator.hpp"

namespace {

constexpr const char* usage_text =
    "Usage: %s [--rate HZ] [--bits 1|8] [--samples N] [--left HZ] [--right HZ]\n"
    "          [--amplitude A] [--title TEXT] [--id3-version 3|4] OUT.dsf\n";

}  // namespace

int main(int argc, char** argv) {
    dsd::testgen::DsfSpec spec;
    spec.sample_count = spec.sampling_frequency;  // one second
    std::string title;
    int id3_version = 3;
    std::string output;
    const std::vector<std::string_view> args(argv + 1, argv + argc);
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string_view arg = args[i];
        if (!arg.starts_with("--")) {
            output = arg;
            continue;
        }
        if (i + 1 >= args.size()) {
            std::fprintf(stderr, usage_text, argv[0]);
            return 2;
        }
        const std::string value(args[++i]);
        if (arg == "--rate") {
            spec.sampling_frequency = static_cast<std::uint32_t>(std::stoul(value));
        } else if (arg == "--bits") {
            spec.bits_per_sample = static_cast<std::uint32_t>(std::stoul(value));
        } else if (arg == "--samples") {
            spec.sample_count = std::stoull(value);
        } else if (arg == "--left") {
            spec.left_hz = std::stod(value);
        } else if (arg == "--right") {
            spec.right_hz = std::stod(value);
        } else if (arg == "--amplitude") {
            spec.amplitude = std::stod(value);
        } else if (arg == "--title") {
            title = value;
        } else if (arg == "--id3-version") {
            id3_version = std::stoi(value);
        } else {
            std::fprintf(stderr, usage_text, argv[0]);
            return 2;
        }
    }
    if (output.empty()) {
        std::fprintf(stderr, usage_text, argv[0]);
        return 2;
    }
    if (!title.empty()) {
        spec.id3_tag = dsd::testgen::make_id3v2_tag(title, id3_version);
    }
    std::ofstream out(output, std::ios::binary | std::ios::trunc);
    if (!out || !dsd::testgen::write_dsf(spec, out)) {
        std::fprintf(stderr, "%s: cannot write %s\n", argv[0], output.c_str());
        return 1;
    }
    return 0;
}
