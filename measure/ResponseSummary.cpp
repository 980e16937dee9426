#include "measure/ResponseSummary.h"

#include "dsp/SignalFormat.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <iterator>
#include <limits>
#include <vector>

namespace {

constexpr double ReferenceHz = 1000;
constexpr double DropDb = 3;
constexpr int LevelDecimals = 2;
constexpr int FrequencyDigits = 6;

bool Usable(const ResponsePoint& point) {
    return std::isfinite(point.levelDb) && std::isfinite(point.frequencyHz) &&
           point.frequencyHz > 0;
}

bool InRange(const ResponsePoint& point, double lowHz, double highHz) {
    return point.frequencyHz >= lowHz && point.frequencyHz <= highHz;
}

std::vector<ResponsePoint> UsablePointsByFrequency(std::span<const ResponsePoint> points) {
    std::vector<ResponsePoint> usable;
    std::copy_if(points.begin(), points.end(), std::back_inserter(usable), Usable);
    std::stable_sort(usable.begin(), usable.end(),
                     [](const ResponsePoint& a, const ResponsePoint& b) {
                         return a.frequencyHz < b.frequencyHz;
                     });
    return usable;
}

double OctavesFromReference(const ResponsePoint& point) {
    return std::abs(std::log2(point.frequencyHz / ReferenceHz));
}

// Where the straight line from `above` to `below`, in dB over log10 of the
// frequency, reaches levelDb.
double CrossingHz(const ResponsePoint& above, const ResponsePoint& below, double levelDb) {
    const double fraction = (levelDb - above.levelDb) / (below.levelDb - above.levelDb);
    const double logAbove = std::log10(above.frequencyHz);
    const double logBelow = std::log10(below.frequencyHz);
    return std::pow(10.0, logAbove + fraction * (logBelow - logAbove));
}

// Walks from the reference towards `end`; every point passed lies above
// thresholdDb, so the pair that stops the walk encloses it.
template <typename Iterator>
std::optional<double> FirstCrossingHz(Iterator reference, Iterator end, double thresholdDb) {
    for (Iterator previous = reference, current = std::next(reference); current != end;
         previous = current++) {
        if (current->levelDb <= thresholdDb)
            return CrossingHz(*previous, *current, thresholdDb);
    }
    return std::nullopt;
}

void FindLargestDeviation(std::span<const ResponsePoint> points, ResponseSummary& summary) {
    for (const ResponsePoint& point : points) {
        if (!InRange(point, summary.lowHz, summary.highHz))
            continue;
        const double deviationDb = point.levelDb - summary.referenceDb;
        if (summary.largestDeviationHz == 0 ||
            std::abs(deviationDb) > std::abs(summary.largestDeviationDb)) {
            summary.largestDeviationDb = deviationDb;
            summary.largestDeviationHz = point.frequencyHz;
        }
    }
}

template <typename Number>
std::string CharsText(Number value, std::chars_format format, int precision) {
    // Fixed notation of the largest double takes 309 digits before the point.
    std::array<char, 330> buffer;
    const auto end =
        std::to_chars(buffer.data(), buffer.data() + buffer.size(), value, format, precision).ptr;
    return std::string(buffer.data(), end);
}

std::string LevelText(double levelDb) {
    std::string text = CharsText(levelDb, std::chars_format::fixed, LevelDecimals);
    // A level that rounds to zero reads the same whichever side it came from.
    if (text == "-0.00")
        text.erase(0, 1);
    return text;
}

std::string FrequencyText(double frequencyHz) {
    return CharsText(frequencyHz, std::chars_format::general, FrequencyDigits) + " Hz";
}

std::string RangeBoundText(double frequencyHz) {
    if (frequencyHz >= 1000)
        return CharsText(frequencyHz / 1000, std::chars_format::general, FrequencyDigits) + " kHz";
    return FrequencyText(frequencyHz);
}

std::string CornerText(const std::optional<double>& frequencyHz) {
    return frequencyHz ? FrequencyText(*frequencyHz) : "not reached";
}

std::string LargestDeviationText(const ResponseSummary& summary) {
    const std::string range =
        RangeBoundText(summary.lowHz) + " - " + RangeBoundText(summary.highHz);
    if (summary.largestDeviationHz == 0)
        return "Largest deviation " + range + ": no point in range\n";
    return "Largest deviation " + range + ": " + LevelText(summary.largestDeviationDb) + " dB at " +
           FrequencyText(summary.largestDeviationHz) + "\n";
}

std::string DeviationRangeText(std::span<const ResponsePoint> points, double referenceDb,
                               double lowHz, double highHz) {
    const auto [lowest, highest] = DeviationRange(points, referenceDb, lowHz, highHz);
    const std::string range = "Deviation " + RangeBoundText(lowHz) + " - " + RangeBoundText(highHz);
    if (std::isnan(lowest))
        return range + ": no point in range\n";
    return range + ": " + LevelText(lowest) + " to " + LevelText(highest) + " dB\n";
}

std::string DecibelText(const std::optional<double>& db) {
    return db ? CharsText(*db, std::chars_format::fixed, 1) + " dB" : "not measured";
}

} // namespace

ResponseSummary SummariseResponse(std::span<const ResponsePoint> points, double lowHz,
                                  double highHz) {
    ResponseSummary summary;
    summary.lowHz = lowHz;
    summary.highHz = highHz;
    const std::vector<ResponsePoint> usable = UsablePointsByFrequency(points);
    if (usable.empty())
        return summary;

    const auto reference =
        std::min_element(usable.begin(), usable.end(), [](const auto& a, const auto& b) {
            return OctavesFromReference(a) < OctavesFromReference(b);
        });
    summary.valid = true;
    summary.referenceHz = reference->frequencyHz;
    summary.referenceDb = reference->levelDb;
    FindLargestDeviation(usable, summary);

    const double thresholdDb = summary.referenceDb - DropDb;
    summary.minus3dbLowHz = FirstCrossingHz(std::make_reverse_iterator(std::next(reference)),
                                            usable.rend(), thresholdDb);
    summary.minus3dbHighHz = FirstCrossingHz(reference, usable.end(), thresholdDb);
    return summary;
}

std::pair<double, double> DeviationRange(std::span<const ResponsePoint> points, double referenceDb,
                                         double lowHz, double highHz) {
    // fmin and fmax take the other operand when one is not a number.
    double lowest = std::numeric_limits<double>::quiet_NaN();
    double highest = lowest;
    for (const ResponsePoint& point : points) {
        if (!Usable(point) || !InRange(point, lowHz, highHz))
            continue;
        lowest = std::fmin(lowest, point.levelDb - referenceDb);
        highest = std::fmax(highest, point.levelDb - referenceDb);
    }
    return {lowest, highest};
}

std::string SummaryText(const ResponseSummary& summary) {
    if (!summary.valid)
        return "No response to summarise: no point was measured\n";
    return "Reference: " + LevelText(summary.referenceDb) + " dB at " +
           FrequencyText(summary.referenceHz) + "\n" + LargestDeviationText(summary) +
           "-3 dB: " + CornerText(summary.minus3dbLowHz) + " and " +
           CornerText(summary.minus3dbHighHz) + "\n";
}

std::string SweptSineSummaryText(double delaySamples, std::span<const SweepResponsePoint> points) {
    std::string text =
        "Delay: " + CharsText(delaySamples, std::chars_format::fixed, 1) + " samples (" +
        CharsText(delaySamples * 1000 / SampleRate, std::chars_format::fixed, 3) + " ms)\n";
    const std::vector<ResponsePoint> gains = LevelPoints(points, 0);
    const ResponseSummary summary = SummariseResponse(gains);
    text += SummaryText(summary);
    if (!summary.valid)
        return text;
    text += DeviationRangeText(gains, summary.referenceDb, 40, 15000);
    text += DeviationRangeText(gains, summary.referenceDb, 20, 20000);
    const auto reference = std::find_if(points.begin(), points.end(), [&](const auto& point) {
        return point.frequencyHz == summary.referenceHz;
    });
    if (reference == points.end())
        return text;
    return text + "THD at " + FrequencyText(summary.referenceHz) + ": " +
           DecibelText(reference->thdDb) + " (H2 " + DecibelText(reference->harmonicsDb[0]) +
           ", H3 " + DecibelText(reference->harmonicsDb[1]) + ")\n";
}
