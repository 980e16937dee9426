// What the display cycle reads off a block: its DC offset and its power.
#include "measure/BlockAnalysis.h"

#include "dsp/FFT.h"
#include "measure/SweepPlan.h"
#include "tests/measure/ToneBlocks.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

std::vector<double> Sine(double amplitude, double cycles) {
    std::vector<double> block(BlockSize);
    for (int i = 0; i < BlockSize; ++i)
        block[i] = amplitude * std::sin(2 * std::numbers::pi * i * cycles / BlockSize);
    return block;
}

std::string PowerOf(const std::vector<double>& block) {
    return PowerText(MeanSquare(block.data(), BlockSize));
}

TEST(PowerText, ReadsInFixedOrExponentFormWithTwoDigits) {
    struct Case {
        double amplitude;
        const char* shown;
    };
    // A sine of amplitude a reads 20 log10(a) + 3 - 3.0103 dB.
    const Case cases[] = {
        {1.0, "-1.e-002"},                   // -0.0103
        {32767.0 / 32768, "-1.1e-002"},      // a full-scale tone of the generator
        {std::pow(10.0, -45.3 / 20), "-45"}, // fixed, rounded to two digits
        {std::pow(10.0, -7.24 / 20), "-7.3"},
        {1e-5, "-1.e+002"}, // -100.0103: exponent form, three exponent digits
    };
    for (const Case& c : cases)
        EXPECT_EQ(PowerOf(Sine(c.amplitude, 64)), c.shown) << c.amplitude;
}

TEST(PowerText, SilenceAndTheFaintestBlocksReadTooLow) {
    EXPECT_EQ(PowerText(0.0), "Too low");
    EXPECT_EQ(PowerText(std::pow(10.0, -10.5)), "Too low") << "the threshold itself";
    EXPECT_NE(PowerText(std::pow(10.0, -10.4)), "Too low");
}

TEST(DcOffset, ThePlainMeanLeavesAPureOffsetSilent) {
    std::vector<double> block(BlockSize, 0.25);
    SubtractOffset(block.data(), BlockSize, BlockMean(block.data(), BlockSize));
    for (double sample : block)
        ASSERT_EQ(sample, 0.0);
}

TEST(DcOffset, TheOffsetBesideALowToneKeepsTheTonesLevel) {
    // 12.6 Hz is no whole number of periods in the block: its own mean is not
    // zero, and the plain mean takes part of the tone with it.
    const double f = 12.6;
    const double offset = 1e-3;
    std::vector<double> block(BlockSize);
    ToneBlocks tone;
    tone.Fill(block.data(), BlockSize, f, Minus20dBAmplitude, 0, 0, offset);
    EXPECT_NEAR(OffsetBesideTone(block.data(), BlockSize, f), offset, 2e-6);
    EXPECT_GT(std::fabs(BlockMean(block.data(), BlockSize) - offset), 1e-4) << "the plain mean";
}

} // namespace
