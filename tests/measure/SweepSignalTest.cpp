// The synchronized sweep's samples, and the pieces of the analysis that can
// be checked on their own: the long transforms, the peak between samples,
// the dense frequency grid.
#include "measure/SweepSignal.h"
#include "dsp/SignalFormat.h"
#include "measure/LongTransform.h"
#include "measure/PeakPosition.h"
#include "measure/ResponseFrequencies.h"
#include "measure/Rounding.h"
#include "measure/SweepPlan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <thread>
#include <vector>

namespace {

SweepSettings Lasting(double seconds) {
    SweepSettings settings;
    settings.lengthSeconds = seconds;
    return settings;
}

// f1 L must be whole for the harmonics to be the sweep itself, earlier; so
// the length comes in steps, and the one nearest the length asked for is used.
TEST(SweepSignal, TakesTheSynchronizedLengthNearestTheOneAskedFor) {
    for (double asked : {1.0, 3.0, 6.0, 6.2, 6.6, 60.0}) {
        const SweepSignal sweep(Lasting(asked));
        const double cycles = sweep.StartHz() * sweep.RateSeconds();
        EXPECT_NEAR(cycles, std::round(cycles), 1e-9) << asked;
        EXPECT_LE(std::abs(sweep.LengthSeconds() - asked), sweep.LengthStepSeconds() / 2 + 1e-9)
            << asked;
        EXPECT_EQ(sweep.Samples().size(),
                  static_cast<std::size_t>(std::floor(sweep.LengthSeconds() * SampleRate)) + 1);
    }
    const SweepSignal standard{SweepSettings{}};
    EXPECT_NEAR(standard.LengthStepSeconds(), 0.7696, 1e-4);
    EXPECT_DOUBLE_EQ(standard.RateSeconds(), 0.8);
    EXPECT_NEAR(standard.LengthSeconds(), 6.157, 1e-3);
    EXPECT_NEAR(standard.HarmonicLeadSeconds(2), 0.8 * std::log(2.0), 1e-12);
    // Even a second asks for one whole step.
    EXPECT_NEAR(SweepSignal(Lasting(1)).LengthSeconds(), standard.LengthStepSeconds(), 1e-12);
}

TEST(SweepSignal, SamplesAreTheFadedSweepAtItsLevelRoundedAsTheReportsTones) {
    SweepSettings settings;
    settings.levelDbfs = -10;
    const SweepSignal sweep(settings);
    const auto samples = sweep.Samples();
    const double peak = std::pow(10.0, -10 / 20.0) * (SampleFullScale - 1);
    const double cycles = sweep.StartHz() * sweep.RateSeconds();
    // Between the fades: the formula, rounded half away from zero.
    for (std::size_t n = 5000; n < samples.size() - 1000; n += 997) {
        const double t = n / SampleRate;
        const double x =
            std::sin(2 * std::numbers::pi * cycles * std::expm1(t / sweep.RateSeconds()));
        EXPECT_NEAR(samples[n], RoundHalfAway(x * peak), 1) << n;
    }
    const auto loudest = *std::max_element(samples.begin(), samples.end());
    EXPECT_EQ(loudest, RoundHalfAway(peak));
    // The fades start and end at silence and hold the level off at first.
    EXPECT_EQ(samples.front(), 0);
    EXPECT_EQ(samples.back(), 0);
    const auto fadeIn = static_cast<std::size_t>(sweep.FadeInSeconds() * SampleRate);
    for (std::size_t n = 0; n < fadeIn / 4; ++n)
        EXPECT_LT(std::abs(samples[n]), peak / 6) << n;
}

TEST(SweepSignal, SettingsOutsideTheirLimitsAreInvalid) {
    const auto with = [](auto change) {
        SweepSettings settings;
        change(settings);
        return settings.valid();
    };
    EXPECT_TRUE(with([](SweepSettings&) {}));
    EXPECT_TRUE(with([](SweepSettings& s) { s.lengthSeconds = SweepSettings::MaxLengthSeconds; }));
    EXPECT_FALSE(with([](SweepSettings& s) { s.lengthSeconds = 0.5; }));
    EXPECT_FALSE(with([](SweepSettings& s) { s.lengthSeconds = 61; }));
    EXPECT_FALSE(with([](SweepSettings& s) { s.levelDbfs = 0.5; }));
    EXPECT_FALSE(with([](SweepSettings& s) { s.levelDbfs = -61; }));
    EXPECT_FALSE(with([](SweepSettings& s) { s.endHz = SampleRate / 2; }));
    EXPECT_FALSE(with([](SweepSettings& s) { s.startHz = s.endHz; }));
    EXPECT_FALSE(with([](SweepSettings& s) { s.startHz = 0; }));
    EXPECT_FALSE(with([](SweepSettings& s) { s.lengthSeconds = std::nan(""); }));
}

TEST(LongTransform, InverseUndoesForwardAndADelayIsAPhaseTurn) {
    LongTransform transform(LongTransform::FastSizeAtLeast(10001));
    const std::size_t size = transform.Size();
    EXPECT_EQ(size, 10080u); // 2^5 3^2 5 7
    std::fill(transform.Time().begin(), transform.Time().end(), 0.0);
    transform.Time()[37] = 1.0;
    transform.Forward();
    for (std::size_t k : {0u, 1u, 999u, 5040u}) {
        const std::complex<double> expected =
            std::polar(1.0, -2 * std::numbers::pi * double(k * 37 % size) / double(size));
        EXPECT_NEAR(std::abs(transform.Bins()[k] - expected), 0.0, 1e-12) << k;
    }
    transform.Inverse();
    for (std::size_t n = 0; n < size; ++n)
        ASSERT_NEAR(transform.Time()[n], n == 37 ? 1.0 : 0.0, 1e-12) << n;
}

// Plans are made under a lock, once per size, whichever thread asks.
TEST(LongTransform, TransformsOnSeveralThreadsAtOnceAgree) {
    std::vector<double> sums(8);
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < sums.size(); ++i)
        threads.emplace_back([&sums, i] {
            LongTransform transform(LongTransform::FastSizeAtLeast(4096 + 1000 * (i % 4)));
            std::fill(transform.Time().begin(), transform.Time().end(), 1.0);
            transform.Forward();
            sums[i] = transform.Bins()[0].real() / static_cast<double>(transform.Size());
        });
    for (auto& thread : threads)
        thread.join();
    for (double sum : sums)
        EXPECT_NEAR(sum, 1.0, 1e-12);
}

// A band-limited pulse between two samples: sinc(n - centre).
TEST(PeakPosition, FindsTheMaximumBetweenSamples) {
    for (double centre : {200.0, 200.3, 200.5, 200.77, 1.25}) {
        for (double sign : {1.0, -1.0}) {
            std::vector<double> pulse(1024);
            for (std::size_t n = 0; n < pulse.size(); ++n) {
                // Round the circle, so that a peak near 0 has its samples before.
                const double x = std::remainder(n - centre, double(pulse.size()));
                pulse[n] =
                    sign * (x == 0 ? 1.0 : std::sin(std::numbers::pi * x) / (std::numbers::pi * x));
            }
            EXPECT_NEAR(PeakPosition(pulse, 0, 512), centre, 0.01) << centre << " " << sign;
        }
    }
}

TEST(ResponseFrequencies, PerOctaveGridSpansTheSteppedSweepsRange) {
    for (int perOctave : {1, 3, 24, MaxPointsPerOctave}) {
        const auto frequencies = PerOctaveFrequencies(perOctave);
        ASSERT_FALSE(frequencies.empty());
        EXPECT_GE(frequencies.front(), SweepStartFrequency(BlockSize));
        EXPECT_LT(frequencies.front() / std::exp2(1.0 / perOctave), SweepStartFrequency(BlockSize));
        EXPECT_LE(frequencies.back(), DenseCurveHighestHz);
        EXPECT_GT(frequencies.back() * std::exp2(1.0 / perOctave), DenseCurveHighestHz);
        for (std::size_t i = 1; i < frequencies.size(); ++i)
            EXPECT_NEAR(frequencies[i] / frequencies[i - 1], std::exp2(1.0 / perOctave), 1e-12);
        EXPECT_NE(std::find(frequencies.begin(), frequencies.end(), 1000.0), frequencies.end());
    }
    EXPECT_TRUE(PerOctaveFrequencies(0).empty());
    EXPECT_TRUE(PerOctaveFrequencies(MaxPointsPerOctave + 1).empty());
}

} // namespace
