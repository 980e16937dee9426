// Figures of one input channel against the other, from responses of the
// same run: crosstalk (a channel that is not driven re one that is), channel
// match (left re right) and a channel measured re a reference channel.
//
// Swept-sine responses compared here must share one time base: the second
// channel's analysis takes its recordings through SweepAnalysis::AddAlignedTo
// with the first channel's. Points are paired by equal frequency; both lists
// are expected in ascending frequency, as the analyses and sweeps give them.
#pragma once

#include "measure/ResponsePoint.h"
#include "measure/SweepAnalysis.h"
#include "measure/SweepResponsePoint.h"

#include <optional>
#include <span>
#include <string>
#include <vector>

// One channel's swept-sine response re another's, in the form of a single
// channel's response, so that what shows or writes one (SweptSineSummaryText,
// SweptSineCsv) shows or writes this.
struct SweptSineRatio {
    // The measured channel's delay less the reference channel's: the delay of
    // what lies between them.
    double delaySamples;
    // At each frequency both hold: gain and phase measured less reference,
    // the phase with delaySamples removed, wrapped to (-180, 180] at the point
    // nearest 1 kHz and unwrapped along the points from there. No harmonics:
    // each channel's own are in its own response.
    std::vector<SweepResponsePoint> points;
};

// `measured` over `reference`, frequency by frequency.
SweptSineRatio SweptSineRatioOf(const SweepResponse& measured, const SweepResponse& reference);

// `measured` over `reference`, point by point at the frequencies both hold:
// each level, peak and window gain measured less reference (so that level is
// still peak less window gain), and the fewer of the two blocks.
std::vector<ResponsePoint> SteppedRatio(std::span<const ResponsePoint> measured,
                                        std::span<const ResponsePoint> reference);

// The value at 1 kHz of the levels at the points (in ascending frequency):
// a point's own at 1000 Hz, else interpolated linearly in dB over
// log(frequency) between the points next below and next above it; none
// when either is missing or its level is not finite (never a value taken
// from farther away).
std::optional<double> LevelAt1kHz(std::span<const ResponsePoint> points);

// Crosstalk: what a channel that is not driven picks up of the driven one.
struct Crosstalk {
    // Silent channel less driven channel (gain and phase, dB and degrees) at
    // each frequency both hold; -infinity where the silent channel held
    // digital silence.
    std::vector<SweepResponsePoint> points;
    // The silent channel recorded nothing but zeros: there is no figure,
    // only the fact that nothing crossed over.
    bool digitalSilence;
    // The gain at 1 kHz (LevelAt1kHz of the gains); none when digital
    // silence or not measured there.
    std::optional<double> at1kHzDb;
};

// From the driven channel's response (SweepAnalysis::Analyse) and the
// silent channel's from the same recordings, aligned to the driven one and
// read at its peak (AddAlignedTo, AnalyseAt with the driven delaySamples).
Crosstalk CrosstalkOf(const SweepResponse& driven, const SweepResponse& silent);

struct PhaseDifference {
    double frequencyHz;
    double degrees;
};

// How closely two channels match, left re right.
struct ChannelMatch {
    // Gain (or level) left less right at 1 kHz, as LevelAt1kHz reads it.
    std::optional<double> at1kHzDb;
    // The lowest and highest of that difference at the points in
    // BandLowHz..BandHighHz; none when no point there has both levels.
    std::optional<double> lowestDb;
    std::optional<double> highestDb;
    // Swept sine only: the phase of left re right, the difference of their
    // delays included, wrapped to (-180, 180], at each frequency both hold.
    std::vector<PhaseDifference> phase;

    static constexpr double BandLowHz = 20;
    static constexpr double BandHighHz = 20000;
    // highestDb less lowestDb.
    std::optional<double> RangeDb() const;
};

// From the left and right responses of one run, on one time base.
ChannelMatch MatchChannels(const SweepResponse& left, const SweepResponse& right);
// From the levels of a two-channel stepped sweep.
ChannelMatch MatchChannels(std::span<const ResponsePoint> left,
                           std::span<const ResponsePoint> right);

// A crosstalk figure as the lines below show it: "-70.0 dB", "digital
// silence" or "not measured".
std::string CrosstalkFigureText(const Crosstalk& crosstalk);

// Lines for standard error, e.g.
// "Crosstalk at 1 kHz: left to right -70.0 dB, right to left -70.1 dB\n".
std::string CrosstalkText(const Crosstalk& leftToRight, const Crosstalk& rightToLeft);

// "Channel match at 1 kHz: 0.30 dB (left - right); 20 Hz - 20 kHz: 0.28 to
// 0.31 dB\n", with "not measured" for a figure that was not.
std::string ChannelMatchText(const ChannelMatch& match);
