// One point of a response measured with the swept sine, as the analysis
// gives it and as the response files hold it.
#pragma once

#include "measure/ResponsePoint.h"

#include <array>
#include <optional>
#include <span>
#include <vector>

struct SweepResponsePoint {
    double frequencyHz;
    double gainDb;   // the linear response, re the level played
    double phaseDeg; // with the delay removed, unwrapped along the points
    // H2 to H5 at this excitation frequency: harmonic k's level re the
    // fundamental's; none where k f reaches SweepAnalysis::HarmonicsBelowHz
    // or when the sweep is too short for harmonics.
    std::array<std::optional<double>, 4> harmonicsDb;
    std::optional<double> thdDb; // the power sum of those harmonics
};

// The points as the levels that a stepped sweep with its tone at `levelDb`
// would read: each gain plus that level, at the same frequencies (peak and
// level alike, no window's gain, no blocks).
std::vector<ResponsePoint> LevelPoints(std::span<const SweepResponsePoint> points, double levelDb);

// Phases unwrapped along the points (in ascending frequency), so that
// neighbours differ by at most half a turn; the finite phase nearest 1 kHz
// stays as it is. Phases that are not finite are passed over.
void UnwrapPhases(std::span<SweepResponsePoint> points);
