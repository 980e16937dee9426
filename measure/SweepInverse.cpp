#include "measure/SweepInverse.h"

#include "dsp/SignalFormat.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double InBandShare = 1e-6;
// eps grows with the fourth power of LowEdgeHz / f below the edge, and by
// HighDecades decades from f2 to half the rate.
constexpr double LowEdgePower = 4;
constexpr double HighDecades = 6;

// eps(f) in units of the power an ideal sweep of these samples puts into a
// bin, (A rate)^2 L / (4 f), held at its values at f1 and f2 outside them.
double epsilon(double f, const SweepSignal& sweep) {
    const double amplitude = sweep.Amplitude() * SampleRate;
    const double idealPower = amplitude * amplitude * sweep.RateSeconds() /
                              (4 * std::clamp(f, sweep.StartHz(), sweep.EndHz()));
    double share = InBandShare;
    if (f < SweepInverse::LowEdgeHz)
        share *= std::pow(SweepInverse::LowEdgeHz / std::max(f, 1e-3), LowEdgePower);
    else if (f > sweep.EndHz())
        share *=
            std::pow(10.0, HighDecades * (f - sweep.EndHz()) / (SampleRate / 2 - sweep.EndHz()));
    return share * idealPower;
}

} // namespace

SweepInverse::SweepInverse(const SweepSignal& sweep, LongTransform& transform) {
    auto time = transform.Time();
    std::fill(time.begin(), time.end(), 0.0);
    const auto samples = sweep.Samples();
    for (std::size_t n = 0; n < samples.size(); ++n)
        time[n] = samples[n] / SampleFullScale;
    transform.Forward();

    auto bins = transform.Bins();
    m_inverse.resize(bins.size());
    const double binHz = SampleRate / static_cast<double>(transform.Size());
    for (std::size_t k = 0; k < bins.size(); ++k) {
        const double f = k * binHz;
        const double power = std::norm(bins[k]);
        const double eps = epsilon(f, sweep);
        m_inverse[k] = std::conj(bins[k]) / (power + eps);
        bins[k] = f < sweep.StartHz() ? eps / (power + eps) : 0.0;
    }
    transform.Inverse();
    m_lowBand.assign(time.begin(), time.end());
}
