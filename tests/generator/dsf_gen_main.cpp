// dsf-gen: writes a synthetic stereo DSF file (a sigma-delta tone per
// channel), for the quick start, the benchmarks and fuzzing seeds; with
// --dst a DST-compressed DSDIFF file of 1 to 6 such tones instead, and its
// uncompressed twin.
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
#include "dst_file.hpp"
#include "tone.hpp"

namespace {

constexpr const char* usage_text =
    "Usage: %s [--rate HZ] [--bits 1|8] [--samples N] [--left HZ] [--right HZ]\n"
    "          [--amplitude A] [--title TEXT] [--artist TEXT] [--id3-version 3|4]\n"
    "          OUT.dsf\n"
    "       %s --dst [--channels 1-6] [--rate HZ] [--seconds S | --frames N]\n"
    "          [--left HZ] [--right HZ] [--amplitude A] [--seed N]\n"
    "          [--random [--ffmpeg-readable]] [--plain TWIN.dff] OUT.dff\n";
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
    "With --dst, a DST-compressed DSDIFF file of 1 to 6 tones (channel c plays\n"
    "left + c x (right - left) Hz) at a rate of 44100 x a multiple of 8:\n"
    "  --channels N       1 to 6 (default 2)\n"
    "  --seconds S        length (default 1), or --frames N frames of 1/75 s\n"
    "  --seed N           the encoder's seed\n"
    "  --random           syntax drawn from the seed, not chosen for size;\n"
    "                     --ffmpeg-readable keeps it to what FFmpeg reads\n"
    "  --plain TWIN.dff   also write the uncompressed file of the same sound\n"
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
    // The generator is run by its path; its usage names it alone.
    std::string program = argc > 0 ? argv[0] : "dsf-gen";
    program.erase(0, program.rfind('/') + 1);
    const auto usage_error = [&](const std::string& problem) {
        if (!problem.empty()) {
            std::fprintf(stderr, "%s: %s\n", program.c_str(), problem.c_str());
        }
        std::fprintf(stderr, usage_text, program.c_str(), program.c_str());
        return 2;
    };

    dsd::testgen::DsfSpec spec;
    std::optional<std::uint64_t> samples;
    std::string title;
    std::string artist;
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
        if (arg == "--help" || arg == "-h") {
            std::printf(usage_text, program.c_str(), program.c_str());
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
        if (arg == "--dst" || arg == "--random" || arg == "--ffmpeg-readable") {
            (arg == "--dst"      ? dst
             : arg == "--random" ? options.random
                                 : options.ffmpeg_readable) = true;
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
        } else if (arg == "--channels") {
            const auto count = parse<unsigned>(value);
            if (!count || *count < 1 || *count > 6) {
                return usage_error(wrong);
            }
            channels = *count;
        } else if (arg == "--seconds") {
            const auto number = parse<double>(value);
            if (!number || !std::isfinite(*number) || *number < 0) {
                return usage_error(wrong);
            }
            seconds = *number;
        } else if (arg == "--frames" || arg == "--seed") {
            const auto number = parse<std::uint64_t>(value);
            if (!number) {
                return usage_error(wrong);
            }
            if (arg == "--frames") {
                frames = *number;
            } else {
                options.seed = *number;
            }
        } else if (arg == "--plain") {
            plain_output = value;
        } else {
            return usage_error("unknown option " + std::string(arg));
        }
    }
    if (output.empty()) {
        return usage_error("");
    }
    if (dst) {
        if (spec.sampling_frequency % (8 * 44100) != 0) {
            return usage_error("a DST rate is 44100 x a multiple of 8");
        }
        const auto count = frames.value_or(static_cast<std::uint64_t>(std::llround(seconds * 75)));
        return write_dst(spec, channels, count, options, output, plain_output, program.c_str());
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
