// The frequencies a swept-sine response is reported at: by default the
// stepped sweep's (SweepPointFrequencies), so that the two methods compare
// point by point; or a dense curve of n points per octave.
#pragma once

#include <vector>

constexpr int MaxPointsPerOctave = 96;
// The dense curve's range: the stepped sweep's first frequency, and the
// highest the default sweep measures before its fade-out.
constexpr double DenseCurveHighestHz = 21500;

// 1 kHz times 2^(i / perOctave) for every whole i that lands in
// [SweepStartFrequency(BlockSize), DenseCurveHighestHz], ascending; empty
// unless perOctave lies in 1..MaxPointsPerOctave.
std::vector<double> PerOctaveFrequencies(int perOctave);
