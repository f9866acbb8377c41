// Times the DST frame decoder on frames the test encoder makes from
// sigma-delta tones, with filters fitted as a real encoder would.
//   dst_bench [FRAMES] [REPEATS]
// Prints, per configuration, the compressed size and the decoding speed of
// one thread (CPU time), then decode_stream on 1 and all threads.
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "dst.hpp"
#include "dst_frame_builder.hpp"

namespace {

using namespace dsd::test::dst;

double cpu_seconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

struct Frames : dsd::dst::FrameSource {
    const std::vector<Bytes>* frames = nullptr;
    std::size_t at = 0;
    std::size_t total = 0;
    Next next(std::vector<std::uint8_t>& frame) override {
        if (at == total) {
            return Next::end;
        }
        const Bytes& f = (*frames)[at++ % frames->size()];
        frame.assign(f.begin(), f.end());
        return Next::frame;
    }
};

struct Discard : dsd::dst::SoundSink {
    bool take(std::span<const std::uint8_t>) override { return true; }
};

}  // namespace

int main(int argc, char** argv) {
    const int n_frames = argc > 1 ? std::atoi(argv[1]) : 8;
    const int repeats = argc > 2 ? std::atoi(argv[2]) : 10;
    constexpr std::uint32_t rate = 2822400;
    const std::size_t L = dsd::dst::frame_bytes_per_channel(rate);
    struct Config {
        unsigned channels, order, table_length;
    };
    for (const Config config : {Config{2, 16, 32}, Config{2, 32, 48}, Config{2, 64, 64},
                                Config{2, 128, 64}, Config{6, 64, 64}}) {
        const unsigned channels = config.channels;
        std::vector<Bytes> frames;
        std::size_t coded = 0;
        std::vector<Bytes> tones(channels);
        for (unsigned c = 0; c < channels; ++c) {
            tones[c] = tone(440.0 * (c + 1) + 37.0, rate, L * static_cast<std::size_t>(n_frames));
        }
        for (int k = 0; k < n_frames; ++k) {
            std::vector<Bytes> part(channels);
            for (unsigned c = 0; c < channels; ++c) {
                part[c].assign(tones[c].begin() + static_cast<std::ptrdiff_t>(k * L),
                               tones[c].begin() + static_cast<std::ptrdiff_t>((k + 1) * L));
            }
            const Bytes sound = interleave(part);
            frames.push_back(compressed_frame(
                fitted_spec(channels, L, sound, config.order, config.table_length), sound));
            coded += frames.back().size();
        }
        // One frame at a time, and as many together as the decoder takes;
        // the best of five rounds, the machine may be shared.
        using dsd::dst::FrameDecoder;
        FrameDecoder decoder(channels, L);
        std::vector<Bytes> sounds(FrameDecoder::max_together, Bytes(channels * L));
        const double decoded = static_cast<double>(repeats) * n_frames;
        const auto sound_bytes = static_cast<double>(channels * L);
        for (const std::size_t together : {std::size_t{1}, FrameDecoder::max_together}) {
            double cpu = 1e9;
            bool ok = true;
            for (int round = 0; round < 5; ++round) {
                const double start = cpu_seconds();
                for (int r = 0; r < repeats; ++r) {
                    for (std::size_t k = 0; k < frames.size(); k += together) {
                        std::vector<FrameDecoder::Job> jobs;
                        for (std::size_t j = k; j < std::min(k + together, frames.size()); ++j) {
                            jobs.push_back({frames[j], sounds[j - k]});
                        }
                        decoder.decode(jobs);
                        for (const auto& job : jobs) {
                            ok = ok && job.status == dsd::dst::FrameStatus::ok;
                        }
                    }
                }
                cpu = std::min(cpu, cpu_seconds() - start);
            }
            if (!ok) {
                std::fprintf(stderr, "damaged frame\n");
                return 1;
            }
            std::printf(
                "%u ch, order %3u, table %2u, %s: coded %.3f of the sound; %7.1f frames/s, "
                "%6.1f s of sound per CPU second, %.2f ns per bit\n",
                channels, config.order, config.table_length,
                together > 1 ? "together" : "one by one",
                static_cast<double>(coded) / (static_cast<double>(n_frames) * sound_bytes),
                decoded / cpu, decoded / dsd::dst::frames_per_second / cpu,
                1e9 * cpu / (decoded * 8 * sound_bytes));
        }

        // The whole stream (frames copied in by the source), on one thread
        // and on all: wall time shows the scaling on an idle machine.
        for (const unsigned threads : {1u, dsd::dst::available_threads()}) {
            Frames source;
            source.frames = &frames;
            source.total =
                4 * static_cast<std::size_t>(n_frames) * static_cast<std::size_t>(repeats);
            Discard sink;
            const auto wall_start = std::chrono::steady_clock::now();
            const double cpu_start = cpu_seconds();
            dsd::dst::decode_stream(source, sink, channels, L, threads);
            const double wall =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - wall_start)
                    .count();
            const double sound_seconds =
                static_cast<double>(source.total) / dsd::dst::frames_per_second;
            std::printf(
                "    decode_stream, %u threads: %6.1f s of sound per second, %6.1f per CPU "
                "second\n",
                threads, sound_seconds / wall, sound_seconds / (cpu_seconds() - cpu_start));
        }
    }
    return 0;
}
