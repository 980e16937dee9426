#include "audio/Audio.h"
#include "audio/SoundInp.h"
#include "audio/SoundOut.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

namespace {

class ToneTest : public testing::Test {
  protected:
    void SetUp() override {
        FftSize = 8192;
        FullScale = 32768.0;
        GenPeriod = 32.5;
        GenPhase = 0.0;
        buffer.assign(FftSize, 0);
    }

    // Largest step between neighbours relative to what the tone allows: a
    // phase jump shows as a step far above amplitude * 2*pi / period.
    static int largestStep(const std::vector<std::int16_t>& samples) {
        int largest = 0;
        for (std::size_t i = 1; i < samples.size(); ++i)
            largest = std::max(largest, std::abs(samples[i] - samples[i - 1]));
        return largest;
    }

    CSoundOut generator;
    std::vector<std::int16_t> buffer;
};

} // namespace

TEST_F(ToneTest, FirstSampleIsOneStepIntoTheSine) {
    generator.FillToneBuffer(buffer.data());
    EXPECT_EQ(buffer[0], 6295);
    EXPECT_GE(*std::max_element(buffer.begin(), buffer.end()), 32700);
}

TEST_F(ToneTest, PhaseContinuesAcrossBuffersAndFrequencyChanges) {
    std::vector<std::int16_t> joined;
    generator.FillToneBuffer(buffer.data());
    joined.insert(joined.end(), buffer.begin(), buffer.end());
    GenPeriod = 100.0; // between buffers
    generator.FillToneBuffer(buffer.data());
    joined.insert(joined.end(), buffer.begin(), buffer.end());
    // One step of the faster tone is at most 32767 * 2*pi/32.5 ~ 6335.
    EXPECT_LE(largestStep(joined), 6335);

    // The phase is carried over exactly: the first new sample continues it.
    const double phaseBefore = GenPhase;
    generator.FillToneBuffer(buffer.data());
    const double expected = std::sin(std::fmod(phaseBefore + TwoPi / 100.0, TwoPi)) * 32767.0;
    EXPECT_EQ(buffer[0], static_cast<std::int16_t>(expected));
}

TEST_F(ToneTest, LevelsScaleTheToneAndZeroIsSilence) {
    generator.OnSetLevel(6554, 0);
    EXPECT_EQ(generator.m_amplitude, 0.100006103515625);
    generator.FillToneBuffer(buffer.data());
    const auto [low, high] = std::minmax_element(buffer.begin(), buffer.end());
    EXPECT_LE(*high, 3276);
    EXPECT_GE(*low, -3276);
    EXPECT_GE(*high, 3270);

    generator.OnSetLevel(0, 0);
    generator.FillToneBuffer(buffer.data());
    EXPECT_TRUE(std::all_of(buffer.begin(), buffer.end(), [](std::int16_t s) { return s == 0; }));
}

TEST_F(ToneTest, LevelsAboveFullScaleAreHeldAtFullScale) {
    generator.OnSetLevel(65536 * 4, 0);
    EXPECT_EQ(generator.m_amplitude, 1.0);
    generator.FillToneBuffer(buffer.data());
    EXPECT_LE(*std::max_element(buffer.begin(), buffer.end()), 32767);
    EXPECT_GE(*std::min_element(buffer.begin(), buffer.end()), -32767);
}

TEST_F(ToneTest, ATestLevelRoundsToTheNearestSampleUntilALevelButtonTruncatesAgain) {
    generator.OnSetTestLevel(static_cast<WPARAM>(0.5 * TestLevelScale), 0);
    generator.FillToneBuffer(buffer.data());
    double phase = 0.0;
    for (int i = 0; i < 100; ++i) {
        phase = std::fmod(phase + TwoPi / 32.5, TwoPi);
        ASSERT_EQ(buffer[i], std::lround(std::sin(phase) * 32767 * 0.5)) << i;
    }
    generator.OnSetLevel(32768, 0);
    generator.FillToneBuffer(buffer.data());
    phase = GenPhase;
    EXPECT_EQ(buffer[FftSize - 1], static_cast<std::int16_t>(std::sin(phase) * 32767 * 0.5));
}

TEST(ConvertBlockTest, SamplesAreScaledToFullScaleExactly) {
    FullScale = 32768.0;
    const std::int16_t samples[] = {-32768, 32767, 0, 1};
    double block[4];
    ConvertBlock(samples, block, 4);
    EXPECT_EQ(block[0], -1.0);
    EXPECT_EQ(block[1], 0.999969482421875);
    EXPECT_EQ(block[2], 0.0);
    EXPECT_EQ(block[3], 1.0 / 32768.0);
}

TEST(ConvertBlockTest, TwoChannelsAreSeparatedOneAfterTheOther) {
    FullScale = 32768.0;
    const std::int16_t frames[] = {1, -1, 2, -2, 3, -3};
    double block[6];
    ConvertBlock(frames, block, 3, 2);
    const double unit = 1.0 / 32768.0;
    EXPECT_EQ(std::vector<double>(block, block + 6),
              (std::vector<double>{unit, 2 * unit, 3 * unit, -unit, -2 * unit, -3 * unit}));
}
