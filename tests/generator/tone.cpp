#include "tone.hpp"

#include <cmath>
#include <numbers>

namespace dsd::testgen {

ToneModulator::ToneModulator(double tone_hz, double sampling_hz, double amplitude)
    : step_cos_(std::cos(2 * std::numbers::pi * tone_hz / sampling_hz)),
      step_sin_(std::sin(2 * std::numbers::pi * tone_hz / sampling_hz)),
      amplitude_(amplitude) {}

bool ToneModulator::next_bit() {
    const double x = amplitude_ * sin_;
    const double out = integrator2_ >= 0 ? 1.0 : -1.0;
    integrator1_ += x - out;
    integrator2_ += integrator1_ - out;
    // Rotate the oscillator; renormalise now and then against drift.
    const double c = cos_ * step_cos_ - sin_ * step_sin_;
    sin_ = sin_ * step_cos_ + cos_ * step_sin_;
    cos_ = c;
    if (++count_ % 65536 == 0) {
        const double norm = std::sqrt(cos_ * cos_ + sin_ * sin_);
        cos_ /= norm;
        sin_ /= norm;
    }
    return out > 0;
}

InterleavedTone::InterleavedTone(unsigned channels, std::uint32_t rate, double first_hz,
                                 double step_hz, double amplitude) {
    for (unsigned c = 0; c < channels; ++c) {
        tones_.emplace_back(first_hz + c * step_hz, rate, amplitude);
    }
}

void InterleavedTone::next(std::span<std::uint8_t> sound) {
    const std::size_t channels = tones_.size();
    for (std::size_t i = 0; i < sound.size(); ++i) {
        auto& tone = tones_[i % channels];
        unsigned value = 0;
        for (unsigned bit = 0; bit < 8; ++bit) {
            value = value << 1 | (tone.next_bit() ? 1U : 0U);
        }
        sound[i] = static_cast<std::uint8_t>(value);
    }
}

}  // namespace dsd::testgen
