// The report's figures from synthetic blocks whose true values are known.
#include "dsp/FFT.h"
#include "dsp/SignalFormat.h"
#include "measure/BandPower.h"
#include "measure/Distortion.h"
#include "measure/LoopCheck.h"
#include "measure/LoopbackReport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>
#include <vector>

namespace {

// A 997 Hz tone at `dbfs` with harmonics at the given levels re the
// fundamental, as 16-bit samples rounded to the nearest value.
class TestTone {
  public:
    TestTone(double dbfs, double h2Db = -400, double h3Db = -400)
        : m_peak(std::pow(10.0, dbfs / 20)), m_h2(std::pow(10.0, h2Db / 20)),
          m_h3(std::pow(10.0, h3Db / 20)) {}

    void Fill(std::vector<double>& block) {
        for (double& x : block) {
            const double phase = 2 * std::numbers::pi * ReportToneHz * m_n++ / SampleRate;
            const double sine =
                std::sin(phase) + m_h2 * std::sin(2 * phase) + m_h3 * std::sin(3 * phase);
            const double sample = std::round(sine * m_peak * (SampleFullScale - 1));
            x = std::clamp(sample, -SampleFullScale, SampleFullScale - 1) / SampleFullScale;
        }
    }

  private:
    double m_peak, m_h2, m_h3;
    long long m_n = 0;
};

DistortionMeter::Result Measure(TestTone tone) {
    DistortionMeter meter(ReportToneHz, BlockSize);
    std::vector<double> block(BlockSize);
    for (int i = 0; i < ReportBlocksPerFigure; ++i) {
        tone.Fill(block);
        meter.Add(block.data());
    }
    return meter.Compute();
}

TEST(AWeighting, MatchesTheStandardsTableAtItsReferenceFrequencies) {
    EXPECT_NEAR(AWeightingDb(1000), 0.0, 0.01);
    EXPECT_NEAR(AWeightingDb(100), -19.1, 0.05);
    EXPECT_NEAR(AWeightingDb(10000), -2.5, 0.05);
    EXPECT_NEAR(AWeightingDb(std::pow(10.0, 1.5)), -39.4, 0.05) << "31.5 Hz, nominally";
}

TEST(DistortionMeterTest, ThdIsThePowerSumOfTheHarmonicsWithTheWindowsGainRemoved) {
    const DistortionMeter::Result r = Measure(TestTone(-1, -60, -70));
    ASSERT_EQ(r.harmonicsDb.size(), 9u) << "2 to 10, all below 20 kHz";
    EXPECT_NEAR(r.harmonicsDb[0], -60, 0.05);
    EXPECT_NEAR(r.harmonicsDb[1], -70, 0.05);
    EXPECT_NEAR(r.thdDb, 10 * std::log10(1e-6 + 1e-7), 0.05);
    EXPECT_NEAR(r.fundamentalDbfs, -1, 0.01);
}

TEST(DistortionMeterTest, ThdPlusNoiseOfAPerfect16BitToneIsItsRounding) {
    // The rounding error: 6.02 x 16 + 1.76 = 98.09 dB below a full-scale
    // sine over the whole band, 0.43 dB less in 20 Hz - 20 kHz, 1 dB less
    // tone: -97.5 dB.
    EXPECT_NEAR(Measure(TestTone(-1)).thdNDb, -97.5, 0.3);
    // The same rounding re full scale, A-weighted, is the format's dynamic range.
    EXPECT_NEAR(-Measure(TestTone(-60)).residualDbfsA, SixteenBitLimits(BlockSize).dynamicRangeDbA,
                0.5);
}

TEST(DistortionMeterTest, ATonePastFullScaleIsMarkedClipped) {
    EXPECT_FALSE(Measure(TestTone(-1)).clipped);
    EXPECT_TRUE(Measure(TestTone(+2)).clipped);
}

TEST(NoiseMeterTest, WhiteNoiseReadsItsShareOfTheBandUnweightedAndAWeighted) {
    // White noise at -70 dBFS over 0 - 22050 Hz: 19980 / 22050 of it lies in
    // 20 Hz - 20 kHz (-0.43 dB), and the A-weighting takes 2.05 dB more.
    std::mt19937 random(1);
    std::normal_distribution<double> gaussian(0, std::pow(10.0, -70.0 / 20) / std::numbers::sqrt2);
    NoiseMeter meter(BlockSize);
    std::vector<double> block(BlockSize);
    for (int i = 0; i < ReportBlocksPerFigure; ++i) {
        for (double& x : block)
            x = gaussian(random);
        meter.Add(block.data());
    }
    EXPECT_FALSE(meter.DigitalSilence());
    EXPECT_NEAR(meter.Dbfs(), -70.43, 0.1);
    EXPECT_NEAR(meter.DbfsA(), -72.48, 0.1);
}

TEST(NoiseMeterTest, ZerosAreDigitalSilenceAndOneLsbIsNot) {
    NoiseMeter meter(BlockSize);
    std::vector<double> block(BlockSize, 0.0);
    meter.Add(block.data());
    EXPECT_TRUE(meter.DigitalSilence());
    block[100] = 1 / SampleFullScale;
    meter.Add(block.data());
    EXPECT_FALSE(meter.DigitalSilence());
}

struct LoopCheckTest : ::testing::Test {
    CFFT fft;
    std::vector<double> spectrum = std::vector<double>(BlockSize / 2);
    std::vector<double> block = std::vector<double>(BlockSize);
    void SetUp() override { fft.InitWindow(BlockOrder, CFFT::QuasiChebyshev); }
    LoopCheck::Verdict Check(double toneHz, double dbfs) {
        for (int i = 0; i < BlockSize; ++i)
            block[i] = std::pow(10.0, dbfs / 20) *
                       std::sin(2 * std::numbers::pi * toneHz * i / SampleRate);
        return CheckLoop(block.data(), BlockSize, ReportToneHz, LoopCheckDbfs, fft, spectrum.data())
            .verdict;
    }
};

TEST_F(LoopCheckTest, PassesTheToneNearItsLevelAndSaysWhatIsWrongOtherwise) {
    EXPECT_EQ(Check(ReportToneHz, -20), LoopCheck::Verdict::Passed);
    EXPECT_EQ(Check(ReportToneHz, -39), LoopCheck::Verdict::Passed) << "within 20 dB";
    EXPECT_EQ(Check(ReportToneHz, -41), LoopCheck::Verdict::LevelOff);
    EXPECT_EQ(Check(1200, -20), LoopCheck::Verdict::NoTone) << "another line";
    EXPECT_EQ(Check(ReportToneHz, 0.5), LoopCheck::Verdict::Clipped);

    std::fill(block.begin(), block.end(), 0.0);
    const LoopCheck silent =
        CheckLoop(block.data(), BlockSize, ReportToneHz, LoopCheckDbfs, fft, spectrum.data());
    EXPECT_EQ(silent.verdict, LoopCheck::Verdict::NoTone);
    EXPECT_NE(silent.Problem(ReportToneHz, LoopCheckDbfs).find("silent"), std::string::npos);
}

TEST(ReportJsonTest, FiguresNotMeasuredAndDigitalSilenceAreNull) {
    LoopbackReport report;
    report.distortion = {NAN, {}, NAN, NAN, NAN, NAN, {}, false};
    report.response.referenceDb = NAN;
    report.dynamicRangeDbA = NAN;
    report.digitalSilence = true;
    const std::string json = ReportJson(report, SixteenBitLimits(BlockSize));
    EXPECT_NE(json.find("\"dbfs\": null"), std::string::npos);
    EXPECT_NE(json.find("\"digital_silence\": true"), std::string::npos);
    EXPECT_NE(json.find("\"thd_n\": {\n    \"db\": null"), std::string::npos) << json;
    EXPECT_EQ(json.find("nan"), std::string::npos);
}

} // namespace
