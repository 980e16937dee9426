#include "measure/ClockDrift.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <numbers>
#include <vector>

namespace {

// A tone played at `toneHz` as an input `ppm` off the output's clock records
// it: at toneHz * (1 + ppm * 1e-6), rounded to 16 bits, behind `silence`
// frames of the loop's delay.
std::vector<std::int16_t> recordedTone(double toneHz, double ppm, double seconds,
                                       double sampleRate = 44100.0, std::size_t silence = 0,
                                       double amplitude = 0.5) {
    const auto frames = static_cast<std::size_t>(seconds * sampleRate);
    std::vector<std::int16_t> samples(silence + frames, 0);
    const double step = 2.0 * std::numbers::pi * toneHz * (1.0 + ppm * 1e-6) / sampleRate;
    for (std::size_t i = 0; i < frames; ++i)
        samples[silence + i] =
            static_cast<std::int16_t>(std::lround(32767.0 * amplitude * std::sin(step * i + 0.3)));
    return samples;
}

TEST(ClockDrift, ATwoSecondToneReadsItsDriftWithinATenthOfAPpm) {
    for (double ppm : {0.0, 0.37, -3.0, 100.0, -250.0, 1000.0, -1000.0}) {
        const auto drift = MeasureClockDrift(recordedTone(1000.0, ppm, 2.0), 1000.0, 44100.0);
        ASSERT_TRUE(drift) << ppm;
        EXPECT_NEAR(drift->ppm, ppm, 0.1);
        EXPECT_LT(drift->standardErrorPpm, 0.05) << ppm;
        EXPECT_LT(drift->residualDegrees, 0.01) << ppm;
        EXPECT_EQ(drift->segments, 20);
    }
    // Another rate and tone; silence before the tone (the loop's delay) and
    // after it is left out.
    auto delayed = recordedTone(3000.0, 42.0, 2.0, 48000.0, 7000);
    delayed.resize(delayed.size() + 9000, 0);
    const auto drift = MeasureClockDrift(delayed, 3000.0, 48000.0);
    ASSERT_TRUE(drift);
    EXPECT_NEAR(drift->ppm, 42.0, 0.1);
    EXPECT_EQ(drift->segments, 19); // the two that hold only part of the tone left out
}

TEST(ClockDrift, ANoisyToneReadsNearItsDriftWithAWiderError) {
    auto samples = recordedTone(1000.0, 50.0, 2.0, 44100.0, 0, 0.05);
    std::uint32_t state = 99;
    for (std::int16_t& s : samples) {
        state = state * 1664525u + 1013904223u;
        s = static_cast<std::int16_t>(s + static_cast<int>(state >> 24) - 128); // about -48 dBFS
    }
    const auto drift = MeasureClockDrift(samples, 1000.0, 44100.0);
    ASSERT_TRUE(drift);
    EXPECT_GT(drift->standardErrorPpm, 0.02);
    EXPECT_NEAR(drift->ppm, 50.0, 5.0 * drift->standardErrorPpm);
}

TEST(ClockDrift, NothingIsReadWithoutASteadyToneLongEnough) {
    const auto tone = recordedTone(1000.0, 10.0, 2.0);
    EXPECT_FALSE(MeasureClockDrift(recordedTone(1000.0, 10.0, 0.45), 1000.0, 44100.0));
    EXPECT_FALSE(MeasureClockDrift(std::vector<std::int16_t>(88200, 0), 1000.0, 44100.0));
    EXPECT_FALSE(MeasureClockDrift(tone, 0.0, 44100.0));
    EXPECT_FALSE(MeasureClockDrift(tone, 22050.0, 44100.0));
    EXPECT_FALSE(MeasureClockDrift(tone, 1000.0, 0.0));
    // Another tone than the one named does not stand out at its frequency.
    EXPECT_FALSE(MeasureClockDrift(tone, 1500.0, 44100.0));
    // A dropout between steady stretches would slip the phase.
    auto broken = tone;
    std::fill(broken.begin() + 44100, broken.begin() + 50000, std::int16_t{0});
    EXPECT_FALSE(MeasureClockDrift(broken, 1000.0, 44100.0));
}

} // namespace
