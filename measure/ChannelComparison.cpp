#include "measure/ChannelComparison.h"

#include "dsp/SignalFormat.h"
#include "measure/NumberFormat.h"
#include "measure/ResponseSummary.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <limits>

namespace {

constexpr double ReferenceHz = 1000;

// In (-180, 180].
double Wrapped(double degrees) {
    const double wrapped = std::remainder(degrees, 360.0);
    return wrapped == -180 ? 180 : wrapped;
}

// Calls pair(a, b) for each point of `first` and the point of `second` at
// the same frequency.
template <typename Point, typename Pair>
void ForEachPair(std::span<const Point> first, std::span<const Point> second, Pair pair) {
    std::size_t j = 0;
    for (const Point& a : first) {
        while (j < second.size() && second[j].frequencyHz < a.frequencyHz)
            ++j;
        if (j < second.size() && second[j].frequencyHz == a.frequencyHz)
            pair(a, second[j]);
    }
}

bool Placed(const ResponsePoint& point) {
    return std::isfinite(point.frequencyHz) && point.frequencyHz > 0;
}

void FindGainFigures(std::span<const ResponsePoint> differences, ChannelMatch& match) {
    match.at1kHzDb = LevelAt1kHz(differences);
    const auto [lowest, highest] =
        DeviationRange(differences, 0, ChannelMatch::BandLowHz, ChannelMatch::BandHighHz);
    if (!std::isnan(lowest)) {
        match.lowestDb = lowest;
        match.highestDb = highest;
    }
}

// A figure that rounds to zero reads the same whichever side it came from.
std::string FigureText(double db, int decimals) {
    std::string text = FixedText(db, decimals);
    if (text.size() > 1 && text.starts_with('-') &&
        text.find_first_not_of("-0.") == std::string::npos)
        text.erase(0, 1);
    return text;
}

} // namespace

SweptSineRatio SweptSineRatioOf(const SweepResponse& measured, const SweepResponse& reference) {
    SweptSineRatio ratio{measured.delaySamples - reference.delaySamples, {}};
    ForEachPair(
        std::span(measured.points), std::span(reference.points),
        [&](const SweepResponsePoint& m, const SweepResponsePoint& r) {
            ratio.points.push_back(
                {m.frequencyHz, m.gainDb - r.gainDb, Wrapped(m.phaseDeg - r.phaseDeg), {}, {}});
        });
    UnwrapPhases(ratio.points);
    return ratio;
}

std::vector<ResponsePoint> SteppedRatio(std::span<const ResponsePoint> measured,
                                        std::span<const ResponsePoint> reference) {
    std::vector<ResponsePoint> ratio;
    ForEachPair(measured, reference, [&](const ResponsePoint& m, const ResponsePoint& r) {
        ratio.push_back({m.frequencyHz, m.levelDb - r.levelDb, m.peakDb - r.peakDb,
                         m.windowGainDb - r.windowGainDb, std::min(m.blocks, r.blocks)});
    });
    return ratio;
}

std::optional<double> LevelAt1kHz(std::span<const ResponsePoint> points) {
    std::vector<ResponsePoint> placed;
    std::copy_if(points.begin(), points.end(), std::back_inserter(placed), Placed);
    const auto above = std::lower_bound(
        placed.begin(), placed.end(), ReferenceHz,
        [](const ResponsePoint& point, double hz) { return point.frequencyHz < hz; });
    if (above == placed.end() || !std::isfinite(above->levelDb))
        return std::nullopt;
    if (above->frequencyHz == ReferenceHz)
        return above->levelDb;
    if (above == placed.begin())
        return std::nullopt;
    const ResponsePoint& below = *std::prev(above);
    if (!std::isfinite(below.levelDb))
        return std::nullopt;
    const double fraction = std::log(ReferenceHz / below.frequencyHz) /
                            std::log(above->frequencyHz / below.frequencyHz);
    return below.levelDb + fraction * (above->levelDb - below.levelDb);
}

Crosstalk CrosstalkOf(const SweepResponse& driven, const SweepResponse& silent) {
    Crosstalk crosstalk{SweptSineRatioOf(silent, driven).points, false, std::nullopt};
    // A windowed sum of anything but zeros is never exactly zero.
    constexpr double Nothing = -std::numeric_limits<double>::infinity();
    crosstalk.digitalSilence =
        std::any_of(silent.points.begin(), silent.points.end(),
                    [](const SweepResponsePoint& p) { return p.gainDb == Nothing; });
    if (!crosstalk.digitalSilence)
        crosstalk.at1kHzDb = LevelAt1kHz(LevelPoints(crosstalk.points, 0));
    return crosstalk;
}

std::optional<double> ChannelMatch::RangeDb() const {
    if (!lowestDb || !highestDb)
        return std::nullopt;
    return *highestDb - *lowestDb;
}

ChannelMatch MatchChannels(const SweepResponse& left, const SweepResponse& right) {
    const SweptSineRatio ratio = SweptSineRatioOf(left, right);
    ChannelMatch match;
    FindGainFigures(LevelPoints(ratio.points, 0), match);
    // The ratio's phase has the difference of the delays taken out; put back.
    for (const SweepResponsePoint& point : ratio.points) {
        const double degrees = point.phaseDeg - 360 * point.frequencyHz * ratio.delaySamples /
                                                    static_cast<double>(SampleRate);
        if (std::isfinite(degrees))
            match.phase.push_back({point.frequencyHz, Wrapped(degrees)});
    }
    return match;
}

ChannelMatch MatchChannels(std::span<const ResponsePoint> left,
                           std::span<const ResponsePoint> right) {
    ChannelMatch match;
    FindGainFigures(SteppedRatio(left, right), match);
    return match;
}

std::string CrosstalkFigureText(const Crosstalk& crosstalk) {
    if (crosstalk.digitalSilence)
        return "digital silence";
    return crosstalk.at1kHzDb ? FigureText(*crosstalk.at1kHzDb, 1) + " dB" : "not measured";
}

std::string CrosstalkText(const Crosstalk& leftToRight, const Crosstalk& rightToLeft) {
    return "Crosstalk at 1 kHz: left to right " + CrosstalkFigureText(leftToRight) +
           ", right to left " + CrosstalkFigureText(rightToLeft) + "\n";
}

std::string ChannelMatchText(const ChannelMatch& match) {
    const std::string at1kHz =
        match.at1kHzDb ? FigureText(*match.at1kHzDb, 2) + " dB (left - right)" : "not measured";
    const std::string band = match.lowestDb ? FigureText(*match.lowestDb, 2) + " to " +
                                                  FigureText(*match.highestDb, 2) + " dB"
                                            : "not measured";
    return "Channel match at 1 kHz: " + at1kHz + "; 20 Hz - 20 kHz: " + band + "\n";
}
