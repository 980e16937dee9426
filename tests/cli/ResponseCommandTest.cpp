// `tembrix response` as a user's shell runs it, judged by its CSV, its
// impulse response, its standard error and its exit status. On the virtual
// card (fast clock) the model states its own exact response and the card
// adds no fixed path of its own, so the figures are checked against it;
// through the shared sound server, against a bit-exact wire.
#include "tests/harness/ProcessRun.h"
#include "tests/harness/SoundServer.h"
#include "tests/harness/ToneLevel.h"

#include "measure/ResponseFrequencies.h"
#include "measure/ResultCsv.h"
#include "measure/SweepPlan.h"
#include "sim/DeviceModel.h"
#include "sim/VirtualCardSettings.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <sstream>
#include <thread>

using testing::HasSubstr;
using testing::StartsWith;

namespace {

using namespace std::chrono_literals;

constexpr int BlockSize = 8192;
constexpr double SampleRate = 44100;
const char* const QuietWire = "highpass=off,lowpass=off,noise=off,hum=off";

std::string NumberText(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.6g", value);
    return text;
}

DeviceModel CardWith(const std::string& settings) {
    DeviceModel model = DeviceModel::ConsumerCard();
    std::string error;
    EXPECT_TRUE(ApplyVirtualCardSettings(settings, model, error)) << error;
    return model;
}

SavedResponse Parsed(const std::string& csv) {
    SavedResponse response;
    std::string error;
    EXPECT_TRUE(ParseSavedResponse(csv, response, error)) << error << "\n" << csv.substr(0, 2000);
    EXPECT_EQ(response.kind, SavedResponse::Kind::SweptSine);
    return response;
}

// The numbers of a "# key: v1 v2 ..." comment line.
std::vector<double> CommentNumbers(const std::string& csv, const std::string& key) {
    const std::string start = "# " + key + ": ";
    const std::size_t at = csv.find("\n" + start);
    if (at == std::string::npos)
        return {};
    std::istringstream numbers(
        csv.substr(at + 1 + start.size(), csv.find('\n', at + 1) - at - 1 - start.size()));
    std::vector<double> values;
    for (double value; numbers >> value;)
        values.push_back(value);
    return values;
}

struct Response {
    ProcessEnd end;
    std::string csv;
};

// A fast, quiet response of the virtual card with these settings.
Response ResponseOf(const std::string& card, std::vector<std::string> more = {}) {
    std::vector<std::string> args{"response", "--audio=virtual", "--fast", "--quiet",
                                  "--virtual-card=" + card};
    args.insert(args.end(), more.begin(), more.end());
    Response response{RunTembrix(args), ""};
    response.csv = response.end.out;
    return response;
}

class IdealWireDelayTest : public testing::TestWithParam<int> {};

// Each recording of the run and their average: the card adds nothing to
// the wire's own latency.
TEST_P(IdealWireDelayTest, ReadsTheWiresLatencyExactly) {
    const int latency = GetParam();
    const Response run = ResponseOf(std::string(QuietWire) + ",latency=" + std::to_string(latency),
                                    {"--sweeps=2", "--length=2"});
    ASSERT_EQ(run.end.status, 0) << run.end.err;
    const SavedResponse response = Parsed(run.csv);
    ASSERT_TRUE(response.latencySamples);
    EXPECT_NEAR(*response.latencySamples, latency, 0.1);
    const std::vector<double> each = CommentNumbers(run.csv, "recording_latency_samples");
    ASSERT_EQ(each.size(), 2u) << run.csv.substr(0, 1200);
    for (double delay : each)
        EXPECT_NEAR(delay, latency, 0.1);
    EXPECT_EQ(CommentNumbers(run.csv, "sweeps"), std::vector<double>{2});
    RecordProperty("latency_samples", NumberText(*response.latencySamples));
}

// None, less than a block, and more than one, not a multiple of the block
// size or of the card's period.
INSTANTIATE_TEST_SUITE_P(Latencies, IdealWireDelayTest, testing::Values(0, 1000, 8191));

struct FilterCard {
    const char* name;
    const char* settings;
};

std::ostream& operator<<(std::ostream& out, const FilterCard& card) {
    return out << card.name;
}

class FilterCardTest : public testing::TestWithParam<FilterCard> {};

// Where the model's gain is above -40 dB, from 20 Hz to 20 kHz, at 24 rows
// per octave; the grid itself is 1 kHz times 2^(i / 24).
TEST_P(FilterCardTest, ReadsTheModelsGainWithinFiveHundredthsOfADecibel) {
    const std::string settings = std::string(GetParam().settings) + ",noise=off,hum=off";
    const Response run = ResponseOf(settings, {"--per-octave=24"});
    ASSERT_EQ(run.end.status, 0) << run.end.err;
    const SavedResponse response = Parsed(run.csv);
    const DeviceModel model = CardWith(settings);
    const std::vector<double> grid = PerOctaveFrequencies(24);
    ASSERT_EQ(response.swept.size(), grid.size());
    double worst = 0;
    int compared = 0;
    for (std::size_t i = 0; i < grid.size(); ++i) {
        const SweepResponsePoint& point = response.swept[i];
        EXPECT_EQ(point.frequencyHz, grid[i]);
        const double expected = model.ResponseDb(point.frequencyHz);
        if (point.frequencyHz < 20 || point.frequencyHz > 20000 || expected < -40)
            continue;
        ++compared;
        worst = std::max(worst, std::abs(point.gainDb - expected));
        EXPECT_NEAR(point.gainDb, expected, 0.05) << "at " << point.frequencyHz << " Hz";
    }
    EXPECT_GT(compared, 100);
    RecordProperty("largest_error_db", NumberText(worst));
}

INSTANTIATE_TEST_SUITE_P(
    Filters, FilterCardTest,
    testing::Values(FilterCard{"SecondOrder", "highpass=100/2,lowpass=10000/2,latency=0"},
                    FilterCard{"FourthOrderDelayed", "highpass=30/4,lowpass=15000/4,latency=3000"},
                    FilterCard{"FirstAndThirdOrder", "highpass=200/1,lowpass=5000/3,gain=-6"}),
    [](const auto& info) { return std::string(info.param.name); });

// The stepped sweep's level_db less its -20 dB tone against the swept sine's
// gain_db, row by row at the same 99 frequencies, on the default card with
// its noise and hum.
TEST(ResponseAgainstSweepTest, BothMethodsReadTheSameCardAlikeAtEachOfThe99Frequencies) {
    ScratchDirectory directory;
    const auto sweepCsv = directory / "sweep.csv";
    const ProcessEnd sweep =
        RunTembrix({"sweep", "--audio=virtual", "--fast", "--quiet", "--csv=" + sweepCsv.string()});
    ASSERT_EQ(sweep.status, 0) << sweep.err;
    const Response run = ResponseOf("gain=0");
    ASSERT_EQ(run.end.status, 0) << run.end.err;

    std::vector<ResponsePoint> stepped;
    std::string error;
    ASSERT_TRUE(ParseResponseCsv(ReadWholeFile(sweepCsv), stepped, error)) << error;
    const SavedResponse swept = Parsed(run.csv);
    ASSERT_EQ(stepped.size(), 99u);
    ASSERT_EQ(swept.swept.size(), 99u);
    double worst = 0;
    for (std::size_t i = 0; i < stepped.size(); ++i) {
        ASSERT_EQ(stepped[i].frequencyHz, swept.swept[i].frequencyHz);
        const double hz = stepped[i].frequencyHz;
        if (hz < 20 || hz > 20000)
            continue;
        const double difference = stepped[i].levelDb - Minus20dBToneDb - swept.swept[i].gainDb;
        worst = std::max(worst, std::abs(difference));
        EXPECT_NEAR(difference, 0, 0.1) << "at " << hz << " Hz";
    }
    RecordProperty("largest_difference_db", NumberText(worst));
}

// An input 300 ppm off the output's clock stretches each recording by 132
// samples over the default sweep, which would leave the phase hundreds of
// degrees out and the bass a tenth of a decibel: read onto the output's
// clock, the recordings give the card's response as with one clock.
TEST(ResponseDriftTest, AnInputOnAClockOfItsOwnReadsTheResponseOfOneClock) {
    const Response one = ResponseOf("noise=off", {"--per-octave=3"});
    const Response drifting = ResponseOf("noise=off,drift=300", {"--per-octave=3"});
    ASSERT_EQ(one.end.status, 0) << one.end.err;
    ASSERT_EQ(drifting.end.status, 0) << drifting.end.err;
    const SavedResponse expected = Parsed(one.csv);
    const SavedResponse read = Parsed(drifting.csv);
    ASSERT_EQ(read.swept.size(), expected.swept.size());
    double worstGain = 0, worstPhase = 0;
    for (std::size_t i = 0; i < read.swept.size(); ++i) {
        const double hz = read.swept[i].frequencyHz;
        if (hz < 20 || hz > 20000)
            continue;
        const double gain = read.swept[i].gainDb - expected.swept[i].gainDb;
        const double phase = read.swept[i].phaseDeg - expected.swept[i].phaseDeg;
        worstGain = std::max(worstGain, std::abs(gain));
        worstPhase = std::max(worstPhase, std::abs(phase));
        EXPECT_NEAR(gain, 0, 0.005) << "at " << hz << " Hz";
        EXPECT_NEAR(phase, 0, 0.1) << "at " << hz << " Hz";
    }
    RecordProperty("largest_gain_difference_db", NumberText(worstGain));
    RecordProperty("largest_phase_difference_deg", NumberText(worstPhase));
}

// The linear impulse response of a wire with latency L peaks at L samples
// after the sweep's start, at 1: every sample played came back.
TEST(ResponseFilesTest, TheImpulseResponseOfAWirePeaksAtItsLatencyAtFullHeight) {
    ScratchDirectory directory;
    const auto csv = directory / "response.csv";
    const auto impulse = directory / "impulse.csv";
    const ProcessEnd end = RunTembrix({"response", "--audio=virtual", "--fast", "--length=2",
                                       std::string("--virtual-card=") + QuietWire + ",latency=441",
                                       "--csv=" + csv.string(), "--impulse=" + impulse.string()});
    ASSERT_EQ(end.status, 0) << end.err;
    EXPECT_EQ(end.out, "");
    EXPECT_THAT(end.err, HasSubstr("for 2.31 s (2 s asked), 1 time\n"));
    EXPECT_THAT(end.err, HasSubstr("\nDelay: 441.0 samples (10.000 ms)\n"));
    EXPECT_THAT(end.err, HasSubstr("\nReference: 0.00 dB at 1010.86 Hz\n"));
    EXPECT_THAT(end.err, HasSubstr("\nDeviation 40 Hz - 15 kHz: "));
    EXPECT_THAT(end.err, HasSubstr("\nTHD at 1010.86 Hz: not measured (H2 not measured, "));
    EXPECT_EQ(Parsed(ReadWholeFile(csv)).swept.size(), 99u);

    const std::string text = ReadWholeFile(impulse);
    EXPECT_THAT(text, StartsWith("# tembrix "));
    std::istringstream lines(text.substr(text.find("time_s,amplitude\n") + 17));
    double peakTime = 0, peak = 0, previousTime = -1;
    int rows = 0;
    for (std::string line; std::getline(lines, line); ++rows) {
        double time = 0, amplitude = 0;
        const char* end = line.data() + line.size();
        const auto comma = std::from_chars(line.data(), end, time).ptr;
        ASSERT_EQ(*comma, ',') << line;
        ASSERT_EQ(std::from_chars(comma + 1, end, amplitude).ptr, end) << line;
        EXPECT_GT(time, previousTime);
        previousTime = time;
        if (std::abs(amplitude) > std::abs(peak)) {
            peak = amplitude;
            peakTime = time;
        }
    }
    EXPECT_GT(rows, 0.5 * SampleRate);
    EXPECT_EQ(peakTime, 441 / SampleRate);
    EXPECT_NEAR(peak, 1, 0.01);
}

// The recordings ask for no gap: a stream that dies during the first is
// opened again and the sweep played again, and the run goes on. In real time
// (about 4 s): on the fast clock the audio before the recording starts races
// ahead of the program, so the stream might die before the recording begins.
TEST(ResponseRecordingTest, ARecordingWithAGapIsMadeAgain) {
    const ProcessEnd end =
        // The drift's tone before the sweep takes the first 2.6 s of audio.
        RunTembrix({"response", "--audio=virtual", "--length=1", "--virtual-card=die-after=3.8"});
    ASSERT_EQ(end.status, 0) << end.err;
    EXPECT_THAT(end.err, HasSubstr("\nThe recording held a gap (a stream died and was opened "
                                   "again): sweeping again...\n"));
    EXPECT_EQ(CommentNumbers(end.out, "sweeps"), std::vector<double>{1});
}

struct Unanswered {
    const char* name;
    const char* card;
    const char* why;
};

std::ostream& operator<<(std::ostream& out, const Unanswered& unanswered) {
    return out << unanswered.name;
}

class UnansweredSweepTest : public testing::TestWithParam<Unanswered> {};

// Nothing measured is nothing written: no CSV, the reason and status 5.
TEST_P(UnansweredSweepTest, EndsWithStatusFiveAndWritesNothing) {
    const Response run = ResponseOf(GetParam().card);
    EXPECT_EQ(run.end.status, 5) << run.end.err;
    EXPECT_EQ(run.end.out, "");
    EXPECT_EQ(run.end.err,
              std::string("tembrix: the sweep did not come back: ") + GetParam().why + "\n");
}

INSTANTIATE_TEST_SUITE_P(Response, UnansweredSweepTest,
                         testing::Values(Unanswered{"SilentInput", "gain=-200,noise=off,hum=off",
                                                    "the input is silent"},
                                         Unanswered{"OnlyNoise", "gain=-200,noise=-60,hum=off",
                                                    "no impulse response stands out of the noise"}),
                         [](const auto& info) { return std::string(info.param.name); });

// In real time a one-second sweep takes about two: a SIGINT once the second
// has begun stops the run, which writes the first alone and says so.
TEST(ResponseRecordingTest, AStopSignalWritesTheAverageOfTheSweepsRecorded) {
    ScratchDirectory directory;
    const auto csv = directory / "response.csv";
    TembrixProcess run({"response", "--audio=virtual", "--length=1", "--sweeps=3",
                        std::string("--virtual-card=") + QuietWire, "--csv=" + csv.string()});
    ASSERT_TRUE(run.started());
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    while (run.ErrorSoFar().find("Sweep 2 of 3") == std::string::npos &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(20ms);
    run.Signal(SIGINT);
    const ProcessEnd end = run.Wait(30s);
    ASSERT_EQ(end.status, 130) << end.err;
    EXPECT_THAT(end.err, HasSubstr("\nAveraged 1 of 3 sweeps\n"));
    EXPECT_TRUE(end.err.ends_with("tembrix: interrupted by SIGINT\n")) << end.err;
    const std::string text = ReadWholeFile(csv);
    EXPECT_EQ(CommentNumbers(text, "sweeps"), std::vector<double>{1});
    EXPECT_EQ(Parsed(text).swept.size(), 99u);
}

} // namespace
