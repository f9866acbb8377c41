// dsf-gen: writes a synthetic stereo DSF file (a sigma-delta tone per
// channel), for the quick start, the benchmarks and fuzzing seeds; with
// --dst a DST-compressed DSDIFF file of 1 to 6 such tones instead, and its
// uncompressed twin.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "dsf_generator.hpp"
#include "dst_file.hpp"
#include "tone.hpp"

namespace {

constexpr const char* usage_text =
    "Usage: %s [--rate HZ] [--bits 1|8] [--samples N] [--left HZ] [--right HZ]\n"
    "          [--amplitude A] [--title TEXT] [--id3-version 3|4] OUT.dsf\n"
    "       %s --dst [--channels 1-6] [--rate HZ] [--seconds S | --frames N] [--left HZ]\n"
    "          [--right HZ] [--amplitude A] [--seed N] [--random [--ffmpeg-readable]]\n"
    "          [--plain TWIN.dff] OUT.dff\n";

// Channel c plays left + c x (right - left) Hz; frames last 1/75 s.
int write_dst(const dsd::testgen::DsfSpec& tone, unsigned channels, std::uint64_t frames,
              const dsd::testgen::DstEncoderOptions& options, const std::string& output,
              const std::string& plain_output, const char* program) {
    dsd::testgen::DstFileSpec spec;
    spec.channels = channels;
    spec.rate = tone.sampling_frequency;
    spec.options = options;
    dsd::testgen::InterleavedTone sound(channels, tone.sampling_frequency, tone.left_hz,
                                        tone.right_hz - tone.left_hz, tone.amplitude);
    std::ofstream out(output, std::ios::binary | std::ios::trunc);
    std::ofstream plain;
    if (!plain_output.empty()) {
        plain.open(plain_output, std::ios::binary | std::ios::trunc);
    }
    const bool written =
        out && (plain_output.empty() || plain) &&
        dsd::testgen::write_dst_dff(
            spec, frames, [&](std::uint64_t, std::span<std::uint8_t> frame) { sound.next(frame); },
            out, plain_output.empty() ? nullptr : &plain);
    out.close();
    plain.close();
    if (!written || !out || (!plain_output.empty() && !plain)) {
        std::fprintf(stderr, "%s: cannot write %s\n", program, output.c_str());
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    dsd::testgen::DsfSpec spec;
    spec.sample_count = spec.sampling_frequency;  // one second
    std::string title;
    int id3_version = 3;
    std::string output;
    bool dst = false;
    unsigned channels = 2;
    double seconds = 1.0;
    std::optional<std::uint64_t> frames;
    dsd::testgen::DstEncoderOptions options;
    std::string plain_output;
    const std::vector<std::string_view> args(argv + 1, argv + argc);
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string_view arg = args[i];
        if (!arg.starts_with("--")) {
            output = arg;
            continue;
        }
        if (arg == "--dst") {
            dst = true;
            continue;
        }
        if (arg == "--random") {
            options.random = true;
            continue;
        }
        if (arg == "--ffmpeg-readable") {
            options.ffmpeg_readable = true;
            continue;
        }
        if (i + 1 >= args.size()) {
            std::fprintf(stderr, usage_text, argv[0], argv[0]);
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
        } else if (arg == "--channels") {
            channels = static_cast<unsigned>(std::stoul(value));
        } else if (arg == "--seconds") {
            seconds = std::stod(value);
        } else if (arg == "--frames") {
            frames = std::stoull(value);
        } else if (arg == "--seed") {
            options.seed = std::stoull(value);
        } else if (arg == "--plain") {
            plain_output = value;
        } else {
            std::fprintf(stderr, usage_text, argv[0], argv[0]);
            return 2;
        }
    }
    if (output.empty() || channels < 1 || channels > 6 ||
        (dst && spec.sampling_frequency % (8 * 44100) != 0)) {
        std::fprintf(stderr, usage_text, argv[0], argv[0]);
        return 2;
    }
    if (dst) {
        const auto count = frames.value_or(static_cast<std::uint64_t>(std::llround(seconds * 75)));
        return write_dst(spec, channels, count, options, output, plain_output, argv[0]);
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
