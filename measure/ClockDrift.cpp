#include "measure/ClockDrift.h"

#include "dsp/SignalFormat.h"
#include "measure/ToneFit.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

namespace {

constexpr double SegmentSeconds = 0.1;
// The tone's power over the rest of a segment's, for it to count. The first
// pass fits at the nominal frequency, where a large drift leaves part of the
// tone in the rest (-15 dB at 1000 ppm and 1 kHz); the second fits at the
// frequency the first found.
constexpr double LeastToneToRestNominal = 1.0;   // 0 dB
constexpr double LeastToneToRestRefined = 100.0; // 20 dB
// A segment with the tone only in part (where it starts or ends) fits a
// smaller amplitude than the steady ones.
constexpr double LeastSteadyAmplitude = 0.9;

struct Segment {
    double startFrame;
    double phase; // radians, of the tone less the nominal tone, at the start
    double amplitude;
    bool carriesTone;
};

// ToneFit counts its frequency against the instrument's fixed rate.
double fitFrequency(double toneHz, double sampleRate) {
    return toneHz * SampleRate / sampleRate;
}

Segment fitSegment(std::span<const std::int16_t> samples, std::size_t start, double toneHz,
                   double sampleRate, double leastToneToRest, std::vector<double>& block) {
    const int n = static_cast<int>(block.size());
    for (int i = 0; i < n; ++i)
        block[i] = samples[start + i] / 32768.0;
    const double frequency = fitFrequency(toneHz, sampleRate);
    const ToneFit fit = FitTone(block.data(), n, frequency);
    SubtractTone(block.data(), n, frequency, fit);
    double rest = 0.0;
    for (double x : block)
        rest += x * x;
    rest /= n;
    // x = A cos(w i + phi) fits cosine = A cos phi, sine = -A sin phi. The
    // nominal tone's own phase at the segment's start is taken away.
    const double nominal =
        std::fmod(2.0 * std::numbers::pi * toneHz / sampleRate * static_cast<double>(start),
                  2.0 * std::numbers::pi);
    return {static_cast<double>(start), std::atan2(-fit.sine, fit.cosine) - nominal,
            fit.Amplitude(), fit.Power() > leastToneToRest * rest};
}

double median(std::vector<double> values) {
    std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
    return values[values.size() / 2];
}

// The segments that carry the tone steadily, from the first to the last;
// empty when one between them does not.
std::vector<Segment> steadyRun(const std::vector<Segment>& segments) {
    std::vector<double> amplitudes;
    for (const Segment& s : segments)
        if (s.carriesTone)
            amplitudes.push_back(s.amplitude);
    if (amplitudes.empty())
        return {};
    const double least = LeastSteadyAmplitude * median(amplitudes);
    const auto steady = [least](const Segment& s) { return s.carriesTone && s.amplitude >= least; };
    const auto first = std::find_if(segments.begin(), segments.end(), steady);
    const auto last = std::find_if(segments.rbegin(), segments.rend(), steady).base();
    if (!std::all_of(first, last, steady))
        return {};
    return {first, last};
}

void unwrap(std::vector<Segment>& run) {
    for (std::size_t k = 1; k < run.size(); ++k) {
        const double step = run[k].phase - run[k - 1].phase;
        run[k].phase -= 2.0 * std::numbers::pi * std::round(step / (2.0 * std::numbers::pi));
    }
}

// The drift of the recorded tone against `toneHz`.
std::optional<ClockDrift> driftAgainst(std::span<const std::int16_t> recording, double toneHz,
                                       double sampleRate, std::size_t length,
                                       double leastToneToRest) {
    std::vector<double> block(length);
    std::vector<Segment> segments;
    for (std::size_t start = 0; start + length <= recording.size(); start += length)
        segments.push_back(
            fitSegment(recording, start, toneHz, sampleRate, leastToneToRest, block));
    std::vector<Segment> run = steadyRun(segments);
    if (run.size() < MinimumClockDriftSegments)
        return std::nullopt;
    unwrap(run);

    // The least-squares line through the phases against time, in frames.
    const double count = static_cast<double>(run.size());
    double meanT = 0.0, meanPhase = 0.0;
    for (const Segment& s : run) {
        meanT += s.startFrame / count;
        meanPhase += s.phase / count;
    }
    double stt = 0.0, stp = 0.0;
    for (const Segment& s : run) {
        stt += (s.startFrame - meanT) * (s.startFrame - meanT);
        stp += (s.startFrame - meanT) * (s.phase - meanPhase);
    }
    const double slope = stp / stt; // radians per frame
    double squares = 0.0;
    for (const Segment& s : run) {
        const double off = s.phase - meanPhase - slope * (s.startFrame - meanT);
        squares += off * off;
    }
    const double perFrameToPpm = 1e6 * sampleRate / (2.0 * std::numbers::pi * toneHz);
    const double slopeError = std::sqrt(squares / (count - 2.0) / stt);
    return ClockDrift{slope * perFrameToPpm, slopeError * perFrameToPpm,
                      std::sqrt(squares / count) * 180.0 / std::numbers::pi,
                      static_cast<int>(run.size())};
}

} // namespace

std::optional<ClockDrift> MeasureClockDrift(std::span<const std::int16_t> recording, double toneHz,
                                            double sampleRate) {
    if (!(sampleRate > 0.0) || !(toneHz > 0.0) || !(toneHz < sampleRate / 2.0))
        return std::nullopt;
    const auto length = static_cast<std::size_t>(std::lround(SegmentSeconds * sampleRate));
    if (length == 0 || recording.size() / length < MinimumClockDriftSegments)
        return std::nullopt;
    const std::optional<ClockDrift> coarse =
        driftAgainst(recording, toneHz, sampleRate, length, LeastToneToRestNominal);
    if (!coarse)
        return std::nullopt;
    const double coarseRatio = 1.0 + coarse->ppm * 1e-6;
    std::optional<ClockDrift> fine =
        driftAgainst(recording, toneHz * coarseRatio, sampleRate, length, LeastToneToRestRefined);
    if (fine)
        fine->ppm = (coarseRatio * (1.0 + fine->ppm * 1e-6) - 1.0) * 1e6;
    return fine;
}
