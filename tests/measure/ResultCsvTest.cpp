#include "measure/ResultCsv.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <limits>
#include <optional>
#include <string>
#include <vector>

namespace {

RunInfo SweepRun() {
    RunInfo info;
    info.measurement = "sweep";
    info.version = "0.1.0";
    info.dateTime = "2026-12-08T23:41:05+00:00";
    info.audio = "virtual";
    info.inputDevice = "Line In\r\n(rear)";
    info.outputDevice = "Speakers";
    info.level = "-20 dB";
    info.window = "quasi-chebyshev";
    return info;
}

std::vector<ResponsePoint> AwkwardPoints() {
    return {
        {1.0 / 3.0, 1e-300, -0.0, std::numeric_limits<double>::denorm_min(), 7},
        {10.7666015625, -20.000000000000004, -19.5, 0.1, 0},
        {1000.0000000000001, -250, std::numeric_limits<double>::max(), -1e300,
         std::numeric_limits<int>::max()},
    };
}

void ExpectSameBits(double expected, double actual) {
    EXPECT_EQ(std::bit_cast<std::uint64_t>(expected), std::bit_cast<std::uint64_t>(actual))
        << expected << " read back as " << actual;
}

std::vector<ResponsePoint> Parsed(const std::string& text) {
    std::vector<ResponsePoint> points;
    std::string error;
    EXPECT_TRUE(ParseResponseCsv(text, points, error)) << error;
    return points;
}

// Tries the usual names of a German locale; restores "C" when destroyed.
class GermanNumbers {
  public:
    GermanNumbers() {
        for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "de_DE", "de_DE@euro"}) {
            if (std::setlocale(LC_NUMERIC, name)) {
                active = true;
                return;
            }
        }
    }
    ~GermanNumbers() { std::setlocale(LC_NUMERIC, "C"); }
    bool active = false;
};

// Sets TZ for the life of the object.
class TimeZone {
  public:
    explicit TimeZone(const char* zone) {
        if (const char* old = std::getenv("TZ"))
            previous = old;
        setenv("TZ", zone, 1);
        tzset();
    }
    ~TimeZone() {
        if (previous)
            setenv("TZ", previous->c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }

  private:
    std::optional<std::string> previous;
};

TEST(ResponseFile, ReadsBackEveryValueBitForBit) {
    const std::vector<ResponsePoint> written = AwkwardPoints();
    const std::vector<ResponsePoint> read = Parsed(ResponseCsv(SweepRun(), written));
    ASSERT_EQ(read.size(), written.size());
    for (std::size_t i = 0; i < written.size(); ++i) {
        ExpectSameBits(written[i].frequencyHz, read[i].frequencyHz);
        ExpectSameBits(written[i].levelDb, read[i].levelDb);
        ExpectSameBits(written[i].peakDb, read[i].peakDb);
        ExpectSameBits(written[i].windowGainDb, read[i].windowGainDb);
        EXPECT_EQ(written[i].blocks, read[i].blocks);
    }
}

TEST(ResponseFile, CommentsDescribeTheRunInAFixedOrderOnOneLineEach) {
    EXPECT_EQ(ResultComments(SweepRun()), "# tembrix 0.1.0 sweep\n"
                                          "# date: 2026-12-08T23:41:05+00:00\n"
                                          "# audio: virtual\n"
                                          "# input: Line In  (rear)\n"
                                          "# output: Speakers\n"
                                          "# level: -20 dB\n"
                                          "# window: quasi-chebyshev\n"
                                          "# sample_rate_hz: 44100\n"
                                          "# block_size: 8192\n");

    RunInfo spectrum = SweepRun();
    spectrum.measurement = "spectrum";
    spectrum.toneHz = 1001.2;
    spectrum.blocks = 12;
    const std::string comments = ResultComments(spectrum);
    EXPECT_NE(comments.find("# window: quasi-chebyshev\n# tone_hz: 1001.2\n# blocks: 12\n"
                            "# sample_rate_hz: 44100\n"),
              std::string::npos)
        << comments;
}

TEST(ResponseFile, AGermanLocaleStillWritesAndReadsAPoint) {
    GermanNumbers german;
    if (!german.active)
        GTEST_SKIP() << "no German locale installed";
    EXPECT_EQ(ResponseRow({1000.5, -0.25, -0.125, 0.5, 3}), "1000.5,-0.25,-0.125,0.5,3\n");
    EXPECT_EQ(Parsed(ResponseCsv(SweepRun(), AwkwardPoints())).size(), 3u);
}

TEST(ResponseFile, AcceptsCrlfCommentsBeforeTheHeaderAndBlankLinesAfterTheRows) {
    const std::string text = "\xEF\xBB\xBF# tembrix 0.0.1 sweep\r\n"
                             "\r\n"
                             "# written by hand\r\n"
                             "frequency_hz,level_db,peak_db,window_gain_db,blocks\r\n"
                             "100,-1,-1,0,4\r\n"
                             "200, -2 ,-2,0,4\r\n"
                             "\r\n"
                             "\n";
    const std::vector<ResponsePoint> points = Parsed(text);
    ASSERT_EQ(points.size(), 2u);
    EXPECT_EQ(points[1].frequencyHz, 200);
    EXPECT_EQ(points[1].levelDb, -2);

    EXPECT_EQ(Parsed(std::string(ResponseHeader) + "\n100,-1,-1,0,4").size(), 1u);
}

TEST(ResponseFile, RefusesAMalformedFileNamingTheLineAndKeepsThePoints) {
    const std::string header = std::string(ResponseHeader) + "\n";
    const std::string good = "100,-1,-1,0,4\n";
    struct Case {
        std::string text;
        std::string error;
    };
    const std::vector<Case> cases = {
        {"", "no points"},
        {"# tembrix 0.1.0 sweep\n" + header + "\n\n", "no points"},
        {"# a\nfrequency_hz,level_db\n" + good,
         "line 2: the header must be frequency_hz,level_db,peak_db,window_gain_db,blocks"},
        {good, "line 1: the header must be frequency_hz,level_db,peak_db,window_gain_db,blocks"},
        {header + good + "200,-1,-1\n", "line 3: expected 5 fields, found 3"},
        {header + "# late comment\n", "line 2: expected 5 fields, found 1"},
        {"#\r\n" + header + good + good.substr(0, 3) + "x,-1,-1,0,4\r\n",
         "line 4: '100x' is not a number"},
        {header + "200,abc,-1,0,4", "line 2: 'abc' is not a number"},
        {header + "200,-1,1e999,0,4", "line 2: '1e999' is out of range"},
        {header + "200,-1,-1,nan,4", "line 2: window_gain_db must be finite, found 'nan'"},
        {header + "0,-1,-1,0,4", "line 2: frequency_hz must be above 0, found '0'"},
        {header + "200,-1,-1,0,1.5",
         "line 2: blocks must be a whole number of 0 or more, found '1.5'"},
        {header + good + "\n" + good,
         "line 4: frequency_hz must rise from row to row, found 100 after 100"},
        {header + "200,-1,-1,0," + std::string(100, '9'),
         "line 2: blocks must be a whole number of 0 or more, found "
         "'9999999999999999999999999999999999999999...'"},
    };
    for (const Case& c : cases) {
        std::vector<ResponsePoint> points = {{1, 2, 3, 4, 5}};
        std::string error;
        EXPECT_FALSE(ParseResponseCsv(c.text, points, error)) << c.text;
        EXPECT_EQ(error, c.error) << c.text;
        ASSERT_EQ(points.size(), 1u);
        EXPECT_EQ(points[0].frequencyHz, 1);
    }
}

RunInfo SweptSineInfo() {
    RunInfo info = SweepRun();
    info.measurement = "response";
    info.level = "-6 dBFS";
    info.window.clear();
    return info;
}

SweptSineRun DefaultSweep() {
    SweptSineRun sweep;
    sweep.startHz = 10;
    sweep.endHz = 22000;
    sweep.lengthSeconds = 6.1538461538461542;
    sweep.levelDbfs = -6;
    sweep.sweeps = 3;
    sweep.latencySamples = 1023.25;
    sweep.recordingLatencySamples = {1023.25, 1023.5, 1022.75};
    return sweep;
}

std::vector<SweepResponsePoint> SweptSinePoints() {
    return {
        {10.7666015625, -0.1000000000000001, 89.5, {-60.25, -70.5, -80, -90.125}, -59.75},
        {1000.0000000000001, -1e-300, -0.0, {-100, std::nullopt, -120, std::nullopt}, -99.5},
        {15000, -3.5, -1e4, {}, std::nullopt},
    };
}

SavedResponse ReadSaved(const std::string& text) {
    SavedResponse response;
    std::string error;
    EXPECT_TRUE(ParseSavedResponse(text, response, error)) << error;
    return response;
}

void ExpectSameOptional(const std::optional<double>& expected,
                        const std::optional<double>& actual) {
    ASSERT_EQ(expected.has_value(), actual.has_value());
    if (expected)
        ExpectSameBits(*expected, *actual);
}

TEST(SweptSineFile, ReadsBackEveryValueAndEveryMissingHarmonic) {
    const std::vector<SweepResponsePoint> written = SweptSinePoints();
    const SavedResponse read = ReadSaved(SweptSineCsv(SweptSineInfo(), DefaultSweep(), written));
    EXPECT_EQ(read.kind, SavedResponse::Kind::SweptSine);
    EXPECT_TRUE(read.stepped.empty());
    ASSERT_EQ(read.latencySamples, 1023.25);
    ASSERT_EQ(read.swept.size(), written.size());
    for (std::size_t i = 0; i < written.size(); ++i) {
        ExpectSameBits(written[i].frequencyHz, read.swept[i].frequencyHz);
        ExpectSameBits(written[i].gainDb, read.swept[i].gainDb);
        ExpectSameBits(written[i].phaseDeg, read.swept[i].phaseDeg);
        for (std::size_t k = 0; k < written[i].harmonicsDb.size(); ++k)
            ExpectSameOptional(written[i].harmonicsDb[k], read.swept[i].harmonicsDb[k]);
        ExpectSameOptional(written[i].thdDb, read.swept[i].thdDb);
    }
}

TEST(SweptSineFile, SaysTheSweepAndItsDelaysAfterTheRunsLinesAndLeavesMissingFieldsEmpty) {
    EXPECT_EQ(SweptSineComments(SweptSineInfo(), DefaultSweep()),
              "# tembrix 0.1.0 response\n"
              "# date: 2026-12-08T23:41:05+00:00\n"
              "# audio: virtual\n"
              "# input: Line In  (rear)\n"
              "# output: Speakers\n"
              "# level: -6 dBFS\n"
              "# sample_rate_hz: 44100\n"
              "# block_size: 8192\n"
              "# latency_samples: 1023.25\n"
              "# sweep_start_hz: 10\n"
              "# sweep_end_hz: 22000\n"
              "# sweep_length_s: 6.153846153846154\n"
              "# sweep_level_dbfs: -6\n"
              "# sweeps: 3\n"
              "# recording_latency_samples: 1023.25 1023.5 1022.75\n");
    EXPECT_EQ(SweptSineRow(SweptSinePoints()[1]),
              "1000.0000000000001,-1e-300,-0,-100,,-120,,-99.5\n");
    EXPECT_EQ(SweptSineRow(SweptSinePoints()[2]), "15000,-3.5,-10000,,,,,\n");
}

TEST(SavedResponseFile, ReadsEitherKindAndSaysWhichOnlyTheSteppedReaderRefusesTheSweptSine) {
    const std::string stepped = ResponseCsv(SweepRun(), AwkwardPoints());
    const SavedResponse read = ReadSaved(stepped);
    EXPECT_EQ(read.kind, SavedResponse::Kind::SteppedSweep);
    EXPECT_EQ(read.stepped.size(), 3u);
    EXPECT_TRUE(read.swept.empty());
    EXPECT_FALSE(read.latencySamples);

    const std::string swept = SweptSineCsv(SweptSineInfo(), DefaultSweep(), SweptSinePoints());
    std::vector<ResponsePoint> points;
    std::string error;
    EXPECT_FALSE(ParseResponseCsv(swept, points, error));
    EXPECT_EQ(error,
              "line 16: the header must be frequency_hz,level_db,peak_db,window_gain_db,blocks");
}

TEST(SavedResponseFile, RefusesAMalformedSweptSineFileNamingTheLineAndKeepsTheResponse) {
    const std::string header = std::string(SweptSineHeader) + "\n";
    const std::string good = "100,-1,10,-60,,,,-60\n";
    struct Case {
        std::string text;
        std::string error;
    };
    const std::vector<Case> cases = {
        {"# latency_samples: 12\n" + header, "no points"},
        {"frequency_hz,gain_db\n" + good,
         "line 1: the header must be frequency_hz,level_db,peak_db,window_gain_db,blocks or "
         "frequency_hz,gain_db,phase_deg,h2_db,h3_db,h4_db,h5_db,thd_db"},
        {header + "100,-1,10,-60,,,\n", "line 2: expected 8 fields, found 7"},
        {header + "100,,10,,,,,\n", "line 2: '' is not a number"},
        {header + "100,-1,nan,,,,,\n", "line 2: phase_deg must be finite, found 'nan'"},
        {header + "100,-1,10,,x,,,\n", "line 2: 'x' is not a number"},
        {header + "100,-1,10,,,,,inf\n", "line 2: thd_db must be finite, found 'inf'"},
        {header + "-5,-1,10,,,,,\n", "line 2: frequency_hz must be above 0, found '-5'"},
        {header + good + good,
         "line 3: frequency_hz must rise from row to row, found 100 after 100"},
        {"# latency_samples: soon\n" + header + good, "line 1: 'soon' is not a number"},
        {"#latency_samples:nan\n" + header + good,
         "line 1: latency_samples must be finite, found 'nan'"},
    };
    for (const Case& c : cases) {
        SavedResponse response;
        response.stepped = {{1, 2, 3, 4, 5}};
        std::string error;
        EXPECT_FALSE(ParseSavedResponse(c.text, response, error)) << c.text;
        EXPECT_EQ(error, c.error) << c.text;
        EXPECT_EQ(response.kind, SavedResponse::Kind::SteppedSweep);
        EXPECT_EQ(response.stepped.size(), 1u);
    }
    // A comment that only begins like the latency's is left alone.
    EXPECT_FALSE(ReadSaved("# latency_samples_note: none\n" + header + good).latencySamples);
}

TEST(SpectrumFile, HasOneRowPerBinAtItsFrequency) {
    RunInfo info = SweepRun();
    info.measurement = "spectrum";
    std::vector<double> levels(4096, -120.5);
    levels[0] = -INFINITY;
    const std::string csv = SpectrumCsv(info, levels, 44100.0 / 8192);

    const std::size_t header = csv.find(std::string("\n") + SpectrumHeader + "\n");
    ASSERT_NE(header, std::string::npos);
    const std::string rows = csv.substr(header + 1 + std::string(SpectrumHeader).size() + 1);
    EXPECT_EQ(std::count(rows.begin(), rows.end(), '\n'), 4096);
    EXPECT_TRUE(rows.starts_with("0,-inf\n5.38330078125,-120.5\n")) << rows.substr(0, 40);
    EXPECT_TRUE(rows.ends_with("\n22044.61669921875,-120.5\n"));
    EXPECT_EQ(SpectrumRow(4095 * (44100.0 / 8192), -3), "22044.61669921875,-3\n");
}

TEST(RunDate, IsLocalTimeWithItsNumericOffset) {
    const auto epoch = std::chrono::system_clock::from_time_t(0);
    {
        TimeZone zone("UTC0");
        EXPECT_EQ(IsoDateTime(epoch), "1970-01-01T00:00:00+00:00");
    }
    {
        TimeZone zone("CET-1");
        EXPECT_EQ(IsoDateTime(epoch + std::chrono::seconds(86399)), "1970-01-02T00:59:59+01:00");
    }
    {
        TimeZone zone("<-0330>3:30");
        EXPECT_EQ(IsoDateTime(epoch), "1969-12-31T20:30:00-03:30");
    }
}

} // namespace
