// The sigma-delta tone every generated file carries: a real one-bit signal,
// so that readers which play the output hear the tone and compressors find
// the structure real sound has.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace dsd::testgen {

// Second-order sigma-delta modulator driven by a sine oscillator.
class ToneModulator {
  public:
    ToneModulator(double tone_hz, double sampling_hz, double amplitude);
    bool next_bit();

  private:
    double step_cos_, step_sin_, amplitude_;
    double cos_ = 1.0, sin_ = 0.0;
    double integrator1_ = 0.0, integrator2_ = 0.0;
    std::uint64_t count_ = 0;
};

// One tone per channel, written as DSDIFF sound: a byte per channel in turn,
// the earliest sample in the most significant bit.
class InterleavedTone {
  public:
    // Channel c plays first_hz + c x step_hz.
    InterleavedTone(unsigned channels, std::uint32_t rate, double first_hz = 1000.0,
                    double step_hz = 500.0, double amplitude = 0.5);
    // Fills `sound` (a whole number of bytes per channel) with what follows.
    void next(std::span<std::uint8_t> sound);

  private:
    std::vector<ToneModulator> tones_;
};

}  // namespace dsd::testgen
