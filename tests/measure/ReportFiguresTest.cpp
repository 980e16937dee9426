// The report's figures from synthetic blocks whose true values are known.
#include "dsp/FFT.h"
#include "dsp/SignalFormat.h"
#include "measure/BandPower.h"
#include "measure/Distortion.h"
#include "measure/LoopCheck.h"
#include "measure/LoopbackReport.h"
#include "measure/SweepPlan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>
#include <string>
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
    report.measured.set();
    const std::string json = ReportJson(report, SixteenBitLimits(BlockSize));
    EXPECT_NE(json.find("\"dbfs\": null"), std::string::npos);
    EXPECT_NE(json.find("\"digital_silence\": true"), std::string::npos);
    EXPECT_NE(json.find("\"thd_n\": {\n    \"db\": null"), std::string::npos) << json;
    EXPECT_EQ(json.find("nan"), std::string::npos);
}

// A server that resamples decides the response's top octave and adds its
// own products to the distortion curve: the report marks what it decides,
// and says what the server is.
TEST(ReportJsonTest, AResamplingServerMarksTheFiguresItDecides) {
    LoopbackReport report;
    report.method = ResponseMethod::SweptSine;
    report.distortionTable = {{1000, 0, 0, {-80.0, -90.0, std::nullopt, std::nullopt}, -79.6}};
    platform::ServerStreamPath stream;
    stream.stream = {"tembrix", 44100, "s16le", 1, "mono", 0, 100, false};
    stream.device = {"loop48", 48000, "s16le", 2, "front-left,front-right", 0, 100, false};
    stream.resampleMethod = "speex-float-1";
    platform::SoundServerAnswer answer;
    answer.outcome = platform::SoundServerAnswer::Outcome::Answered;
    answer.serverName = "pulseaudio";
    answer.serverVersion = "16.1";
    answer.playback = stream;
    report.audioPath = DescribeAudioPath(answer, 1, 0);
    ASSERT_TRUE(report.audioPath->resampling);

    const std::string table = ReportTable(report, SixteenBitLimits(BlockSize));
    EXPECT_NE(table.find("\nAudio path\n  PulseAudio 16.1, sink \"loop48\" 48000 Hz"),
              std::string::npos)
        << table;
    for (const char* line : {"deviation 20 Hz - 20 kHz", "-3 dB above", "at 1 kHz"}) {
        const std::size_t at = table.find("  " + std::string(line));
        ASSERT_NE(at, std::string::npos) << line;
        EXPECT_NE(table.substr(at, table.find('\n', at) - at).find("(resampled: "),
                  std::string::npos)
            << line;
    }
    EXPECT_EQ(table.find("deviation 40 Hz - 15 kHz          not measured   (resampled"),
              std::string::npos);
    const std::string json = ReportJson(report, SixteenBitLimits(BlockSize));
    EXPECT_NE(json.find("\"resampling\": true"), std::string::npos) << json;
    EXPECT_NE(json.find("\"resampled_figures\": [\"deviation_20_20k_db\", \"minus3db_high_hz\", "
                        "\"thd_vs_frequency\"]"),
              std::string::npos)
        << json;
}

// A stopped sweep's first points, or all of them, from the report's plan:
// flat at -20 dB but for a 2nd-order high-pass at 20 Hz.
struct StoppedSweep : ::testing::Test {
    const std::vector<double> plan = SweepPointFrequencies(BlockSize);
    LoopbackReport report;

    void SweepUpTo(double lastHz) {
        for (const double hz : plan)
            if (hz <= lastHz)
                report.points.push_back(
                    {hz, -20 - 10 * std::log10(1 + std::pow(20 / hz, 4)), -20, 0, 11});
        SummariseReportResponse(report, plan);
    }
    std::string Table() const { return ReportTable(report, SixteenBitLimits(BlockSize)); }
};

// The reference is the level at 1010.86 Hz; a figure re it is given only
// when every point it depends on was measured: below the reference all were,
// above it a deviation range needs its whole band and "not reached" the whole
// sweep.
TEST_F(StoppedSweep, GivesOnlyTheFiguresWhosePointsWereMeasured) {
    SweepUpTo(5000);
    ASSERT_TRUE(report.response.valid);
    EXPECT_NEAR(report.response.referenceHz, 1010.86, 0.005);
    EXPECT_NEAR(report.response.referenceDb, -20, 0.001);
    ASSERT_TRUE(report.response.minus3dbLowHz);
    EXPECT_NEAR(*report.response.minus3dbLowHz, 20, 1);
    EXPECT_FALSE(report.response.minus3dbHighHz);
    EXPECT_TRUE(std::isnan(report.narrowDeviationDb.first));
    EXPECT_TRUE(std::isnan(report.wideDeviationDb.second));
    const std::string table = Table();
    EXPECT_NE(table.find("stepped sweep, 80 of 99 points"), std::string::npos) << table;
    EXPECT_NE(table.find("deviation 40 Hz - 15 kHz          not measured\n"), std::string::npos);
    EXPECT_NE(table.find("-3 dB above                       not measured\n"), std::string::npos);

    report = {};
    SweepUpTo(17000);
    EXPECT_NEAR(report.narrowDeviationDb.first, -0.198, 0.001) << "at 43 Hz";
    EXPECT_NEAR(report.narrowDeviationDb.second, 0, 0.001);
    EXPECT_TRUE(std::isnan(report.wideDeviationDb.first));

    report = {};
    SweepUpTo(SweepEndFrequency);
    EXPECT_NEAR(report.wideDeviationDb.first, -2.418, 0.001) << "at 21.5 Hz";
    EXPECT_NE(Table().find("-3 dB above                       not reached\n"), std::string::npos);
}

// Stopped in the dynamic range: the figures measured before stand, and
// nothing of the parts after the stop is given, whatever their fields hold.
TEST_F(StoppedSweep, SaysWhatWasMeasuredAndGivesNullForTheRest) {
    SweepUpTo(SweepEndFrequency);
    report.SetMeasured(ReportPart::Response);
    report.distortion = {-1, {-90}, -90, -85, -86, -88, {}, false};
    report.SetMeasured(ReportPart::Distortion);
    report.dynamicRangeDbA = 0; // what an interrupted measurement might leave
    report.stopReason = "ended by SIGTERM";

    const std::string table = Table();
    EXPECT_NE(table.find("  stopped                           ended by SIGTERM\n"
                         "  measured                          loop check, frequency response, "
                         "distortion\n"
                         "  not measured                      dynamic range, noise\n"),
              std::string::npos)
        << table;
    EXPECT_NE(table.find("Dynamic range (997 Hz at -60 dBFS)\n  not measured\n"),
              std::string::npos);

    const std::string json = ReportJson(report, SixteenBitLimits(BlockSize));
    EXPECT_NE(json.find("\"complete\": false"), std::string::npos);
    EXPECT_NE(json.find("\"thd_n\": {\n    \"db\": -85"), std::string::npos) << json;
    EXPECT_NE(json.find("\"dynamic_range_db_a\": null"), std::string::npos);
    EXPECT_NE(json.find("\"digital_silence\": null"), std::string::npos);
}

} // namespace
