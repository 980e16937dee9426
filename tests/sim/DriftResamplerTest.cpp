#include "sim/DriftResampler.h"

#include "measure/ToneFit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

namespace {

constexpr double Rate = 44100.0;
constexpr std::size_t Period = 256;

// What is left of `samples` once the best sine at `frequency` and an offset
// are taken away, in dB re that sine: THD+N over the whole band.
double residualDb(std::vector<double> samples, double frequency) {
    const int n = static_cast<int>(samples.size());
    const ToneFit fit = FitTone(samples.data(), n, frequency);
    SubtractTone(samples.data(), n, frequency, fit);
    double rest = 0.0;
    for (double x : samples)
        rest += x * x;
    return 10.0 * std::log10(rest / n / fit.Power());
}

// A sine played through the resampler a period at a time; the recording once
// the kernel has filled.
std::vector<double> resampled(double ppm, double frequency, double amplitude, std::size_t frames) {
    DriftResampler resampler(ppm, Rate);
    std::vector<double> recorded;
    std::vector<double> left(Period), right(Period);
    for (std::size_t start = 0; start < frames; start += Period) {
        for (std::size_t i = 0; i < Period; ++i)
            left[i] = right[i] =
                amplitude * std::sin(2.0 * std::numbers::pi * frequency * (start + i) / Rate);
        resampler.process(left.data(), right.data(), Period);
        EXPECT_EQ(left, right) << "the channels share the input's clock";
        recorded.insert(recorded.end(), left.begin(), left.end());
    }
    recorded.erase(recorded.begin(), recorded.begin() + 16384);
    return recorded;
}

TEST(DriftResampler, ASineComesBackAtTheDriftedFrequencyWithoutAddingDistortion) {
    const double amplitude = std::pow(10.0, -1.0 / 20.0);
    for (double ppm : {100.0, -1000.0, 1000.0}) {
        for (double hz : {1000.0, 15000.0}) {
            const auto recorded = resampled(ppm, hz, amplitude, 4 * 44100);
            EXPECT_LT(residualDb(recorded, hz * (1.0 + ppm * 1e-6)), -100.0)
                << ppm << " ppm, " << hz << " Hz";
        }
    }
    // The nominal frequency leaves the drift behind as a residual.
    EXPECT_GT(residualDb(resampled(100.0, 1000.0, amplitude, 4 * 44100), 1000.0), -60.0);
}

// A minute's drift and then the slip back, each way, never reading outside
// the history.
TEST(DriftResampler, TheLagStaysWithinItsHeadroomAndSlipsBackWhenItIsUsedUp) {
    for (double ppm : {1000.0, -1000.0}) {
        DriftResampler resampler(ppm, Rate);
        const double headroom = std::ceil(1000e-6 * Rate * DriftResampler::SecondsBetweenSlips);
        std::vector<double> left(Period);
        double least = 1e9, most = -1e9;
        int slips = 0;
        double lag = resampler.lagFrames();
        for (int period = 0; period < 3 * 44100 * 70 / 256 / 2; ++period) {
            std::fill(left.begin(), left.end(), 0.25);
            resampler.process(left.data(), nullptr, Period);
            const double now = resampler.lagFrames();
            slips += std::fabs(now - lag) > headroom / 2;
            lag = now;
            least = std::min(least, now);
            most = std::max(most, now);
            if (period > 20) { // past the silence before the first sample
                ASSERT_NEAR(left[Period - 1], 0.25, 1e-5) << ppm << " ppm, period " << period;
            }
        }
        EXPECT_EQ(slips, 1) << ppm << " ppm";
        EXPECT_GE(least, DriftResampler::HalfTaps - 1) << ppm << " ppm";
        EXPECT_LE(most, DriftResampler::HalfTaps + headroom + 1) << ppm << " ppm";
    }
}

} // namespace
