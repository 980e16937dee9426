// `tembrix report` as a user's shell runs it, judged by its JSON, its page,
// its table and its exit status. On the virtual card every figure is checked
// against what the simulated device under test is built to do.
#include "tests/harness/PrivateSoundServer.h"
#include "tests/harness/ProcessRun.h"
#include "tests/harness/SoundServer.h"

#include "measure/ResponsePoint.h"
#include "measure/ResponseSummary.h"
#include "sim/DeviceModel.h"
#include "sim/VirtualCardSettings.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <string_view>
#include <thread>

using testing::HasSubstr;
using testing::StartsWith;

namespace {

using namespace std::chrono_literals;

// The sweep's tone, -20 dB as the level buttons set it, re a full-scale sine.
const double Minus20dBToneDb = 20 * std::log10(6554.0 / 65536 * 32767 / 32768);
// 16-bit rounding of the -1 dBFS tone: 6.02 * 16 + 1.76 = 98.09 dB below a
// full-scale sine over the whole band; 19980 / 22050 of it (-0.43 dB) lies in
// 20 Hz - 20 kHz, and the tone is 1 dB below full scale.
constexpr double SixteenBitThdNDb = -97.5;

std::string NumberText(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.6g", value);
    return text;
}

// The text of the value at a path of keys, each sought after the one before:
// enough for the report's layout, where a key's first occurrence after its
// parent's is its own.
std::string_view ValueAt(std::string_view json, std::initializer_list<std::string_view> path) {
    std::size_t at = 0;
    for (std::string_view key : path) {
        at = json.find("\"" + std::string(key) + "\": ", at);
        if (at == std::string_view::npos)
            return {};
        at += key.size() + 4;
    }
    return json.substr(at);
}

// The number at the path; null or missing is not a number.
double NumberAt(std::string_view json, std::initializer_list<std::string_view> path) {
    const std::string_view value = ValueAt(json, path);
    double number = NAN;
    std::from_chars(value.data(), value.data() + value.size(), number);
    return number;
}

// Every number inside the array at the path, nested arrays flattened.
std::vector<double> NumbersAt(std::string_view json, std::initializer_list<std::string_view> path) {
    const std::string_view value = ValueAt(json, path);
    std::vector<double> numbers;
    int depth = 0;
    for (const char* p = value.data(); p < value.data() + value.size();) {
        if (*p == '[' || *p == ']') {
            depth += *p++ == '[' ? 1 : -1;
            if (depth == 0)
                break;
        } else if (*p == ',' || *p == ' ') {
            ++p;
        } else {
            double number = NAN;
            const auto read = std::from_chars(p, value.data() + value.size(), number);
            if (read.ec != std::errc())
                break;
            numbers.push_back(number);
            p = read.ptr;
        }
    }
    return numbers;
}

// One object, its braces balanced outside strings.
bool LooksLikeOneJsonObject(std::string_view json) {
    if (!json.starts_with('{') || !json.ends_with("}\n"))
        return false;
    int depth = 0;
    bool inString = false;
    for (std::size_t i = 0; i < json.size(); ++i) {
        const char c = json[i];
        if (inString) {
            if (c == '\\')
                ++i;
            else if (c == '"')
                inString = false;
        } else if (c == '"') {
            inString = true;
        } else if (c == '{' || c == '}') {
            depth += c == '{' ? 1 : -1;
            if (depth == 0 && i != json.size() - 2)
                return false;
        }
    }
    return depth == 0 && !inString;
}

std::size_t Occurrences(const std::string& text, std::string_view what) {
    std::size_t count = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++count;
    return count;
}

std::string Lowercase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// A fast report on the virtual card: its JSON, with the run's end.
struct VirtualReport {
    ProcessEnd end;
    std::string json;
};

VirtualReport ReportOf(const std::string& card, std::vector<std::string> more = {}) {
    ScratchDirectory directory;
    const auto json = directory / "report.json";
    std::vector<std::string> args{"report",  "--audio=virtual",        "--fast",
                                  "--quiet", "--virtual-card=" + card, "--json=" + json.string()};
    args.insert(args.end(), more.begin(), more.end());
    VirtualReport report{RunTembrix(args), ""};
    report.json = ReadWholeFile(json);
    return report;
}

// IEC 61672: the A-weighting's gain, 0 dB at 1 kHz.
double AWeightingDb(double f) {
    const double f2 = f * f;
    const double ra = 12194.0 * 12194 * f2 * f2 /
                      ((f2 + 20.6 * 20.6) * std::sqrt((f2 + 107.7 * 107.7) * (f2 + 737.9 * 737.9)) *
                       (f2 + 12194.0 * 12194));
    return 20 * std::log10(ra) + 2.0;
}

// What the A-weighting does to white noise over 20 Hz - 20 kHz: its power
// gain averaged over the band.
double AWeightedWhiteNoiseDb() {
    constexpr int Steps = 100000;
    double sum = 0;
    for (int i = 0; i < Steps; ++i)
        sum += std::pow(10.0, AWeightingDb(20 + 19980 * (i + 0.5) / Steps) / 10);
    return 10 * std::log10(sum / Steps);
}

// A delay such as a real card's and its sound server's (68 ms): every figure
// must wait for its own tone to come back, or the one before leaks into it.
const char* const DelayedNoise = "noise=-70,hum=off,highpass=off,lowpass=off,latency=3000";
const char* const DelayedWire = "noise=off,hum=off,highpass=off,lowpass=off,latency=3000";

// What 16-bit samples themselves allow; a leaked earlier tone would be far
// above it.
void ExpectAtTheFormatLimit(std::string_view json) {
    const std::string limited(ValueAt(json, {"at_format_limit"}));
    EXPECT_THAT(limited, HasSubstr("\"thd_n\""));
    EXPECT_THAT(limited, HasSubstr("\"dynamic_range_db_a\""));
}

TEST(ReportCommandTest, TheHarmonicsOfADistortingCardAddUpToItsThd) {
    const VirtualReport report = ReportOf("h2=-60,h3=-70,noise=off,hum=off,highpass=off,"
                                          "lowpass=off,latency=0");
    ASSERT_EQ(report.end.status, 0) << report.end.err;
    // At -1 dBFS the 2nd harmonic comes out 1 dB lower, the 3rd 2 dB.
    const double h2 = -61, h3 = -72;
    const double thd = 10 * std::log10(std::pow(10.0, h2 / 10) + std::pow(10.0, h3 / 10));
    const double measured = NumberAt(report.json, {"thd", "db"});
    EXPECT_NEAR(measured, thd, 0.1);
    const std::vector<double> harmonics = NumbersAt(report.json, {"thd", "harmonics_db"});
    ASSERT_GE(harmonics.size(), 2u);
    EXPECT_NEAR(harmonics[0], h2, 0.1);
    EXPECT_NEAR(harmonics[1], h3, 0.1);
    RecordProperty("thd_db", NumberText(measured));
}

// White noise at -70 dBFS over 0 - 22050 Hz: 19980 / 22050 of its power lies
// in 20 Hz - 20 kHz (-0.43 dB), and A-weighting takes 2.05 dB more: -72.48
// dBFS(A). The noise dominates the -60 dBFS tone's residual, so the dynamic
// range is minus the A-weighted noise.
TEST(ReportCommandTest, WhiteNoiseReadsItsShareOfTheAudioBandPlainAndAWeighted) {
    const VirtualReport report = ReportOf(DelayedNoise);
    ASSERT_EQ(report.end.status, 0) << report.end.err;
    const double inBand = -70 + 10 * std::log10(19980.0 / 22050);
    const double weighted = inBand + AWeightedWhiteNoiseDb();
    const double noise = NumberAt(report.json, {"noise", "dbfs"});
    const double noiseA = NumberAt(report.json, {"noise", "dbfs_a"});
    const double dynamicRange = NumberAt(report.json, {"dynamic_range_db_a"});
    EXPECT_NEAR(noise, inBand, 0.3);
    EXPECT_NEAR(noiseA, weighted, 0.3);
    EXPECT_NEAR(dynamicRange, -weighted, 0.5);
    EXPECT_EQ(ValueAt(report.json, {"digital_silence"}).substr(0, 5), "false");
    RecordProperty("noise_dbfs", NumberText(noise));
    RecordProperty("noise_dbfs_a", NumberText(noiseA));
    RecordProperty("dynamic_range_db_a", NumberText(dynamicRange));
}

struct Method {
    const char* name;
    std::vector<std::string> args;
    const char* key;      // response.method
    double levelPlayedDb; // the swept sine's peak, or the stepped sweep's tone
};

std::ostream& operator<<(std::ostream& out, const Method& method) {
    return out << method.name;
}

class ReportResponseTest : public testing::TestWithParam<Method> {};

// The card's exact response at the frequencies measured, summarised as the
// report does: the figures differ only by the measurement's error.
TEST_P(ReportResponseTest, TheResponseFiguresOfAFilteredCardAreThoseOfItsOwnResponse) {
    const char* const card = "highpass=100/2,lowpass=10000/2,noise=off,hum=off,latency=0";
    const VirtualReport report = ReportOf(card, GetParam().args);
    ASSERT_EQ(report.end.status, 0) << report.end.err;
    EXPECT_THAT(std::string(ValueAt(report.json, {"response", "method"})),
                StartsWith("\"" + std::string(GetParam().key) + "\","));
    EXPECT_THAT(std::string(ValueAt(report.json, {"input"})),
                StartsWith("\"virtual loop-back card: gain=0,highpass=100/2,lowpass=10000/2,"));

    DeviceModel model = DeviceModel::ConsumerCard();
    std::string error;
    ASSERT_TRUE(ApplyVirtualCardSettings(card, model, error)) << error;
    const std::vector<double> measured = NumbersAt(report.json, {"response", "points"});
    ASSERT_EQ(measured.size(), 2 * 99u);
    std::vector<ResponsePoint> expected;
    for (std::size_t i = 0; i < measured.size(); i += 2)
        expected.push_back(
            {measured[i], model.ResponseDb(measured[i]) + GetParam().levelPlayedDb, 0, 0, 0});
    const ResponseSummary summary = SummariseResponse(expected, 20, 20000);
    const auto narrow = DeviationRange(expected, summary.referenceDb, 40, 15000);
    const auto wide = DeviationRange(expected, summary.referenceDb, 20, 20000);

    EXPECT_THAT(std::string(ValueAt(report.json, {"complete"})), StartsWith("true,"));
    EXPECT_NEAR(NumberAt(report.json, {"response", "reference_hz"}), 1010.86, 0.005);
    EXPECT_NEAR(NumberAt(report.json, {"response", "reference_db"}), summary.referenceDb, 0.05);
    const std::vector<double> narrowRead = NumbersAt(report.json, {"deviation_40_15k_db"});
    const std::vector<double> wideRead = NumbersAt(report.json, {"deviation_20_20k_db"});
    ASSERT_EQ(narrowRead.size(), 2u);
    ASSERT_EQ(wideRead.size(), 2u);
    EXPECT_NEAR(narrowRead[0], narrow.first, 0.05);
    EXPECT_NEAR(narrowRead[1], narrow.second, 0.05);
    EXPECT_NEAR(wideRead[0], wide.first, 0.05);
    EXPECT_NEAR(wideRead[1], wide.second, 0.05);
    ASSERT_TRUE(summary.minus3dbLowHz && summary.minus3dbHighHz);
    const double low = NumberAt(report.json, {"minus3db_low_hz"});
    const double high = NumberAt(report.json, {"minus3db_high_hz"});
    EXPECT_NEAR(low, *summary.minus3dbLowHz, 0.005 * *summary.minus3dbLowHz);
    EXPECT_NEAR(high, *summary.minus3dbHighHz, 0.005 * *summary.minus3dbHighHz);
    RecordProperty("minus3db_hz", NumberText(low) + " " + NumberText(high));
}

INSTANTIATE_TEST_SUITE_P(
    Report, ReportResponseTest,
    testing::Values(Method{"SweptSine", {}, "swept_sine", -6},
                    Method{"SteppedSweep", {"--stepped"}, "stepped_sweep", Minus20dBToneDb}),
    [](const auto& info) { return std::string(info.param.name); });

// The swept sine's own figures: the delay of the card (which adds no path of
// its own) and, of a tone at each tabled frequency, H2 and H3 as the model
// makes them (from 100 Hz to 5 kHz): A' the tone's amplitude at the
// polynomial (-6 dBFS),
// c_k = 10^(h_k / 20), H2 = c2 A' / (1 + 3 c3 A'^2) and H3 = c3 A'^2 / (1 +
// 3 c3 A'^2), with no filter to shape them.
TEST(ReportCommandTest, TheSweptSineGivesTheDelayAndTheHarmonicsAgainstFrequency) {
    const VirtualReport report =
        ReportOf("h2=-50,h3=-60,noise=off,hum=off,highpass=off,lowpass=off,latency=777");
    ASSERT_EQ(report.end.status, 0) << report.end.err;
    EXPECT_NEAR(NumberAt(report.json, {"latency_samples"}), 777, 0.1);
    EXPECT_THAT(report.end.out, HasSubstr("\n  delay                             17.619 ms "
                                          "(777.0 samples)\n"));
    const double amplitude = std::pow(10.0, -6 / 20.0);
    const double c2 = std::pow(10.0, -50 / 20.0), c3 = std::pow(10.0, -60 / 20.0);
    const double compression = 1 + 3 * c3 * amplitude * amplitude;
    const double h2 = 20 * std::log10(c2 * amplitude / compression);
    const double h3 = 20 * std::log10(c3 * amplitude * amplitude / compression);
    ASSERT_TRUE(LooksLikeOneJsonObject(report.json)) << report.json;
    const std::string_view at = ValueAt(report.json, {"thd_vs_frequency", "at"});
    // At 6.3 kHz the model's own digital distortion of the sweep's highest
    // part folds back below 22 kHz, and lands there too: only given.
    std::size_t from = 0;
    for (double hz : {100.0, 1000.0, 6300.0}) {
        SCOPED_TRACE(hz);
        const std::string_view row = at.substr(at.find("\"frequency_hz\": ", from));
        from = static_cast<std::size_t>(row.data() - at.data()) + 1;
        EXPECT_EQ(NumberAt(row, {"frequency_hz"}), hz);
        const double tolerance = hz < 5000 ? 0.5 : 5;
        EXPECT_NEAR(NumberAt(row, {"h2_db"}), h2, tolerance);
        EXPECT_NEAR(NumberAt(row, {"h3_db"}), h3, tolerance);
        const double thd = 10 * std::log10(std::pow(10.0, h2 / 10) + std::pow(10.0, h3 / 10));
        EXPECT_NEAR(NumberAt(row, {"thd_db"}), thd, tolerance);
    }
    // Every reported frequency, H4 and H5 among them, where k f lies below
    // 20 kHz.
    const std::vector<double> curve = NumbersAt(report.json, {"thd_vs_frequency", "points"});
    EXPECT_GE(curve.size(), 6 * 60u);
    EXPECT_THAT(report.end.out, HasSubstr("\n  at 1 kHz                          H2 "));
}

// Each channel's figures are its own (the right one's level 0.3 dB below
// the left's); the leak of each into the other and the match follow both.
TEST(ReportCommandTest, TwoChannelsGetAReportEachThenTheirCrosstalkAndMatch) {
    const VirtualReport report = ReportOf("crosstalk=-70,right.gain=-0.3", {"--channels=2"});
    ASSERT_EQ(report.end.status, 0) << report.end.err;
    EXPECT_TRUE(LooksLikeOneJsonObject(report.json)) << report.json.substr(0, 400);
    EXPECT_EQ(NumberAt(report.json, {"channels"}), 2);
    EXPECT_NEAR(NumberAt(report.json, {"left", "response", "reference_db"}) -
                    NumberAt(report.json, {"right", "response", "reference_db"}),
                0.3, 0.02);
    EXPECT_NEAR(NumberAt(report.json, {"crosstalk_db", "left_to_right"}), -70, 0.5);
    EXPECT_NEAR(NumberAt(report.json, {"crosstalk_db", "right_to_left"}), -70, 0.5);
    EXPECT_NEAR(NumberAt(report.json, {"channel_match", "gain_difference_db"}), 0.3, 0.02);
    const std::vector<double> range =
        NumbersAt(report.json, {"channel_match", "gain_difference_range_db"});
    ASSERT_EQ(range.size(), 2u);
    EXPECT_NEAR(range[0], 0.3, 0.02);
    EXPECT_NEAR(range[1], 0.3, 0.02);
    EXPECT_NE(report.end.out.find("\nChannels\n  Crosstalk at 1 kHz: left to right -"),
              std::string::npos)
        << report.end.out;
}

// Re a reference channel that carries the card's own path (here a gain and
// a delay), the measured channel's response is the device's alone.
TEST(ReportCommandTest, AReferenceChannelTakesTheCardsOwnGainAndDelayOut) {
    const VirtualReport report =
        ReportOf("noise=off,hum=off,left.gain=-4,left.latency=500,right.gain=-1,right.latency=100",
                 {"--reference=2"});
    ASSERT_EQ(report.end.status, 0) << report.end.err;
    EXPECT_NEAR(NumberAt(report.json, {"response", "reference_db"}), -3, 0.01);
    EXPECT_NEAR(NumberAt(report.json, {"latency_samples"}), 400, 0.1);
    EXPECT_NE(report.json.find("\"reference_channel\": \"right\""), std::string::npos);
}

// Clocks of their own: the card's input runs 100 ppm off its output. The
// drift is flagged, and neither the response nor the distortion reads it:
// both come out as on the same card with one clock.
TEST(ReportCommandTest, AnInputOnAClockOfItsOwnReadsItsDriftAndIsFlaggedAndCorrected) {
    const VirtualReport drifting = ReportOf("drift=100");
    ASSERT_EQ(drifting.end.status, 0) << drifting.end.err;
    EXPECT_NEAR(NumberAt(drifting.json, {"drift_ppm"}), 100, 2);
    EXPECT_NEAR(NumberAt(drifting.json, {"audio_path", "drift_ppm"}), 100, 2);
    EXPECT_THAT(std::string(ValueAt(drifting.json, {"audio_path", "flags"})),
                StartsWith("[\"drift\"]"));
    EXPECT_THAT(
        drifting.end.out,
        HasSubstr("(beyond 50 ppm: clocks of their own; the swept sine is corrected for it)"));
    const VirtualReport locked = ReportOf("gain=0");
    ASSERT_EQ(locked.end.status, 0) << locked.end.err;
    EXPECT_NEAR(NumberAt(locked.json, {"drift_ppm"}), 0, 0.5);

    const std::vector<double> drifted = NumbersAt(drifting.json, {"deviation_20_20k_db"});
    const std::vector<double> one = NumbersAt(locked.json, {"deviation_20_20k_db"});
    ASSERT_EQ(drifted.size(), 2u);
    ASSERT_EQ(one.size(), 2u);
    EXPECT_NEAR(drifted[0], one[0], 0.05);
    EXPECT_NEAR(drifted[1], one[1], 0.05);
    EXPECT_NEAR(NumberAt(drifting.json, {"thd_n", "db"}), NumberAt(locked.json, {"thd_n", "db"}),
                0.5);
}

TEST(ReportCommandTest, AnIdealWireMeasuresTheSixteenBitFormatAndDigitalSilence) {
    ScratchDirectory directory;
    const auto html = directory / "report.html";
    const VirtualReport report = ReportOf(DelayedWire, {"--html=" + html.string()});
    ASSERT_EQ(report.end.status, 0) << report.end.err;
    EXPECT_TRUE(LooksLikeOneJsonObject(report.json)) << report.json;

    const double thdN = NumberAt(report.json, {"thd_n", "db"});
    EXPECT_NEAR(thdN, SixteenBitThdNDb, 0.3);
    ExpectAtTheFormatLimit(report.json);
    EXPECT_THAT(std::string(ValueAt(report.json, {"noise", "dbfs"})), StartsWith("null,"));
    EXPECT_THAT(std::string(ValueAt(report.json, {"noise", "digital_silence"})),
                StartsWith("true"));
    EXPECT_THAT(report.end.out, HasSubstr("digital silence"));

    const std::string page = ReadWholeFile(html);
    EXPECT_THAT(page, HasSubstr("<h1>Tembrix loop-back report</h1>"));
    // The response, the distortion against frequency and the distortion
    // spectrum; silence has no spectrum.
    EXPECT_EQ(Occurrences(page, "data:image/png;base64,"), 3u);
    EXPECT_THAT(Lowercase(page), HasSubstr("digital silence"));
    RecordProperty("thd_n_db", NumberText(thdN));
}

// In real time a sweep point takes about two seconds: a SIGINT once the first
// is measured stops the report some sixty points below its reference at
// 1010.86 Hz. What it measured is written, and nothing it did not measure.
TEST(ReportCommandTest, AnInterruptedSweepWritesAnIncompleteReportOfWhatItMeasured) {
    ScratchDirectory directory;
    const auto json = directory / "report.json";
    const auto html = directory / "report.html";
    TembrixProcess run({"report", "--audio=virtual", "--stepped", "--json=" + json.string(),
                        "--html=" + html.string()});
    ASSERT_TRUE(run.started());
    const auto deadline = std::chrono::steady_clock::now() + 60s;
    while (run.ErrorSoFar().find("point 1/99") == std::string::npos &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(50ms);
    run.Signal(SIGINT);
    const ProcessEnd end = run.Wait(60s);
    ASSERT_EQ(end.status, 130) << end.err;

    const std::string text = ReadWholeFile(json);
    EXPECT_TRUE(LooksLikeOneJsonObject(text)) << text;
    EXPECT_THAT(std::string(ValueAt(text, {"complete"})), StartsWith("false,"));
    const double referenceHz = NumberAt(text, {"response", "reference_hz"});
    EXPECT_NEAR(referenceHz, 1010.86, 0.005);
    const std::vector<double> points = NumbersAt(text, {"response", "points"});
    ASSERT_GE(points.size(), 2u);
    ASSERT_LT(points.size(), 2 * 99u);
    double referenceDb = NAN;
    for (std::size_t i = 0; i < points.size(); i += 2)
        if (std::abs(points[i] - referenceHz) < 0.005)
            referenceDb = points[i + 1];
    const auto expectNull = [&](std::initializer_list<std::string_view> path) {
        EXPECT_THAT(std::string(ValueAt(text, path)), StartsWith("null")) << *std::prev(path.end());
    };
    if (std::isnan(referenceDb)) {
        expectNull({"response", "reference_db"});
        expectNull({"minus3db_low_hz"});
    } else {
        EXPECT_EQ(NumberAt(text, {"response", "reference_db"}), referenceDb);
    }
    expectNull({"minus3db_high_hz"});
    expectNull({"latency_samples"});
    expectNull({"thd_vs_frequency"});
    expectNull({"thd", "db"});
    expectNull({"thd_n", "db"});
    expectNull({"dynamic_range_db_a"});
    expectNull({"noise", "dbfs"});
    expectNull({"noise", "digital_silence"});
    EXPECT_THAT(NumbersAt(text, {"deviation_20_20k_db"}), testing::IsEmpty());

    const std::string pointsMeasured = std::to_string(points.size() / 2) + " of 99 points";
    EXPECT_THAT(end.out.substr(0, end.out.find('\n')), HasSubstr(" report (incomplete), "));
    EXPECT_THAT(end.out, HasSubstr("  measured                          loop check, frequency "
                                   "response (" +
                                   pointsMeasured + ")\n"));
    EXPECT_THAT(end.out, HasSubstr("  not measured                      distortion, dynamic range, "
                                   "noise\n"));
    const std::string page = ReadWholeFile(html);
    EXPECT_THAT(page, HasSubstr("<h1>Tembrix loop-back report (incomplete)</h1>"));
    EXPECT_THAT(page, HasSubstr(pointsMeasured));
    EXPECT_EQ(Occurrences(page, "data:image/png;base64,"), 1u) << "the response only";
}

// Stopped while its sweep plays, the swept sine has measured nothing: every
// figure of the response is null, and the table and page say so.
TEST(ReportCommandTest, AnInterruptedSweptSineLeavesTheWholeResponseNotMeasured) {
    ScratchDirectory directory;
    const auto json = directory / "report.json";
    const auto html = directory / "report.html";
    TembrixProcess run(
        {"report", "--audio=virtual", "--json=" + json.string(), "--html=" + html.string()});
    ASSERT_TRUE(run.started());
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    while (run.ErrorSoFar().find("Sweep 1 of 1...") == std::string::npos &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(20ms);
    run.Signal(SIGINT);
    const ProcessEnd end = run.Wait(30s);
    ASSERT_EQ(end.status, 130) << end.err;

    const std::string text = ReadWholeFile(json);
    EXPECT_TRUE(LooksLikeOneJsonObject(text)) << text;
    EXPECT_THAT(std::string(ValueAt(text, {"complete"})), StartsWith("false,"));
    EXPECT_THAT(std::string(ValueAt(text, {"response", "method"})), StartsWith("\"swept_sine\","));
    for (std::string_view key : {"reference_db", "minus3db_low_hz", "latency_samples",
                                 "thd_vs_frequency", "dynamic_range_db_a"})
        EXPECT_THAT(std::string(ValueAt(text, {key})), StartsWith("null")) << key;
    EXPECT_THAT(NumbersAt(text, {"response", "points"}), testing::IsEmpty());
    EXPECT_THAT(end.out, HasSubstr("\n  delay                             not measured\n"));
    EXPECT_THAT(end.out, HasSubstr("  not measured                      frequency response, "
                                   "distortion, dynamic range, noise\n"));
    const std::string page = ReadWholeFile(html);
    EXPECT_THAT(page, HasSubstr("<h1>Tembrix loop-back report (incomplete)</h1>"));
    EXPECT_EQ(Occurrences(page, "data:image/png;base64,"), 0u);
}

struct Refusal {
    const char* name;
    const char* card;
    const char* problem;
};

std::ostream& operator<<(std::ostream& out, const Refusal& refusal) {
    return out << refusal.name;
}

class ReportLoopCheckTest : public testing::TestWithParam<Refusal> {};

// Before anything is measured: no table, only the reason.
TEST_P(ReportLoopCheckTest, StopsTheReportWithOneLineSayingWhy) {
    const VirtualReport report = ReportOf(GetParam().card);
    EXPECT_EQ(report.end.status, 5);
    EXPECT_EQ(report.end.out, "");
    EXPECT_THAT(report.end.err, StartsWith("tembrix: loop check failed: "));
    EXPECT_THAT(report.end.err, HasSubstr(GetParam().problem));
    EXPECT_EQ(std::count(report.end.err.begin(), report.end.err.end(), '\n'), 1) << report.end.err;
}

// The -20 dBFS check tone 40 dB low lies 20 dB beyond the margin; 21 dB up it
// passes full scale.
INSTANTIATE_TEST_SUITE_P(
    Report, ReportLoopCheckTest,
    testing::Values(Refusal{"ToneFarTooLow", "gain=-40",
                            "the tone comes back at -60.0 dB instead of about -20 dB"},
                    Refusal{"ToneClipped", "gain=+21", "the tone comes back clipped"}),
    [](const auto& info) { return std::string(info.param.name); });

// pactl on the sound server of the test environment; true when it succeeded.
bool Pactl(const std::string& args) {
    return std::system(("pactl " + args + " >/dev/null 2>&1").c_str()) == 0;
}

// The default output muted for as long as it lives, whatever the test does.
class MutedDefaultSink {
  public:
    MutedDefaultSink() : m_muted(Pactl("set-sink-mute @DEFAULT_SINK@ 1")) {}
    ~MutedDefaultSink() {
        if (m_muted && !Pactl("set-sink-mute @DEFAULT_SINK@ 0"))
            ADD_FAILURE() << "could not unmute the default sink";
    }
    MutedDefaultSink(const MutedDefaultSink&) = delete;
    MutedDefaultSink& operator=(const MutedDefaultSink&) = delete;
    bool muted() const { return m_muted; }

  private:
    bool m_muted;
};

// The null sink that .ci/pulse-start loops back is a perfect 16-bit wire, so
// every point of the stepped sweep reads its reference. The sweep runs in
// real time, a few minutes, on a server of its own so that the shared one's
// cases need not wait for it.
TEST(ReportSystemCardTest, TheRealLoopBackMeasuresTheSixteenBitFormat) {
    PrivateSoundServer server;
    REQUIRE_SOUND_SERVER(server.Start(),
                         "no PulseAudio server could be started with .ci/pulse-start");
    ScratchDirectory directory;
    const auto json = directory / "report.json";
    const auto started = std::chrono::steady_clock::now();
    const ProcessEnd end = RunTembrix(
        {"report", "--audio=system", "--stepped", "--quiet", "--json=" + json.string()}, 600s);
    const auto took = std::chrono::duration<double>(std::chrono::steady_clock::now() - started);
    ASSERT_EQ(end.status, 0) << end.err;
    const std::string text = ReadWholeFile(json);
    const double referenceDb = NumberAt(text, {"response", "reference_db"});
    const std::vector<double> points = NumbersAt(text, {"response", "points"});
    ASSERT_EQ(points.size(), 2 * 99u);
    double largest = 0;
    for (std::size_t i = 0; i < points.size(); i += 2) {
        EXPECT_NEAR(points[i + 1], referenceDb, 0.05) << "at " << points[i] << " Hz";
        largest = std::max(largest, std::fabs(points[i + 1] - referenceDb));
    }
    const double thdN = NumberAt(text, {"thd_n", "db"});
    EXPECT_NEAR(thdN, SixteenBitThdNDb, 0.5);
    EXPECT_EQ(ValueAt(text, {"digital_silence"}).substr(0, 4), "true");
    ExpectAtTheFormatLimit(text);
    RecordProperty("thd_n_db", NumberText(thdN));
    RecordProperty("largest_deviation_db", NumberText(largest));
    RecordProperty("seconds", NumberText(took.count()));
}

// The whole report on the real loop-back with the swept sine: its flat
// response and its delay. How long it takes is bench/sweep-time.sh's to say.
TEST(ReportSystemCardTest, ASweptSineReportOfTheRealLoopBackReadsItFlat) {
    REQUIRE_SOUND_SERVER(soundServerReachable(), NoSoundServer);
    SoundServerTurn turn;
    ScratchDirectory directory;
    const auto json = directory / "report.json";
    const auto started = std::chrono::steady_clock::now();
    const ProcessEnd end =
        RunTembrix({"report", "--audio=system", "--quiet", "--json=" + json.string()}, 60s);
    const auto took = std::chrono::duration<double>(std::chrono::steady_clock::now() - started);
    ASSERT_EQ(end.status, 0) << end.err;
    const std::string text = ReadWholeFile(json);
    EXPECT_THAT(std::string(ValueAt(text, {"response", "method"})), StartsWith("\"swept_sine\","));
    EXPECT_NEAR(NumberAt(text, {"response", "reference_db"}), -6, 0.05);
    const std::vector<double> wide = NumbersAt(text, {"deviation_20_20k_db"});
    ASSERT_EQ(wide.size(), 2u);
    EXPECT_GT(wide[0], -0.05);
    EXPECT_LT(wide[1], 0.05);
    // Where the server's streams stand against each other is known to about
    // a millisecond, so a wire's delay through it may read a little below 0.
    const double latency = NumberAt(text, {"latency_samples"});
    EXPECT_GT(latency, -0.002 * 44100);
    EXPECT_LT(latency, 0.5 * 44100);
    EXPECT_EQ(ValueAt(text, {"digital_silence"}).substr(0, 4), "true");
    RecordProperty("latency_samples", NumberText(latency));
    RecordProperty("seconds", NumberText(took.count()));
}

TEST(ReportSystemCardTest, AMutedOutputStopsTheReportAtTheLoopCheck) {
    REQUIRE_SOUND_SERVER(soundServerReachable(), NoSoundServer);
    SoundServerTurn turn;
    MutedDefaultSink mute;
    ASSERT_TRUE(mute.muted());
    const ProcessEnd end = RunTembrix({"report", "--audio=system", "--quiet"}, 60s);
    EXPECT_FALSE(end.killedAfterLimit);
    EXPECT_EQ(end.status, 5) << end.err;
    EXPECT_EQ(end.out, "");
    EXPECT_THAT(end.err, HasSubstr("tembrix: loop check failed: nothing comes back: the input is "
                                   "silent."));
}

} // namespace
