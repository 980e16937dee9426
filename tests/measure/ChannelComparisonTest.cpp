// Two input channels of one run, each recorded through a simulated device of
// its own with an exactly known response, the second analysed on the first
// channel's alignment as a two-channel run does.
#include "measure/ChannelComparison.h"

#include "dsp/SignalFormat.h"
#include "measure/ResponseFrequencies.h"
#include "sim/DeviceModel.h"
#include "tests/measure/SweepRecord.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <vector>

namespace {

struct TwoChannels {
    SweepResponse first, second;
};

// Recordings made while a sound server's delay shifts both channels alike by
// each of `serverDelays`; the second channel is read at its own peak when
// `secondDriven`, else at the first channel's.
TwoChannels MeasureBoth(DeviceModel first, DeviceModel second, bool secondDriven,
                        std::span<const std::size_t> serverDelays) {
    const SweepSignal sweep{SweepSettings{}};
    SweepAnalysis one(sweep), two(sweep);
    const std::size_t firstLatency = first.latencyFrames, secondLatency = second.latencyFrames;
    for (std::size_t delay : serverDelays) {
        first.latencyFrames = firstLatency + delay;
        second.latencyFrames = secondLatency + delay;
        ++first.noiseSeed;
        second.noiseSeed += 7;
        const SweepRecording driven = one.Add(Record(sweep, first, one.RecordingFrames()));
        EXPECT_EQ(driven.verdict, SweepRecording::Verdict::Found);
        two.AddAlignedTo(Record(sweep, second, two.RecordingFrames()), driven);
    }
    const auto frequencies = PerOctaveFrequencies(24);
    TwoChannels both{one.Analyse(frequencies), {}};
    both.second = secondDriven ? two.Analyse(frequencies)
                               : two.AnalyseAt(frequencies, both.first.delaySamples);
    return both;
}

const std::vector<std::size_t> ServerDelays{0, 300, 1234};

TEST(Crosstalk, AMinus70dBLeakReadsMinus70dBAt1kHz) {
    DeviceModel leak = DeviceModel::ConsumerCard();
    leak.gainDb = -70;
    const TwoChannels run = MeasureBoth(DeviceModel::ConsumerCard(), leak, false, ServerDelays);
    const Crosstalk crosstalk = CrosstalkOf(run.first, run.second);
    EXPECT_FALSE(crosstalk.digitalSilence);
    ASSERT_TRUE(crosstalk.at1kHzDb);
    EXPECT_NEAR(*crosstalk.at1kHzDb, -70, 0.5);
    std::printf("crosstalk at 1 kHz %.3f dB\n", *crosstalk.at1kHzDb);
    for (const SweepResponsePoint& p : crosstalk.points)
        if (p.frequencyHz >= 100 && p.frequencyHz <= 10000) {
            EXPECT_NEAR(p.gainDb, -70, 1) << p.frequencyHz;
            EXPECT_NEAR(p.phaseDeg, 0, 10) << p.frequencyHz;
        }
}

TEST(Crosstalk, ASilentChannelReadsAsDigitalSilence) {
    DeviceModel nothing = DeviceModel::IdealWire();
    nothing.gainDb = Off;
    const TwoChannels run = MeasureBoth(DeviceModel::ConsumerCard(), nothing, false, ServerDelays);
    const Crosstalk crosstalk = CrosstalkOf(run.first, run.second);
    EXPECT_TRUE(crosstalk.digitalSilence);
    EXPECT_FALSE(crosstalk.at1kHzDb);
    ASSERT_FALSE(crosstalk.points.empty());
    for (const SweepResponsePoint& p : crosstalk.points)
        EXPECT_EQ(p.gainDb, -std::numeric_limits<double>::infinity()) << p.frequencyHz;
    EXPECT_EQ(CrosstalkFigureText(crosstalk), "digital silence");
}

// Right is 0.3 dB quieter and two samples later than left.
TEST(ChannelMatchTest, ChannelsAFractionOfADecibelApartReadTheirDifferenceAndSkew) {
    DeviceModel right = DeviceModel::ConsumerCard();
    right.gainDb = -0.3;
    right.latencyFrames += 2;
    const TwoChannels run = MeasureBoth(DeviceModel::ConsumerCard(), right, true, ServerDelays);
    const ChannelMatch match = MatchChannels(run.first, run.second);
    ASSERT_TRUE(match.at1kHzDb && match.lowestDb && match.highestDb);
    EXPECT_NEAR(*match.at1kHzDb, 0.30, 0.02);
    EXPECT_NEAR(*match.lowestDb, 0.30, 0.02);
    EXPECT_NEAR(*match.highestDb, 0.30, 0.02);
    EXPECT_LT(*match.RangeDb(), 0.04);
    std::printf("match at 1 kHz %.4f dB, %.4f to %.4f dB\n", *match.at1kHzDb, *match.lowestDb,
                *match.highestDb);
    ASSERT_FALSE(match.phase.empty());
    for (const PhaseDifference& p : match.phase) {
        const double skew = std::remainder(360 * p.frequencyHz * 2 / SampleRate, 360.0);
        EXPECT_NEAR(std::remainder(p.degrees - skew, 360.0), 0, 0.5) << p.frequencyHz;
        EXPECT_GT(p.degrees, -180);
        EXPECT_LE(p.degrees, 180);
    }
}

// Two different filters, gains and delays: the ratio is theirs.
TEST(ReferenceChannel, ReadsTheRatioOfTwoKnownDevicesAndTheDifferenceOfTheirDelays) {
    DeviceModel measured = DeviceModel::ConsumerCard();
    measured.gainDb = -3;
    measured.highPass = {40, 1};
    measured.lowPass = {15000, 2};
    measured.latencyFrames = 64 + 137;
    const DeviceModel reference = DeviceModel::ConsumerCard();
    const TwoChannels run = MeasureBoth(measured, reference, true, ServerDelays);
    const SweptSineRatio ratio = SweptSineRatioOf(run.first, run.second);

    // The filters' own peaks lie a little after their latencies, alike in
    // each channel measured alone.
    const TwoChannels alone = MeasureBoth(measured, reference, true, std::vector<std::size_t>{0});
    EXPECT_NEAR(ratio.delaySamples, alone.first.delaySamples - alone.second.delaySamples, 0.02);
    EXPECT_NEAR(ratio.delaySamples, 137, 3);

    double gain = 0, phase = 0;
    for (const SweepResponsePoint& p : ratio.points) {
        const double f = p.frequencyHz;
        if (f < 20 || f > 20000)
            continue;
        gain =
            std::max(gain, std::abs(p.gainDb - measured.ResponseDb(f) + reference.ResponseDb(f)));
        // The phase with the ratio's delay put back is the devices' own.
        const double latencies = 360 * f * 137 / SampleRate;
        const double expected = measured.PhaseDeg(f) - reference.PhaseDeg(f) - latencies;
        const double read = p.phaseDeg - 360 * f * ratio.delaySamples / SampleRate;
        if (f >= 40 && f <= 15000)
            phase = std::max(phase, std::abs(std::remainder(read - expected, 360.0)));
    }
    EXPECT_LT(gain, 0.05);
    EXPECT_LT(phase, 1.0);
    std::printf("ratio: delay %.4f samples, gain %.4f dB, phase %.3f deg\n", ratio.delaySamples,
                gain, phase);
}

ResponsePoint Stepped(double hz, double levelDb, double windowGainDb = -1, int blocks = 5) {
    return {hz, levelDb, levelDb + windowGainDb, windowGainDb, blocks};
}

TEST(ReferenceChannel, SteppedPointsAreComparedAtTheFrequenciesBothHold) {
    const std::vector<ResponsePoint> measured{Stepped(100, -10, -1), Stepped(200, -11, -2, 4),
                                              Stepped(400, -12)};
    const std::vector<ResponsePoint> reference{Stepped(100, -4, -3), Stepped(300, -4),
                                               Stepped(400, -5)};
    const std::vector<ResponsePoint> ratio = SteppedRatio(measured, reference);
    ASSERT_EQ(ratio.size(), 2u);
    EXPECT_EQ(ratio[0].frequencyHz, 100);
    EXPECT_EQ(ratio[0].levelDb, -6);
    EXPECT_EQ(ratio[0].levelDb, ratio[0].peakDb - ratio[0].windowGainDb);
    EXPECT_EQ(ratio[1].frequencyHz, 400);
    EXPECT_EQ(ratio[1].levelDb, -7);
}

TEST(ChannelMatchTest, SteppedLevelsAreInterpolatedAt1kHzAndRangedOverTheAudioBand) {
    const std::vector<ResponsePoint> left{Stepped(10, 5),      Stepped(100, 0.2),
                                          Stepped(800, 0.3),   Stepped(1250, 0.4),
                                          Stepped(20000, 0.5), Stepped(21000, 9)};
    std::vector<ResponsePoint> right = left;
    for (ResponsePoint& p : right)
        p.levelDb = 0;
    const ChannelMatch match = MatchChannels(left, right);
    ASSERT_TRUE(match.at1kHzDb);
    // 1 kHz lies halfway from 800 Hz to 1250 Hz on a log axis.
    EXPECT_NEAR(*match.at1kHzDb, 0.35, 1e-12);
    EXPECT_EQ(match.lowestDb, 0.2);
    EXPECT_EQ(match.highestDb, 0.5);
    EXPECT_TRUE(match.phase.empty());
    EXPECT_EQ(ChannelMatchText(match),
              "Channel match at 1 kHz: 0.35 dB (left - right); 20 Hz - 20 kHz: 0.20 to 0.50 dB\n");
}

TEST(ChannelComparisonText, SaysWhatWasNotMeasured) {
    Crosstalk measured{{}, false, -70.04};
    Crosstalk silent{{}, true, std::nullopt};
    EXPECT_EQ(CrosstalkText(measured, silent),
              "Crosstalk at 1 kHz: left to right -70.0 dB, right to left digital silence\n");
    EXPECT_EQ(CrosstalkFigureText(Crosstalk{{}, false, std::nullopt}), "not measured");
    // No point above 1 kHz: nothing to interpolate.
    const ChannelMatch none = MatchChannels(std::vector<ResponsePoint>{Stepped(10, 1)},
                                            std::vector<ResponsePoint>{Stepped(10, 0)});
    EXPECT_EQ(ChannelMatchText(none),
              "Channel match at 1 kHz: not measured; 20 Hz - 20 kHz: not measured\n");
}

} // namespace
