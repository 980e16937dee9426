// The command line as a user's shell runs it: tembrix in its own process,
// without a display, judged by its CSV, its standard error and its exit
// status. The virtual card's model states its own response, so the numbers
// are checked against it.
#include "tests/harness/ProcessRun.h"
#include "tests/harness/SoundServer.h"
#include "tests/harness/TestPaths.h"

#include "dsp/FFT.h"
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
#include <memory>
#include <sstream>
#include <thread>

using testing::HasSubstr;
using testing::StartsWith;

namespace {

using namespace std::chrono_literals;

constexpr int BlockSize = 8192;
constexpr double SampleRate = 44100;
// The tone as the level buttons set it, re a full-scale sine.
const double ZeroDbToneDb = 20 * std::log10(32767.0 / 32768);
const double Minus20dBToneDb = 20 * std::log10(6554.0 / 65536 * 32767 / 32768);
// The window's start tone, which the spectrum plays by default.
constexpr double StartToneHz = SampleRate / 32.5;

std::string NumberText(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.6g", value);
    return text;
}

DeviceModel CardWith(const char* settings) {
    DeviceModel model = DeviceModel::ConsumerCard();
    std::string error;
    EXPECT_TRUE(ApplyVirtualCardSettings(settings, model, error)) << error;
    return model;
}

std::vector<ResponsePoint> ParseResponse(const std::string& csv) {
    std::vector<ResponsePoint> points;
    std::string error;
    EXPECT_TRUE(ParseResponseCsv(csv, points, error)) << error;
    return points;
}

// The lines after the header, without their '\n'.
std::vector<std::string> RowLines(const std::string& csv) {
    std::vector<std::string> rows;
    std::istringstream lines(csv);
    bool headerSeen = false;
    for (std::string line; std::getline(lines, line);) {
        if (headerSeen)
            rows.push_back(line);
        else if (line.starts_with("frequency_hz,"))
            headerSeen = true;
    }
    return rows;
}

// Every point where the sweep measures, at the level that the model's exact
// response gives the -20 dB tone.
void ExpectResponseOf(const DeviceModel& model, const std::vector<ResponsePoint>& points,
                      std::size_t count, double toleranceDb = 0.05) {
    ASSERT_EQ(points.size(), count);
    const std::vector<double> frequencies = SweepPointFrequencies(BlockSize);
    double largest = 0;
    for (std::size_t i = 0; i < points.size(); ++i) {
        EXPECT_EQ(points[i].frequencyHz, frequencies[i]) << "point " << i + 1;
        const double expected = model.ResponseDb(frequencies[i]) + Minus20dBToneDb;
        largest = std::max(largest, std::fabs(points[i].levelDb - expected));
        EXPECT_NEAR(points[i].levelDb, expected, toleranceDb) << "at " << frequencies[i] << " Hz";
    }
    testing::Test::RecordProperty("largest_error_db", NumberText(largest));
}

// The level of the start tone's bin, less the window's own gain at the tone's
// offset from it: the tone's level when the spectrum is right.
double StartToneLevelDb(const std::string& csv) {
    std::vector<double> levels;
    const std::vector<std::string> rows = RowLines(csv);
    for (std::size_t k = 0; k < rows.size(); ++k) {
        const std::string& row = rows[k];
        const std::size_t comma = row.find(',');
        double frequency = 0, level = 0;
        std::from_chars(row.data(), row.data() + comma, frequency);
        const auto read = std::from_chars(row.data() + comma + 1, row.data() + row.size(), level);
        EXPECT_EQ(frequency, k * SampleRate / BlockSize) << "row " << k;
        EXPECT_EQ(read.ptr, row.data() + row.size()) << "row " << k << ": " << row;
        levels.push_back(level);
    }
    EXPECT_EQ(levels.size(), BlockSize / 2u);
    const double position = StartToneHz * BlockSize / SampleRate;
    const int bin = static_cast<int>(std::lround(position));
    if (levels.size() <= static_cast<std::size_t>(bin))
        return NAN;
    CFFT fft;
    fft.InitWindow(13, CFFT::QuasiChebyshev);
    return levels[bin] - fft.WindowGainDb(position - bin);
}

// Waits until the CSV that a run writes holds at least one row.
bool WaitForFirstRow(const std::filesystem::path& csv, std::chrono::seconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
        for (const std::string& row : RowLines(ReadWholeFile(csv)))
            if (!row.empty())
                return true;
        std::this_thread::sleep_for(50ms);
    }
    return false;
}

const char* const FilteredCard = "highpass=100/2,lowpass=10000/2,noise=off,hum=off,latency=0";

TEST(CommandLineSweepTest, AFastSweepOfAFilteredCardWritesItsOwnResponseToTheFile) {
    ScratchDirectory directory;
    const auto csv = directory / "response.csv";
    const ProcessEnd end =
        RunTembrix({"sweep", "--audio=virtual", "--fast",
                    std::string("--virtual-card=") + FilteredCard, "--csv=" + csv.string()});
    ASSERT_EQ(end.status, 0) << end.err;
    EXPECT_EQ(end.out, "");
    EXPECT_THAT(end.err, HasSubstr("point 99/99: "));
    EXPECT_THAT(end.err, HasSubstr("\nReference: -20.00 dB at 1010.86 Hz\n"));
    EXPECT_THAT(end.err, HasSubstr("\nLargest deviation 20 Hz - 20 kHz: "));
    EXPECT_THAT(end.err, HasSubstr("\n-3 dB: "));
    const std::size_t drift = end.err.find("\nClock drift: ");
    ASSERT_NE(drift, std::string::npos) << end.err;
    EXPECT_NEAR(std::stod(end.err.substr(drift + 14)), 0, 0.5) << end.err;

    const std::string text = ReadWholeFile(csv);
    const std::vector<ResponsePoint> points = ParseResponse(text);
    ExpectResponseOf(CardWith(FilteredCard), points, 99);
    // Read back and written again, every row is the same line: the numbers
    // round-trip.
    const std::vector<std::string> rows = RowLines(text);
    ASSERT_EQ(rows.size(), points.size());
    for (std::size_t i = 0; i < rows.size(); ++i)
        EXPECT_EQ(ResponseRow(points[i]), rows[i] + "\n");
}

TEST(CommandLineSweepTest, QuietWithoutAFileWritesTheCsvAloneToStandardOutput) {
    const ProcessEnd end = RunTembrix({"sweep", "--audio=virtual", "--fast", "--quiet"});
    ASSERT_EQ(end.status, 0) << end.err;
    EXPECT_EQ(end.err, "");
    EXPECT_THAT(end.out, StartsWith("# tembrix "));
    ExpectResponseOf(DeviceModel::ConsumerCard(), ParseResponse(end.out), 99);
}

// Standard error's stream writes through a filter that keeps the audio
// libraries' lines off descriptor 2; a terminal there still gets the bar.
TEST(CommandLineSweepTest, OnATerminalTheProgressIsABarRewrittenInPlace) {
    ScratchDirectory directory;
    const std::string command =
        std::string("script -qec '") + TEMBRIX_EXECUTABLE +
        " sweep --audio=virtual --fast --csv=" + (directory / "response.csv").string() +
        "' /dev/null </dev/null";
    FILE* terminal = ::popen(command.c_str(), "r");
    ASSERT_NE(terminal, nullptr);
    std::string shown;
    char buffer[4096];
    for (std::size_t read; (read = std::fread(buffer, 1, sizeof buffer, terminal)) > 0;)
        shown.append(buffer, read);
    EXPECT_EQ(::pclose(terminal), 0) << shown;
    EXPECT_THAT(shown, HasSubstr("\r[------------------------------]  1/99 "));
    EXPECT_THAT(shown, HasSubstr("\r[##############################] 99/99 "));
}

// Above the low-pass the tone sinks below the hum, and every block there has
// a noise line: the sweep cannot go on, and says where it stopped.
TEST(CommandLineSweepTest, APointNotMeasuredInTimeEndsTheSweepWithWhatWasMeasured) {
    ScratchDirectory directory;
    const auto csv = directory / "response.csv";
    const char* const card = "lowpass=1000/8,hum=50/-50,noise=off";
    const ProcessEnd end =
        RunTembrix({"sweep", "--audio=virtual", "--fast", std::string("--virtual-card=") + card,
                    "--point-timeout=10", "--csv=" + csv.string()});
    ASSERT_EQ(end.status, 3) << end.err;
    EXPECT_THAT(end.err, HasSubstr("\nThere are noise lines.\n"));

    const std::vector<ResponsePoint> points = ParseResponse(ReadWholeFile(csv));
    ASSERT_GT(points.size(), 0u);
    ASSERT_LT(points.size(), 99u);
    // Near 50 Hz the hum, 30 dB below the tone, adds up to 0.27 dB to it.
    ExpectResponseOf(CardWith(card), points, points.size(), 0.3);
    const double stuckAt = SweepPointFrequencies(BlockSize)[points.size()];
    EXPECT_THAT(end.err, HasSubstr("tembrix: no point at " + NumberText(stuckAt) +
                                   " Hz within 10 s of audio; " + std::to_string(points.size()) +
                                   " points measured\n"));
}

// In real time a point takes about two seconds; each signal comes once the
// first is written. All the runs at once, to take that time only once.
TEST(CommandLineSweepTest, AStopSignalEndsARealTimeSweepWithWhatWasMeasured) {
    struct Stop {
        int signal;
        int status;
        const char* message;
    };
    const Stop stops[] = {{SIGTERM, 143, "tembrix: ended by SIGTERM\n"},
                          {SIGINT, 130, "tembrix: interrupted by SIGINT\n"},
                          {SIGHUP, 129, "tembrix: ended by SIGHUP\n"}};
    ScratchDirectory directory;
    std::vector<std::filesystem::path> files;
    std::vector<std::unique_ptr<TembrixProcess>> runs;
    for (const Stop& stop : stops) {
        files.push_back(directory / (std::to_string(stop.signal) + ".csv").c_str());
        runs.push_back(std::make_unique<TembrixProcess>(std::vector<std::string>{
            "sweep", "--audio=virtual", "--csv=" + files.back().string()}));
        ASSERT_TRUE(runs.back()->started());
    }
    for (std::size_t i = 0; i < runs.size(); ++i) {
        SCOPED_TRACE(stops[i].message);
        ASSERT_TRUE(WaitForFirstRow(files[i], 60s));
        runs[i]->Signal(stops[i].signal);
    }
    for (std::size_t i = 0; i < runs.size(); ++i) {
        SCOPED_TRACE(stops[i].message);
        const ProcessEnd end = runs[i]->Wait(60s);
        EXPECT_EQ(end.signal, 0);
        EXPECT_EQ(end.status, stops[i].status) << end.err;
        EXPECT_THAT(end.err, HasSubstr(stops[i].message));
        const std::vector<ResponsePoint> points = ParseResponse(ReadWholeFile(files[i]));
        EXPECT_GE(points.size(), 1u);
        EXPECT_LT(points.size(), 99u);
    }
}

struct BadUsage {
    const char* name;
    std::vector<std::string> args;
};

std::ostream& operator<<(std::ostream& out, const BadUsage& usage) {
    return out << usage.name;
}

class BadUsageTest : public testing::TestWithParam<BadUsage> {};

// Nothing is opened: no CSV comment lines, and for the system card nothing
// reaches a sound server, so a refusal never waits for one.
TEST_P(BadUsageTest, IsRefusedWithOneLineBeforeAnythingIsOpened) {
    const ProcessEnd end = RunTembrix(GetParam().args, 30s);
    EXPECT_FALSE(end.killedAfterLimit);
    EXPECT_EQ(end.status, 2);
    EXPECT_EQ(end.out, "");
    EXPECT_THAT(end.err, StartsWith("tembrix: "));
    EXPECT_EQ(std::count(end.err.begin(), end.err.end(), '\n'), 1) << end.err;
    EXPECT_TRUE(end.err.ends_with('\n')) << end.err;
}

INSTANTIATE_TEST_SUITE_P(
    CommandLine, BadUsageTest,
    testing::Values(
        BadUsage{"SweepLevelNotOffered", {"sweep", "--level=-7"}},
        BadUsage{"ToneNotANumber", {"spectrum", "--tone=nan"}},
        BadUsage{"ToneAboveTheRange", {"spectrum", "--tone=30000"}},
        BadUsage{"NoBlocks", {"spectrum", "--blocks=0"}},
        BadUsage{"FastClockOfTheSystemCard", {"sweep", "--fast"}},
        BadUsage{"UnknownOption", {"sweep", "--bogus"}},
        BadUsage{"ExtraArgument", {"sweep", "extra"}},
        BadUsage{"CornerAboveHalfTheRate", {"--audio=virtual", "--virtual-card=lowpass=30000/2"}},
        BadUsage{"SpectrumLevelNotOffered", {"spectrum", "--level=3"}},
        BadUsage{"NoInputChannelZero", {"sweep", "--input-channel=0"}},
        BadUsage{"DeviceOfTheVirtualCard", {"--audio=virtual", "--output=1"}},
        BadUsage{"ResponseLevelBelowTheRange", {"response", "--level=-70"}},
        BadUsage{"ResponseLevelAboveFullScale", {"response", "--level=1"}},
        BadUsage{"ResponseTooShort", {"response", "--length=0.5"}},
        BadUsage{"ResponseNoSweep", {"response", "--sweeps=0"}},
        BadUsage{"ResponseTooDense", {"response", "--per-octave=97"}},
        BadUsage{"ResponseHasNoWindow", {"response", "--window=rectangle"}},
        BadUsage{"ResponseNoImpulseFile", {"response", "--impulse="}},
        BadUsage{"SteppedOutsideTheReport", {"response", "--stepped"}},
        BadUsage{"LengthOutsideTheResponse", {"sweep", "--length=6"}},
        BadUsage{"ThreeChannels", {"response", "--channels=3"}},
        BadUsage{"ReferenceWithOneChannel", {"report", "--reference=1", "--channels=1"}},
        BadUsage{"InputChannelOfTwo", {"sweep", "--channels=2", "--input-channel=2"}},
        BadUsage{"SpectrumHasNoReference", {"spectrum", "--reference=2"}},
        BadUsage{"TheWindowHasOneChannel", {"--channels=2"}}),
    [](const auto& info) { return std::string(info.param.name); });

struct Help {
    const char* name;
    std::vector<std::string> args;
    std::vector<const char*> options;
};

std::ostream& operator<<(std::ostream& out, const Help& help) {
    return out << help.name;
}

class HelpTest : public testing::TestWithParam<Help> {};

TEST_P(HelpTest, ListsTheOptionsAndEveryExitStatus) {
    const ProcessEnd end = RunTembrix(GetParam().args, 30s);
    EXPECT_EQ(end.status, 0);
    EXPECT_EQ(end.err, "");
    for (const char* option : GetParam().options)
        EXPECT_THAT(end.out, HasSubstr(option));
    EXPECT_THAT(end.out, HasSubstr("\nExit status"));
    for (int status : {0, 1, 2, 3, 4, 5, 129, 130, 143})
        EXPECT_THAT(end.out, HasSubstr("\n  " + std::to_string(status) + " ")) << status;
}

INSTANTIATE_TEST_SUITE_P(
    CommandLine, HelpTest,
    testing::Values(Help{"Window",
                         {"--help"},
                         {"--audio=", "--virtual-card=", "--list-devices", "--input=DEV",
                          "--output=DEV", "--input-channel=N", "--verbose", "--help", "sweep"}},
                    Help{"Sweep",
                         {"sweep", "--help"},
                         {"--audio=", "--virtual-card=", "--fast", "--window=", "--csv=",
                          "--level=0|-20 ", "--quiet", "--point-timeout=", "--help",
                          "frequency_hz,level_db,peak_db,window_gain_db,blocks"}},
                    Help{"Response",
                         {"response", "--help"},
                         {"--audio=", "--virtual-card=", "--fast", "--level=DBFS",
                          "--length=", "--sweeps=N", "3 dB less noise", "--per-octave=N",
                          "--csv=", "--impulse=FILE", "--quiet", "--help", "Farina", "Novak",
                          "frequency_hz,gain_db,phase_deg,h2_db,h3_db,h4_db,h5_db,thd_db"}},
                    Help{"Report",
                         {"report", "--help"},
                         {"--stepped", "--level=0|-20", "--json=", "--html=", "swept sine",
                          "\"latency_samples\"", "\"thd_vs_frequency\"", "\"method\""}},
                    Help{"Spectrum",
                         {"spectrum", "--help"},
                         {"--audio=", "--virtual-card=", "--fast",
                          "--window=", "--csv=", "--tone=", "--level=0|-20|off", "--blocks=N",
                          "1 to 100000", "--help", "frequency_hz,level_db"}}),
    [](const auto& info) { return std::string(info.param.name); });

// An unknown key is refused with the list of keys; each is in the help.
TEST(CommandLineHelpTest, DescribesEveryVirtualCardKeyThatARefusalLists) {
    DeviceModel model = DeviceModel::ConsumerCard();
    std::string error;
    ASSERT_FALSE(ApplyVirtualCardSettings("bogus=1", model, error));
    const std::string listed = "the keys are ";
    ASSERT_THAT(error, HasSubstr(listed));
    const ProcessEnd help = RunTembrix({"--help"}, 30s);
    std::istringstream keys(error.substr(error.find(listed) + listed.size()));
    for (std::string key; std::getline(keys >> std::ws, key, ',');)
        EXPECT_THAT(help.out, HasSubstr(" " + key + "=")) << key;
}

// Looked up in PortAudio's list before anything opens; the audio libraries
// say nothing of their own.
TEST(CommandLineDeviceTest, TheListEndsWellAndAnUnknownDeviceIsRefusedWithIt) {
    const ProcessEnd list = RunTembrix({"--list-devices"}, 60s);
    EXPECT_EQ(list.status, 0) << list.err;
    EXPECT_EQ(list.err, "");
    EXPECT_NE(list.out, "");

    const ProcessEnd refused = RunTembrix({"sweep", "--input=no such device"}, 60s);
    EXPECT_EQ(refused.status, 2);
    EXPECT_EQ(refused.out, "");
    EXPECT_EQ(refused.err,
              "tembrix: no input device matches 'no such device'; the devices are:\n" + list.out);
}

TEST(CommandLineSpectrumTest, TheTonesBinReadsTheCardsGain) {
    const ProcessEnd end = RunTembrix(
        {"spectrum", "--audio=virtual", "--fast",
         "--virtual-card=gain=-6,highpass=off,lowpass=off,noise=off,hum=off", "--blocks=3"});
    ASSERT_EQ(end.status, 0) << end.err;
    EXPECT_THAT(end.out, HasSubstr("\n# blocks: 3\n"));
    const double levelDb = StartToneLevelDb(end.out);
    EXPECT_NEAR(levelDb, -6 + ZeroDbToneDb, 0.01);
    RecordProperty("tone_re_its_level_db", NumberText(levelDb - ZeroDbToneDb));
    // The virtual card goes through no sound server, and says so first.
    EXPECT_THAT(end.err, StartsWith("Audio path: no sound server\nPower: "));
}

// The system backend's default devices reach the null sink that
// .ci/pulse-start loops back.
TEST(CommandLineSystemCardTest, TheSpectrumOfTheRealLoopBackReadsTheToneAtItsLevel) {
    REQUIRE_SOUND_SERVER(soundServerReachable(), NoSoundServer);
    SoundServerTurn turn;
    const ProcessEnd end = RunTembrix({"spectrum", "--audio=system"}, 600s);
    ASSERT_EQ(end.status, 0) << end.err;
    const double levelDb = StartToneLevelDb(end.out);
    EXPECT_NEAR(levelDb - ZeroDbToneDb, 0, 0.005);
    RecordProperty("tone_re_its_level_db", NumberText(levelDb - ZeroDbToneDb));
}

} // namespace
