// The sweep's arithmetic, driven block by block with synthetic loop-back
// blocks: the tone the generator is set to, as it comes back.
#include "measure/FrequencySweep.h"

#include "dsp/FFT.h"
#include "measure/BlockAnalysis.h"
#include "measure/NoiseLines.h"
#include "measure/SweepPlan.h"
#include "tests/measure/ToneBlocks.h"

#include <gtest/gtest.h>

#include <tuple>
#include <vector>

namespace {

struct SweepEngine : ::testing::Test {
    FrequencySweep sweep{BlockSize};
    CFFT fft;
    ToneBlocks tone;
    std::vector<double> block = std::vector<double>(BlockSize);
    std::vector<double> spectrum = std::vector<double>(BlockSize / 2);
    double frequency = SweepStartFrequency(BlockSize);
    double amplitude = Minus20dBAmplitude;
    int blocks = 0;

    void SetUp() override {
        fft.InitWindow(13, CFFT::QuasiChebyshev);
        sweep.Start();
    }

    // One displayed block of the tone at `toneHz`, as a sweep runs it: the
    // offset fitted beside the tone, the spectrum, the sweep's step.
    FrequencySweep::Step Show(double toneHz, double humAmplitude = 0) {
        tone.Fill(block.data(), BlockSize, toneHz, amplitude, 50, humAmplitude, 1e-3);
        SubtractOffset(block.data(), BlockSize,
                       OffsetBesideTone(block.data(), BlockSize, frequency));
        fft.Transform(block.data(), spectrum.data());
        ++blocks;
        const FrequencySweep::Step step = sweep.Advance(spectrum.data(), 0, frequency, fft);
        if (step.kind == FrequencySweep::Step::Point)
            frequency = step.nextFrequency;
        return step;
    }
    FrequencySweep::Step LoopBack() { return Show(frequency, std::pow(10.0, -90.0 / 20)); }
    // The tone drowned by hum 20 dB above it.
    FrequencySweep::Step Hum() {
        const double kept = amplitude;
        amplitude = 1e-3;
        const FrequencySweep::Step step = Show(frequency, 1e-2);
        amplitude = kept;
        return step;
    }
    bool RunToTheEnd() {
        while (blocks < 2000) {
            if (LoopBack().kind == FrequencySweep::Step::Finished)
                return true;
        }
        return false;
    }
};

TEST_F(SweepEngine, APointTakesSixStaleBlocksAndFivePassingOnesFailingOnesNotCounted) {
    for (int i = 0; i < ToneSettling::StaleBlocks; ++i)
        EXPECT_EQ(LoopBack().kind, FrequencySweep::Step::Waiting);
    EXPECT_EQ(sweep.BlockCount(), 0) << "blocks that may carry the previous tone fail";
    LoopBack();
    LoopBack();
    Hum();
    Hum();
    LoopBack();
    LoopBack();
    EXPECT_EQ(sweep.BlockCount(), 4);
    EXPECT_TRUE(sweep.Points().empty());

    const FrequencySweep::Step step = LoopBack();

    ASSERT_EQ(step.kind, FrequencySweep::Step::Point);
    ASSERT_EQ(sweep.Points().size(), 1u);
    EXPECT_EQ(sweep.Points()[0].frequencyHz, 10.7666015625);
    EXPECT_EQ(sweep.Points()[0].blocks, 13);
    EXPECT_EQ(sweep.NoisyPoints(), 1) << "the hum blocks";
    EXPECT_NEAR(step.nextFrequency, 10.7666015625 * 1.080025689987635, 1e-9);
    EXPECT_EQ(sweep.BlockCount(), 0);
}

TEST_F(SweepEngine, NoiseLinesAreToldOnTheEleventhFailingBlockOnlyUntilABlockPasses) {
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(Hum().kind, FrequencySweep::Step::Waiting);
    EXPECT_EQ(Hum().kind, FrequencySweep::Step::NoiseLines);
    for (int i = 0; i < 30; ++i)
        EXPECT_EQ(Hum().kind, FrequencySweep::Step::Waiting);
    LoopBack();
    EXPECT_EQ(sweep.NoiseFailCount(), 0);
    for (int i = 0; i < 10; ++i)
        Hum();
    EXPECT_EQ(Hum().kind, FrequencySweep::Step::NoiseLines);
    EXPECT_TRUE(sweep.Points().empty());
}

TEST_F(SweepEngine, ADeviceThatCutsTheTopOffStillEndsTheSweep) {
    while (sweep.Points().size() < 99 && blocks < 2000)
        LoopBack();
    ASSERT_EQ(sweep.Points().size(), 99u);
    FrequencySweep::Step step{};
    for (int i = 0; i < 5; ++i)
        step = Hum(); // the tone lost in the hum at 21981 Hz
    EXPECT_EQ(step.kind, FrequencySweep::Step::Finished);
    EXPECT_EQ(sweep.NoiseFailCount(), 0) << "not tested";
}

TEST_F(SweepEngine, ThePointsRecordTheWindowTheyWereMeasuredWith) {
    while (sweep.Points().size() < 2)
        LoopBack();
    EXPECT_EQ(sweep.PointsWindowType(), CFFT::QuasiChebyshev);
    fft.InitWindow(13, CFFT::Rectangle);
    while (sweep.Points().size() < 3)
        LoopBack();
    EXPECT_EQ(sweep.PointsWindowType(), std::nullopt) << "mixed";
    sweep.Start();
    EXPECT_TRUE(sweep.Points().empty());
}

// window type, tone amplitude
class FullSweep : public SweepEngine,
                  public ::testing::WithParamInterface<std::tuple<int, double>> {};

TEST_P(FullSweep, MeasuresTheFlatLoopBackAtNinetyNineFrequencies) {
    const auto [window, level] = GetParam();
    fft.InitWindow(13, window);
    amplitude = level;

    ASSERT_TRUE(RunToTheEnd());

    EXPECT_EQ(blocks, 99 * (ToneSettling::StaleBlocks + 5) + 5)
        << "no block failed but the stale; the last frequency needs no test";
    EXPECT_EQ(sweep.NoisyPoints(), 0);
    const std::vector<double> plan = SweepPointFrequencies(BlockSize);
    ASSERT_EQ(plan.size(), 99u);
    ASSERT_EQ(sweep.Points().size(), 99u);
    const double toneDb = 20 * std::log10(amplitude * 32767 / 32768);
    double largestScallop = 0;
    for (int k = 0; k < 99; ++k) {
        const ResponsePoint& point = sweep.Points()[k];
        const double f = 10.7666015625 * std::pow(2205.0, k / 100.0);
        EXPECT_EQ(point.frequencyHz, plan[k]) << k;
        EXPECT_NEAR(point.frequencyHz, f, f * 1e-12) << k;
        EXPECT_EQ(point.blocks, ToneSettling::StaleBlocks + 5);
        EXPECT_EQ(point.levelDb, point.peakDb - point.windowGainDb);
        // The rectangle's side lobes fall off slowly: the tone's mirror at -f
        // reaches its bin, by an amount that depends on the tone's phase, up
        // to 0.8 dB below 300 Hz.
        const double tolerance = window == CFFT::Rectangle ? (f < 300 ? 1.0 : 0.05) : 0.01;
        EXPECT_NEAR(point.levelDb, toneDb, tolerance) << "at " << f << " Hz";
        largestScallop = std::max(largestScallop, -point.windowGainDb);
    }
    EXPECT_GT(largestScallop, window == CFFT::Rectangle ? 3.0 : 0.7) << "the mend matters";
    EXPECT_NEAR(frequency, 10.7666015625 * std::pow(2205.0, 0.99), 1e-6)
        << "the hundredth frequency stays the tone";
}

INSTANTIATE_TEST_SUITE_P(BothWindowsBothLevels, FullSweep,
                         ::testing::Combine(::testing::Values(CFFT::QuasiChebyshev,
                                                              CFFT::Rectangle),
                                            ::testing::Values(Minus20dBAmplitude, 1.0)));

// The noise test on its own, with the engine's spectrum of a block.
struct NoiseLines : ::testing::Test {
    ToneBlocks tone;
    std::vector<double> block = std::vector<double>(BlockSize);
    std::vector<double> spectrum = std::vector<double>(BlockSize / 2);

    bool Noisy(double toneHz, int window) {
        CFFT fft;
        fft.InitWindow(13, window);
        fft.Transform(block.data(), spectrum.data());
        return HasNoiseLines(spectrum.data(), BlockSize / 2, ToneBinPosition(toneHz, BlockSize),
                             MainLobeGuardBins(window));
    }
};

TEST_F(NoiseLines, ACleanToneHasNoneWithEitherWindowAtTheLowestBin) {
    for (int window : {CFFT::QuasiChebyshev, CFFT::Rectangle}) {
        for (double f : {10.7666015625, 11.628, 13.56, 1000.0, 21981.3}) {
            tone.Fill(block.data(), BlockSize, f, Minus20dBAmplitude);
            EXPECT_FALSE(Noisy(f, window)) << f << " Hz, window " << window;
        }
    }
}

TEST_F(NoiseLines, StrongHumOnAWeakToneIsALine) {
    tone.Fill(block.data(), BlockSize, 1000, 1e-3, 50, 1e-2);
    EXPECT_TRUE(Noisy(1000, CFFT::QuasiChebyshev));
    tone.Fill(block.data(), BlockSize, 1000, 1e-3, 50, 1e-4); // 20 dB below the tone
    EXPECT_FALSE(Noisy(1000, CFFT::QuasiChebyshev));
}

TEST_F(NoiseLines, ThePreviousSweepFrequencyIsALineWhereverItLies) {
    const double ratio = 1.080025689987635;
    for (double f : {1000.0, 100.0}) { // outside the guard, inside it
        tone.Fill(block.data(), BlockSize, f / ratio, Minus20dBAmplitude);
        EXPECT_TRUE(Noisy(f, CFFT::QuasiChebyshev)) << f;
        EXPECT_TRUE(Noisy(f, CFFT::Rectangle)) << f;
    }
}

TEST(ToneSettlingTest, SixRecordedBlocksAfterAChangeAreStaleDroppedOnesIncluded) {
    ToneSettling settling;
    EXPECT_FALSE(settling.MayCarryOldTone()) << "no change yet";
    settling.Retuned();
    settling.BlockShown(3); // recorded before the change: not counted
    settling.BlockShown(2);
    EXPECT_TRUE(settling.MayCarryOldTone()) << "4 recorded";
    settling.BlockShown(1);
    EXPECT_TRUE(settling.MayCarryOldTone()) << "6 recorded";
    settling.BlockShown(0);
    EXPECT_FALSE(settling.MayCarryOldTone()) << "the seventh";
    EXPECT_EQ(settling.BlocksRecorded(), 7u);
}

} // namespace
