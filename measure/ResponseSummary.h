// The figures a user reads off a measured frequency response: its level at
// 1 kHz, how far it strays from that over the audio band, and where it falls
// 3 dB below it on either side.
#pragma once

#include "measure/ResponsePoint.h"
#include "measure/SweepResponsePoint.h"

#include <optional>
#include <span>
#include <string>
#include <utility>

struct ResponseSummary {
    bool valid = false;            // false when no point has a finite level and frequency
    double referenceHz = 0;        // the point nearest 1 kHz on a log axis
    double referenceDb = 0;        // its level
    double lowHz = 20;             // the range the deviation was sought over,
    double highHz = 20000;         // as SummariseResponse was given it
    double largestDeviationDb = 0; // level - reference of largest magnitude in [lowHz, highHz]
    double largestDeviationHz = 0; // where; 0 when no point lies in the range
    std::optional<double> minus3dbLowHz;  // where the response first falls to reference - 3 dB
    std::optional<double> minus3dbHighHz; // below and above the reference point
};

// Points are expected in ascending frequency; any order is read safely.
// Points with a non-finite level, or a frequency that is not finite and above
// 0, are left out. A -3 dB frequency is interpolated linearly in dB over
// log10(frequency) between the first two neighbours, walking away from the
// reference, whose levels enclose reference - 3 dB.
ResponseSummary SummariseResponse(std::span<const ResponsePoint> points, double lowHz = 20,
                                  double highHz = 20000);

// The lowest and highest level less referenceDb among the points in
// [lowHz, highHz]; both not a number when there is none.
std::pair<double, double> DeviationRange(std::span<const ResponsePoint> points, double referenceDb,
                                         double lowHz, double highHz);

// Lines for standard error, e.g.
// "Reference: -20.00 dB at 1010.86 Hz\n"
// "Largest deviation 20 Hz - 20 kHz: -0.52 dB at 20.3467 Hz\n"
// "-3 dB: 15.2 Hz and 21034.3 Hz\n", with "not reached" for a side that is not.
std::string SummaryText(const ResponseSummary& summary);

// Lines for standard error on a swept-sine response, its gains re the level
// played: the delay, SummaryText of the gains, their deviation ranges over
// 40 Hz - 15 kHz and 20 Hz - 20 kHz, and THD with H2 and H3 at the
// reference, e.g.
// "Delay: 64.0 samples (1.451 ms)\n" ... "Deviation 40 Hz - 15 kHz: -0.20 to
// 0.00 dB\n" ... "THD at 1010.86 Hz: -80.0 dB (H2 -80.0 dB, H3 -100.0 dB)\n",
// with "not measured" for a figure that was not.
std::string SweptSineSummaryText(double delaySamples, std::span<const SweepResponsePoint> points);
