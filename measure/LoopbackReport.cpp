#include "measure/LoopbackReport.h"

#include "dsp/SignalFormat.h"
#include "measure/BandPower.h"
#include "measure/ClockDrift.h"
#include "measure/JsonText.h"
#include "measure/NumberFormat.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {

constexpr double NotMeasured = LoopbackReport::NotMeasured;

// SummariseResponse takes the point nearest 1 kHz on a log axis for its
// reference; among the planned frequencies that is this one.
constexpr double NominalReferenceHz = 1000;

double PlannedReferenceHz(std::span<const double> planHz) {
    const auto octavesAway = [](double hz) { return std::abs(std::log2(hz / NominalReferenceHz)); };
    const auto nearest = std::min_element(planHz.begin(), planHz.end(), [&](double a, double b) {
        return octavesAway(a) < octavesAway(b);
    });
    return nearest == planHz.end() ? NotMeasured : *nearest;
}

bool SameFrequency(double a, double b) {
    return std::abs(a - b) <= 1e-9 * std::abs(b);
}

// Every planned frequency in [lowHz, highHz] has its point.
bool BandMeasured(const LoopbackReport& report, std::span<const double> planHz, double lowHz,
                  double highHz) {
    const auto inBand = [&](double hz) { return hz >= lowHz && hz <= highHz; };
    return std::count_if(planHz.begin(), planHz.end(), inBand) ==
           std::count_if(report.points.begin(), report.points.end(),
                         [&](const ResponsePoint& point) { return inBand(point.frequencyHz); });
}

double Percent(double db) {
    return 100 * std::pow(10.0, db / 20);
}

struct Limited {
    bool thd, thdN, dynamicRange, noise;
};

Limited AtFormatLimit(const LoopbackReport& report, const FormatLimits& limits) {
    const bool distortion = report.Measured(ReportPart::Distortion);
    return {distortion && report.distortion.thdDb < limits.thdDb + FormatLimitMarginDb,
            distortion && report.distortion.thdNDb < limits.thdNDb + FormatLimitMarginDb,
            report.Measured(ReportPart::DynamicRange) &&
                report.dynamicRangeDbA > limits.dynamicRangeDbA - FormatLimitMarginDb,
            report.Measured(ReportPart::Noise) && !report.digitalSilence &&
                report.noiseDbfs < limits.noiseDbfs + FormatLimitMarginDb};
}

class Table {
  public:
    void Heading(const std::string& text) { m_text += "\n" + text + "\n"; }
    void Line(const std::string& name, std::string value, const std::string& unit,
              bool atLimit = false, bool clipped = false) {
        // A device's name must not break the table.
        std::replace_if(
            value.begin(), value.end(), [](char c) { return c == '\n' || c == '\r'; }, ' ');
        std::string line = "  " + name;
        line.resize(std::max<std::size_t>(line.size() + 1, 36), ' ');
        m_text += line + value + (unit.empty() ? "" : " " + unit) +
                  (atLimit ? "   (at the 16-bit limit: measures the format, not the card)" : "") +
                  (clipped ? "   (clipped: samples reached full scale)" : "") + "\n";
    }
    void Text(const std::string& text) { m_text += text; }
    // A note after the line written last.
    void Mark(const std::string& note) {
        m_text.pop_back();
        m_text += "   (" + note + ")\n";
    }
    const std::string& str() const { return m_text; }

  private:
    std::string m_text;
};

// The report's tone at `dbfs` as perfect 16-bit samples: rounded, as the
// playback thread plays it for the report.
DistortionMeter::Result MeasureRoundedTone(double dbfs, int fftSize) {
    DistortionMeter meter(ReportToneHz, fftSize);
    std::vector<double> block(fftSize);
    const double peak = std::pow(10.0, dbfs / 20) * (SampleFullScale - 1);
    long long n = 0;
    for (int b = 0; b < ReportBlocksPerFigure; ++b) {
        for (double& x : block)
            x = std::round(std::sin(2 * std::numbers::pi * ReportToneHz * n++ / SampleRate) *
                           peak) /
                SampleFullScale;
        meter.Add(block.data());
    }
    return meter.Compute();
}

// A -3 dB point where the response crosses it; "not reached" only when the
// points that could have crossed were all measured.
std::string Corner(const std::optional<double>& hz, bool allMeasured) {
    return hz ? SignificantText(*hz, 6) : allMeasured ? "not reached" : "not measured";
}

void RangeLine(Table& table, const std::string& name, const std::pair<double, double>& range) {
    if (std::isfinite(range.first) && std::isfinite(range.second))
        table.Line(name, FixedText(range.first, 2) + " to " + FixedText(range.second, 2), "dB");
    else
        table.Line(name, "not measured", "");
}

// "100 Hz", "6.3 kHz".
std::string FrequencyName(double hz) {
    return hz >= 1000 ? SignificantText(hz / 1000, 4) + " kHz" : SignificantText(hz, 4) + " Hz";
}

// "-80.2 dB", or "-" for one not given.
std::string DecibelText(const std::optional<double>& db) {
    return db ? FixedText(*db, 1) + " dB" : "-";
}

std::string OptionalJson(const std::optional<double>& value) {
    return value ? JsonNumber(*value) : std::string("null");
}

constexpr const char* PartNames[ReportPartCount] = {"frequency response", "distortion",
                                                    "dynamic range", "noise"};

std::string PointCount(const LoopbackReport& report) {
    return std::to_string(report.points.size()) +
           (report.points.size() < report.plannedPoints
                ? " of " + std::to_string(report.plannedPoints)
                : "") +
           " points";
}

// What an incomplete report holds: the parts measured (the sweep's points
// when it stopped in the sweep) and those not measured.
void ListParts(Table& table, const LoopbackReport& report) {
    std::string measured = "loop check", notMeasured;
    for (std::size_t part = 0; part < ReportPartCount; ++part) {
        const bool partly =
            part == static_cast<std::size_t>(ReportPart::Response) && !report.points.empty();
        if (report.measured.test(part))
            measured += std::string(", ") + PartNames[part];
        else if (partly)
            measured += std::string(", ") + PartNames[part] + " (" + PointCount(report) + ")";
        else
            notMeasured += (notMeasured.empty() ? "" : ", ") + std::string(PartNames[part]);
    }
    table.Line("stopped", report.stopReason.empty() ? "early" : report.stopReason, "");
    table.Line("measured", measured, "");
    table.Line("not measured", notMeasured, "");
}

// Null until the swept sine's response is measured.
std::string DistortionJson(const LoopbackReport& report) {
    if (report.distortionTable.empty())
        return "null";
    std::vector<std::string> at;
    for (const SweepResponsePoint& point : report.distortionTable)
        at.push_back(JsonObject({{"frequency_hz", JsonNumber(point.frequencyHz)},
                                 {"h2_db", OptionalJson(point.harmonicsDb[0])},
                                 {"h3_db", OptionalJson(point.harmonicsDb[1])},
                                 {"thd_db", OptionalJson(point.thdDb)}}));
    std::vector<std::string> points;
    for (const SweepResponsePoint& point : report.distortionCurve) {
        std::vector<std::string> row{JsonNumber(point.frequencyHz)};
        for (const std::optional<double>& harmonic : point.harmonicsDb)
            row.push_back(OptionalJson(harmonic));
        row.push_back(OptionalJson(point.thdDb));
        points.push_back(JsonArray(row));
    }
    return JsonObject({{"at", JsonArray(at)},
                       {"points", JsonArray(points)},
                       {"clipped", report.sweepClipped ? "true" : "false"}});
}

} // namespace

FormatLimits SixteenBitLimits(int fftSize) {
    const double lsb = 1 / SampleFullScale;
    const double rounding = lsb * lsb / 12;
    // White noise over 20 Hz to 20 kHz, counted bin by bin as the noise is.
    double inBand = 0, inBandA = 0;
    const double binWidth = SampleRate / fftSize;
    for (int k = 0; k < fftSize / 2; ++k) {
        const double f = k * binWidth;
        if (f < WideBandLowHz || f > WideBandHighHz)
            continue;
        inBand += 1;
        inBandA += std::pow(10.0, AWeightingDb(f) / 10);
    }
    const double share = inBand / (fftSize / 2), shareA = inBandA / (fftSize / 2);
    const DistortionMeter::Result loud = MeasureRoundedTone(DistortionToneDbfs, fftSize);
    const DistortionMeter::Result quiet = MeasureRoundedTone(DynamicRangeToneDbfs, fftSize);
    return {loud.thdDb, loud.thdNDb, -quiet.residualDbfsA, PowerDbfs(rounding * share),
            PowerDbfs(rounding * shareA)};
}

void SummariseReportResponse(LoopbackReport& report, std::span<const double> planHz) {
    report.plannedPoints = planHz.size();
    report.response = SummariseResponse(report.points, WideBandLowHz, WideBandHighHz);
    report.narrowDeviationDb = report.wideDeviationDb = {NotMeasured, NotMeasured};
    const double referenceHz = PlannedReferenceHz(planHz);
    if (!report.response.valid || !SameFrequency(report.response.referenceHz, referenceHz)) {
        // The point nearest 1 kHz among those measured is some other point.
        report.response = {};
        report.response.referenceHz = referenceHz;
        report.response.referenceDb = NotMeasured;
        return;
    }
    const double referenceDb = report.response.referenceDb;
    if (BandMeasured(report, planHz, NarrowBandLowHz, NarrowBandHighHz))
        report.narrowDeviationDb =
            DeviationRange(report.points, referenceDb, NarrowBandLowHz, NarrowBandHighHz);
    if (BandMeasured(report, planHz, WideBandLowHz, WideBandHighHz))
        report.wideDeviationDb =
            DeviationRange(report.points, referenceDb, WideBandLowHz, WideBandHighHz);
}

std::string ReportTable(const LoopbackReport& report, const FormatLimits& limits) {
    const RunInfo& run = report.run;
    const Limited limited = AtFormatLimit(report, limits);
    Table table;
    table.Text("Tembrix " + run.version + " loop-back report" +
               (report.channel.empty() ? "" : ", " + report.channel + " channel") +
               (report.Complete() ? "" : " (incomplete)") + ", " + run.dateTime + "\n");
    table.Line("audio", run.audio, "");
    if (!report.referenceChannel.empty())
        table.Line("reference channel", report.referenceChannel + " (the response is re it)", "");
    table.Line("input", run.inputDevice, "");
    table.Line("output", run.outputDevice, "");
    if (report.method == ResponseMethod::SweptSine)
        table.Line("sweep level, method", run.level + ", swept sine", "");
    else
        table.Line("sweep level, window", run.level + ", " + run.window, "");
    if (!report.Complete())
        ListParts(table, report);

    if (report.audioPath) {
        // The line's parts, one a line.
        table.Heading("Audio path");
        std::string line =
            AudioPathLine(*report.audioPath).substr(std::string("Audio path: ").size());
        for (std::size_t from = 0; from < line.size();) {
            const std::size_t end = std::min(line.find("; ", from), line.size());
            table.Text("  " + line.substr(from, end - from) + "\n");
            from = end + 2;
        }
    }
    table.Heading("Clocks");
    table.Line("drift, output re input",
               report.driftPpm ? FixedText(*report.driftPpm, 2) : "not measured",
               report.driftPpm ? "ppm" : "");
    if (report.driftPpm && ClocksOfTheirOwn(*report.driftPpm))
        table.Mark("beyond " + FixedText(ClockDriftFlagPpm, 0) + " ppm: clocks of their own" +
                   (report.method == ResponseMethod::SweptSine
                        ? "; the swept sine is corrected for it"
                        : ""));
    const bool resampled = report.audioPath && report.audioPath->resampling;
    const char* const ResampledNote = "resampled: the sound server's above about 15 kHz";

    const ResponseSummary& response = report.response;
    // The sweep runs upward: one that reached its reference measured every
    // point below it, but above it only the whole sweep can tell that -3 dB
    // is not reached.
    const bool swept = report.points.size() >= report.plannedPoints;
    const bool sweptSine = report.method == ResponseMethod::SweptSine;
    table.Heading(std::string("Frequency response (") +
                  (sweptSine ? "swept sine, " : "stepped sweep, ") + PointCount(report) + ")");
    if (sweptSine)
        table.Line("delay",
                   std::isfinite(report.latencySamples)
                       ? FixedText(report.latencySamples * 1000 / SampleRate, 3) + " ms (" +
                             FixedText(report.latencySamples, 1) + " samples)"
                       : "not measured",
                   "");
    table.Line("level at " + SignificantText(response.referenceHz, 6) + " Hz",
               response.valid ? FixedText(response.referenceDb, 2) : "not measured",
               response.valid ? "dB" : "");
    RangeLine(table, "deviation 40 Hz - 15 kHz", report.narrowDeviationDb);
    RangeLine(table, "deviation 20 Hz - 20 kHz", report.wideDeviationDb);
    if (resampled)
        table.Mark(ResampledNote);
    table.Line("-3 dB below", Corner(response.minus3dbLowHz, response.valid),
               response.minus3dbLowHz ? "Hz" : "");
    table.Line("-3 dB above", Corner(response.minus3dbHighHz, response.valid && swept),
               response.minus3dbHighHz ? "Hz" : "");
    if (resampled)
        table.Mark(ResampledNote);

    table.Heading(sweptSine ? "Distortion against frequency (swept sine at " + run.level +
                                  ", re the fundamental)"
                            : std::string("Distortion against frequency"));
    if (!sweptSine)
        table.Text("  not measured: the stepped sweep measures no harmonics\n");
    else if (report.distortionTable.empty())
        table.Text("  not measured\n");
    for (const SweepResponsePoint& point : report.distortionTable) {
        table.Line("at " + FrequencyName(point.frequencyHz),
                   "H2 " + DecibelText(point.harmonicsDb[0]) + ", H3 " +
                       DecibelText(point.harmonicsDb[1]) + ", THD " + DecibelText(point.thdDb),
                   "", false, report.sweepClipped);
        // The resampler's own products fall into the harmonics' windows.
        if (resampled)
            table.Mark("resampled: the sound server's resampler adds its own products");
    }

    const DistortionMeter::Result& d = report.distortion;
    table.Heading("Distortion (997 Hz at -1 dBFS)");
    if (!report.Measured(ReportPart::Distortion)) {
        table.Text("  not measured\n");
    } else {
        table.Line("THD", FixedText(d.thdDb, 1) + " dB, " + SignificantText(Percent(d.thdDb), 3),
                   "%", limited.thd, d.clipped);
        for (std::size_t i = 0; i < d.harmonicsDb.size(); ++i)
            table.Line("  harmonic " + std::to_string(i + 2), FixedText(d.harmonicsDb[i], 1), "dB");
        table.Line("THD+N (20 Hz - 20 kHz)",
                   FixedText(d.thdNDb, 1) + " dB, " + SignificantText(Percent(d.thdNDb), 3), "%",
                   limited.thdN, d.clipped);
    }

    table.Heading("Dynamic range (997 Hz at -60 dBFS)");
    if (!report.Measured(ReportPart::DynamicRange))
        table.Text("  not measured\n");
    else
        table.Line("dynamic range", FixedText(report.dynamicRangeDbA, 1), "dB(A)",
                   limited.dynamicRange);

    table.Heading("Noise (tone off, 20 Hz - 20 kHz)");
    if (!report.Measured(ReportPart::Noise)) {
        table.Text("  not measured\n");
    } else if (report.digitalSilence) {
        table.Line("noise", "digital silence", "");
    } else {
        table.Line("noise", FixedText(report.noiseDbfs, 1), "dBFS", limited.noise);
        table.Line("noise, A-weighted", FixedText(report.noiseDbfsA, 1), "dBFS(A)", limited.noise);
    }

    table.Heading("Integrity");
    table.Line("dropped blocks", std::to_string(report.droppedBlocks), "");
    table.Line("gaps in the input", std::to_string(report.gaps), "");
    table.Line("gaps in the output", std::to_string(report.outputGaps), "");
    table.Line("streams reopened", std::to_string(report.streamReopens), "");
    table.Line("points that met noise lines", std::to_string(report.noisyPoints), "");
    return table.str();
}

std::string ReportJson(const LoopbackReport& report, const FormatLimits& limits) {
    const RunInfo& run = report.run;
    const DistortionMeter::Result& d = report.distortion;
    const Limited limited = AtFormatLimit(report, limits);
    const auto number = [&](ReportPart part, double value) {
        return report.Measured(part) ? JsonNumber(value) : std::string("null");
    };
    const auto boolean = [&](ReportPart part, bool value) {
        return !report.Measured(part) ? "null" : value ? "true" : "false";
    };
    const auto range = [](const std::pair<double, double>& p) {
        return JsonArray({JsonNumber(p.first), JsonNumber(p.second)});
    };
    const auto corner = [](const std::optional<double>& hz) {
        return hz ? JsonNumber(*hz) : std::string("null");
    };
    const auto noise = [&](double dbfs) {
        return report.digitalSilence ? std::string("null") : number(ReportPart::Noise, dbfs);
    };
    std::vector<std::string> points;
    for (const ResponsePoint& point : report.points)
        points.push_back(JsonArray({JsonNumber(point.frequencyHz), JsonNumber(point.levelDb)}));
    std::vector<std::string> harmonics;
    for (double h : d.harmonicsDb)
        harmonics.push_back(JsonNumber(h));
    std::vector<std::string> atLimit;
    for (const auto& [flag, key] :
         {std::pair{limited.thd, "thd"}, std::pair{limited.thdN, "thd_n"},
          std::pair{limited.dynamicRange, "dynamic_range_db_a"}, std::pair{limited.noise, "noise"}})
        if (flag)
            atLimit.push_back(JsonString(key));

    // Those that the sound server's resampler decides above about 15 kHz.
    std::vector<std::string> resampledFigures;
    if (report.audioPath && report.audioPath->resampling)
        for (const char* key : {"deviation_20_20k_db", "minus3db_high_hz", "thd_vs_frequency"})
            resampledFigures.push_back(JsonString(key));

    const ResponseSummary& r = report.response;
    const bool sweptSine = report.method == ResponseMethod::SweptSine;
    const std::string response =
        JsonObject({{"method", JsonString(sweptSine ? "swept_sine" : "stepped_sweep")},
                    {"reference_hz", JsonNumber(r.referenceHz)},
                    {"reference_db", r.valid ? JsonNumber(r.referenceDb) : "null"},
                    {"deviation_40_15k_db", range(report.narrowDeviationDb)},
                    {"deviation_20_20k_db", range(report.wideDeviationDb)},
                    {"minus3db_low_hz", corner(r.minus3dbLowHz)},
                    {"minus3db_high_hz", corner(r.minus3dbHighHz)},
                    {"points", JsonArray(points)}});
    const bool distortion = report.Measured(ReportPart::Distortion);
    return JsonObject(
               {{"version", JsonString(run.version)},
                {"date", JsonString(run.dateTime)},
                {"channel", report.channel.empty() ? "null" : JsonString(report.channel)},
                {"reference_channel",
                 report.referenceChannel.empty() ? "null" : JsonString(report.referenceChannel)},
                {"complete", report.Complete() ? "true" : "false"},
                {"audio", JsonString(run.audio)},
                {"input", JsonString(run.inputDevice)},
                {"output", JsonString(run.outputDevice)},
                {"sweep_level", JsonString(run.level)},
                {"window", sweptSine ? "null" : JsonString(run.window)},
                {"response", response},
                {"latency_samples", JsonNumber(report.latencySamples)},
                {"thd_vs_frequency", DistortionJson(report)},
                {"thd", JsonObject({{"db", number(ReportPart::Distortion, d.thdDb)},
                                    {"percent", number(ReportPart::Distortion, Percent(d.thdDb))},
                                    {"harmonics_db", distortion ? JsonArray(harmonics) : "null"},
                                    {"clipped", boolean(ReportPart::Distortion, d.clipped)}})},
                {"thd_n",
                 JsonObject({{"db", number(ReportPart::Distortion, d.thdNDb)},
                             {"percent", number(ReportPart::Distortion, Percent(d.thdNDb))}})},
                {"dynamic_range_db_a", number(ReportPart::DynamicRange, report.dynamicRangeDbA)},
                {"noise", JsonObject({{"dbfs", noise(report.noiseDbfs)},
                                      {"dbfs_a", noise(report.noiseDbfsA)},
                                      {"digital_silence",
                                       boolean(ReportPart::Noise, report.digitalSilence)}})},
                {"integrity", JsonObject({{"dropped_blocks", std::to_string(report.droppedBlocks)},
                                          {"gaps", std::to_string(report.gaps)},
                                          {"output_gaps", std::to_string(report.outputGaps)},
                                          {"stream_reopens", std::to_string(report.streamReopens)},
                                          {"noisy_points", std::to_string(report.noisyPoints)}})},
                {"at_format_limit", JsonArray(atLimit)},
                {"audio_path",
                 report.audioPath ? AudioPathJson(*report.audioPath, report.driftPpm) : "null"},
                {"resampled_figures", JsonArray(resampledFigures)},
                {"drift_ppm", report.driftPpm ? JsonNumber(*report.driftPpm) : "null"}}) +
           "\n";
}
