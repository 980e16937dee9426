#include "measure/SweepSignal.h"

#include "dsp/SignalFormat.h"
#include "measure/Rounding.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <stdexcept>

namespace {

bool within(double value, double low, double high) {
    return value >= low && value <= high; // false for not a number
}

// The number of cycles f1 L: at least one.
double synchronizedCycles(const SweepSettings& s) {
    return std::max(1.0, std::round(s.startHz * s.lengthSeconds / std::log(s.endHz / s.startHz)));
}

// Rises from 0 to 1 over `length` samples.
double halfHann(double position, double length) {
    if (position >= length)
        return 1;
    return 0.5 - 0.5 * std::cos(std::numbers::pi * std::max(position, 0.0) / length);
}

} // namespace

bool SweepSettings::valid() const {
    return within(startHz, LowestStartHz, SampleRate / 2) &&
           within(endHz, startHz, SampleRate / 2) && endHz > startHz && endHz < SampleRate / 2 &&
           within(lengthSeconds, MinLengthSeconds, MaxLengthSeconds) &&
           within(levelDbfs, MinLevelDbfs, MaxLevelDbfs);
}

SweepSignal::SweepSignal(const SweepSettings& settings)
    : m_settings(settings), m_rate(synchronizedCycles(settings) / settings.startHz),
      m_amplitude(std::pow(10.0, settings.levelDbfs / 20)) {
    const auto frames = static_cast<std::size_t>(std::floor(LengthSeconds() * SampleRate)) + 1;
    const double fadeIn = FadeInSeconds() * SampleRate;
    const double fadeOut = FadeOutSeconds * SampleRate;
    const double cycles = StartHz() * m_rate;
    const double peak = m_amplitude * (SampleFullScale - 1);
    m_samples.resize(frames);
    for (std::size_t n = 0; n < frames; ++n) {
        const double t = n / SampleRate;
        // The phase in cycles, reduced before the sine so that it keeps its
        // precision over a minute.
        const double phase = std::fmod(cycles * std::expm1(t / m_rate), 1.0);
        const double fade = halfHann(n, fadeIn) * halfHann(frames - 1.0 - n, fadeOut);
        m_samples[n] = static_cast<std::int16_t>(
            RoundHalfAway(fade * std::sin(2 * std::numbers::pi * phase) * peak));
    }
}

double SweepSignal::LengthSeconds() const {
    return m_rate * std::log(EndHz() / StartHz());
}

double SweepSignal::LengthStepSeconds() const {
    return std::log(EndHz() / StartHz()) / StartHz();
}

double SweepSignal::HarmonicLeadSeconds(int k) const {
    return m_rate * std::log(static_cast<double>(k));
}

double SweepSignal::FadeInSeconds() const {
    return 0.5 / StartHz();
}
