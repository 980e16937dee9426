// Runs of two input channels as a user's shell runs them: each channel's
// response, the crosstalk each way, the channel match and a channel measured
// re a reference channel, on the virtual card (fast clock), whose model
// states each channel's exact response and its crosstalk; and through the
// shared sound server, whose null sink is a bit-exact stereo wire.
#include "tests/harness/ProcessRun.h"
#include "tests/harness/SoundServer.h"

#include "measure/ResultCsv.h"
#include "sim/DeviceModel.h"
#include "sim/VirtualCardSettings.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <sstream>

namespace {

using namespace std::chrono_literals;

// One channel of a two-channel response file, as a one-channel file: its
// comments, the header without the channel column, and its own rows.
SavedResponse ChannelOf(const std::string& csv, const std::string& channel) {
    std::istringstream lines(csv);
    std::string single;
    for (std::string line; std::getline(lines, line);) {
        if (line.starts_with("#"))
            single += line + "\n";
        else if (line.starts_with("channel,"))
            single += line.substr(8) + "\n";
        else if (line.starts_with(channel + ","))
            single += line.substr(channel.size() + 1) + "\n";
    }
    SavedResponse response;
    std::string error;
    EXPECT_TRUE(ParseSavedResponse(single, response, error)) << error << "\n"
                                                             << single.substr(0, 1500);
    return response;
}

// The gains of a crosstalk's rows, which hold -inf where nothing crossed
// over and so are no response file's.
std::vector<double> CrosstalkGains(const std::string& csv, const std::string& way) {
    std::vector<double> gains;
    std::istringstream lines(csv);
    for (std::string line; std::getline(lines, line);)
        if (line.starts_with(way + ",")) {
            const std::size_t gain = line.find(',', way.size() + 1) + 1;
            gains.push_back(std::stod(line.substr(gain, line.find(',', gain) - gain)));
        }
    return gains;
}

double GainAt(const SavedResponse& response, double hz) {
    for (const SweepResponsePoint& point : response.swept)
        if (point.frequencyHz == hz)
            return point.gainDb;
    ADD_FAILURE() << "no row at " << hz << " Hz";
    return NAN;
}

ProcessEnd Response(const std::string& card, std::vector<std::string> more) {
    std::vector<std::string> args{"response", "--audio=virtual", "--fast",
                                  "--quiet",  "--per-octave=3",  "--virtual-card=" + card};
    args.insert(args.end(), more.begin(), more.end());
    return RunTembrix(args);
}

// Crosstalk is the silent input re the driven one; the model leaks each
// output's device signal into the other input at exactly the level set.
// Without a leak the silent input holds the card's noise alone: read at one
// frequency it lies about 104 dB down, a few decibels either way with where
// the noise falls against the sweep, so the bound leaves it room.
TEST(TwoChannelTest, CrosstalkReadsTheLeakSetEachWayAndNoneBelowTheNoise) {
    const ProcessEnd leaky = Response("crosstalk=-70", {"--channels=2"});
    ASSERT_EQ(leaky.status, 0) << leaky.err;
    const ProcessEnd apart = Response("gain=0", {"--channels=2"});
    ASSERT_EQ(apart.status, 0) << apart.err;
    for (const char* way : {"left_to_right", "right_to_left"}) {
        EXPECT_NEAR(GainAt(ChannelOf(leaky.out, way), 1000), -70, 0.5) << way;
        EXPECT_LT(GainAt(ChannelOf(apart.out, way), 1000), -90) << way;
    }
}

// The gain each channel reads is its own, and so is the difference.
TEST(TwoChannelTest, ChannelsSetAFractionOfADecibelApartReadThatFarApart) {
    const ProcessEnd run = Response("right.gain=-0.3", {"--channels=2"});
    ASSERT_EQ(run.status, 0) << run.err;
    const double difference =
        GainAt(ChannelOf(run.out, "left"), 1000) - GainAt(ChannelOf(run.out, "right"), 1000);
    EXPECT_NEAR(difference, 0.3, 0.02);
}

// The left channel through a device, the right a different one standing for
// the card's own path: the result is their ratio, frequency by frequency,
// and its delay the difference of their delays as each reads alone.
TEST(TwoChannelTest, AReferenceChannelLeavesTheRatioOfTheTwoDevicesAndTheirDelayDifference) {
    const std::string left = "highpass=50/2,lowpass=8000/4,latency=300";
    const std::string right = "highpass=20/2,lowpass=15000/2,latency=64";
    const std::string quiet = "noise=off,hum=off,";
    const ProcessEnd run = RunTembrix(
        {"response", "--audio=virtual", "--fast", "--quiet", "--per-octave=12", "--reference=2",
         "--virtual-card=" + quiet + "left.highpass=50/2,left.lowpass=8000/4,left.latency=300," +
             "right.lowpass=15000/2"});
    ASSERT_EQ(run.status, 0) << run.err;
    SavedResponse ratio;
    std::string error;
    ASSERT_TRUE(ParseSavedResponse(run.out, ratio, error)) << error;

    DeviceModel leftModel = DeviceModel::ConsumerCard(), rightModel = leftModel;
    ASSERT_TRUE(ApplyVirtualCardSettings(quiet + left, leftModel, error)) << error;
    ASSERT_TRUE(ApplyVirtualCardSettings(quiet + right, rightModel, error)) << error;
    int compared = 0;
    for (const SweepResponsePoint& point : ratio.swept) {
        const double expected =
            leftModel.ResponseDb(point.frequencyHz) - rightModel.ResponseDb(point.frequencyHz);
        if (point.frequencyHz < 20 || point.frequencyHz > 20000 || expected < -40)
            continue;
        ++compared;
        EXPECT_NEAR(point.gainDb, expected, 0.05) << "at " << point.frequencyHz << " Hz";
    }
    EXPECT_GT(compared, 100);

    const auto aloneDelay = [](const std::string& card) {
        const ProcessEnd alone = Response("noise=off,hum=off," + card, {});
        SavedResponse response;
        std::string error;
        EXPECT_TRUE(ParseSavedResponse(alone.out, response, error)) << error << alone.err;
        return response.latencySamples.value_or(NAN);
    };
    ASSERT_TRUE(ratio.latencySamples);
    EXPECT_NEAR(*ratio.latencySamples, aloneDelay(left) - aloneDelay(right), 0.1);
}

// The stepped sweep and the spectrum measure both inputs from the same
// blocks; with a reference the sweep's rows are one channel's, re it.
TEST(TwoChannelTest, TheSpectrumAndTheSteppedSweepGiveEachChannelItsOwnLevels) {
    const ProcessEnd spectrum =
        RunTembrix({"spectrum", "--audio=virtual", "--fast", "--channels=2", "--tone=1000",
                    "--blocks=4", "--virtual-card=right.gain=-6"});
    ASSERT_EQ(spectrum.status, 0) << spectrum.err;
    const auto peak = [&](const std::string& channel) {
        double highest = -400;
        std::istringstream lines(spectrum.out);
        for (std::string line; std::getline(lines, line);)
            if (line.starts_with(channel + ","))
                highest = std::max(highest, std::stod(line.substr(line.rfind(',') + 1)));
        return highest;
    };
    EXPECT_NEAR(peak("left") - peak("right"), 6, 0.01);

    const ProcessEnd sweep =
        RunTembrix({"sweep", "--audio=virtual", "--fast", "--quiet", "--reference=1",
                    "--virtual-card=noise=off,hum=off,right.gain=-3,right.lowpass=off"});
    ASSERT_EQ(sweep.status, 0) << sweep.err;
    std::vector<ResponsePoint> points;
    std::string error;
    ASSERT_TRUE(ParseResponseCsv(sweep.out, points, error)) << error << sweep.out.substr(0, 800);
    ASSERT_EQ(points.size(), 99u);
    DeviceModel leftModel = DeviceModel::ConsumerCard(), rightModel = leftModel;
    ASSERT_TRUE(ApplyVirtualCardSettings("gain=-3,lowpass=off", rightModel, error));
    for (const ResponsePoint& point : points) {
        if (point.frequencyHz < 20 || point.frequencyHz > 15000)
            continue;
        const double expected =
            rightModel.ResponseDb(point.frequencyHz) - leftModel.ResponseDb(point.frequencyHz);
        EXPECT_NEAR(point.levelDb, expected, 0.1) << "at " << point.frequencyHz << " Hz";
    }
}

// The null sink that .ci/pulse-start loops back is a bit-exact stereo wire
// that keeps its channels apart: each channel reads it flat, in gain and in
// phase once its delay is taken out, the two alike and nothing crossing
// over. Each recording is aligned on its own peak before the average, but a
// delay that moves between them means a device layer that does not know
// where its input stands against its output.
TEST(ResponseSystemCardTest, TwoChannelsReadTheRealLoopBackFlatAlikeAndApart) {
    REQUIRE_SOUND_SERVER(soundServerReachable(), NoSoundServer);
    SoundServerTurn turn;
    const auto started = std::chrono::steady_clock::now();
    // One sweep of 3 s, the shortest that still reads the harmonics: the
    // server's loop-back is digital, so averaging would add nothing.
    const ProcessEnd end =
        RunTembrix({"response", "--audio=system", "--channels=2", "--sweeps=1", "--length=3"}, 90s);
    const auto took = std::chrono::duration<double>(std::chrono::steady_clock::now() - started);
    ASSERT_EQ(end.status, 0) << end.err;
    const SavedResponse left = ChannelOf(end.out, "left");
    const SavedResponse right = ChannelOf(end.out, "right");
    ASSERT_EQ(left.swept.size(), 99u);
    ASSERT_EQ(right.swept.size(), 99u);
    double worstGain = 0, worstPhase = 0, worstMatch = 0;
    for (std::size_t i = 0; i < left.swept.size(); ++i) {
        const double hz = left.swept[i].frequencyHz;
        if (hz < 20 || hz > 20000)
            continue;
        for (const SavedResponse* channel : {&left, &right}) {
            const SweepResponsePoint& point = channel->swept[i];
            worstGain = std::max(worstGain, std::abs(point.gainDb));
            worstPhase = std::max(worstPhase, std::abs(point.phaseDeg));
            EXPECT_NEAR(point.gainDb, 0, 0.05) << "at " << hz << " Hz";
            EXPECT_NEAR(point.phaseDeg, 0, 1) << "at " << hz << " Hz";
        }
        const double match = left.swept[i].gainDb - right.swept[i].gainDb;
        worstMatch = std::max(worstMatch, std::abs(match));
        EXPECT_NEAR(match, 0, 0.05) << "at " << hz << " Hz";
    }
    for (const char* way : {"left_to_right", "right_to_left"}) {
        const std::vector<double> crossed = CrosstalkGains(end.out, way);
        EXPECT_EQ(crossed.size(), 99u) << way;
        for (double gain : crossed)
            EXPECT_LT(gain, -120) << way;
    }
    EXPECT_NE(end.err.find("Crosstalk at 1 kHz: left to right digital silence, right to left "
                           "digital silence"),
              std::string::npos)
        << end.err;

    RecordProperty("largest_gain_db", std::to_string(worstGain));
    RecordProperty("largest_phase_deg", std::to_string(worstPhase));
    RecordProperty("largest_channel_difference_db", std::to_string(worstMatch));
    RecordProperty("seconds", std::to_string(took.count()));
}

} // namespace
