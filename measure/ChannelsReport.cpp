#include "measure/ChannelsReport.h"

#include "measure/JsonText.h"

#include <vector>

namespace {

std::string OptionalNumber(const std::optional<double>& value) {
    return value ? JsonNumber(*value) : std::string("null");
}

// [[frequency_hz, db], ...] of a crosstalk curve; null where nothing crossed.
std::string CurveJson(const std::optional<Crosstalk>& crosstalk) {
    if (!crosstalk)
        return "null";
    std::vector<std::string> points;
    for (const SweepResponsePoint& point : crosstalk->points)
        points.push_back(JsonArray({JsonNumber(point.frequencyHz), JsonNumber(point.gainDb)}));
    return JsonArray(points);
}

std::string CrosstalkAt1kHz(const std::optional<Crosstalk>& crosstalk) {
    return crosstalk ? OptionalNumber(crosstalk->at1kHzDb) : std::string("null");
}

std::string SilenceJson(const std::optional<Crosstalk>& crosstalk) {
    return !crosstalk ? "null" : crosstalk->digitalSilence ? "true" : "false";
}

std::string MatchJson(const std::optional<ChannelMatch>& match) {
    if (!match)
        return JsonObject({{"gain_difference_db", "null"},
                           {"gain_difference_range_db", "null"},
                           {"phase_difference_deg", "null"}});
    std::vector<std::string> phase;
    for (const PhaseDifference& point : match->phase)
        phase.push_back(JsonArray({JsonNumber(point.frequencyHz), JsonNumber(point.degrees)}));
    return JsonObject({{"gain_difference_db", OptionalNumber(match->at1kHzDb)},
                       {"gain_difference_range_db", JsonArray({OptionalNumber(match->lowestDb),
                                                               OptionalNumber(match->highestDb)})},
                       {"phase_difference_deg", JsonArray(phase)}});
}

} // namespace

std::string ChannelsSummaryText(const ChannelsReport& report) {
    std::string text = "\nChannels\n";
    const auto indent = [](const std::string& lines) {
        std::string out;
        for (std::size_t from = 0; from < lines.size();) {
            const std::size_t end = lines.find('\n', from);
            out += "  " + lines.substr(from, end - from + 1);
            from = end == std::string::npos ? lines.size() : end + 1;
        }
        return out;
    };
    if (report.leftToRight && report.rightToLeft)
        text += indent(CrosstalkText(*report.leftToRight, *report.rightToLeft));
    else
        text += "  Crosstalk: not measured\n";
    if (report.match)
        text += indent(ChannelMatchText(*report.match));
    else
        text += "  Channel match: not measured\n";
    return text;
}

std::string ChannelsTable(const ChannelsReport& report, const FormatLimits& limits) {
    return ReportTable(report.channels[0], limits) + "\n" +
           ReportTable(report.channels[1], limits) + ChannelsSummaryText(report);
}

std::string ChannelsJson(const ChannelsReport& report, const FormatLimits& limits) {
    const auto channel = [&](int index) {
        std::string json = ReportJson(report.channels[index], limits);
        json.pop_back(); // its line end: the object moves in as a member
        return json;
    };
    return JsonObject(
               {{"channels", "2"},
                {"left", channel(0)},
                {"right", channel(1)},
                {"crosstalk_db",
                 JsonObject(
                     {{"left_to_right", CrosstalkAt1kHz(report.leftToRight)},
                      {"right_to_left", CrosstalkAt1kHz(report.rightToLeft)},
                      {"digital_silence",
                       JsonObject({{"left_to_right", SilenceJson(report.leftToRight)},
                                   {"right_to_left", SilenceJson(report.rightToLeft)}})},
                      {"curves", JsonObject({{"left_to_right", CurveJson(report.leftToRight)},
                                             {"right_to_left", CurveJson(report.rightToLeft)}})}})},
                {"channel_match", MatchJson(report.match)}}) +
           "\n";
}
