// What the display cycle measures of one block before its spectrum: the DC
// offset it removes and the signal power it reads out. Sums run in index
// order in extended precision, so every caller gets the same bits.
#pragma once

#include <string>

// The block's mean.
double BlockMean(const double* block, int n);

// The block's DC offset when it carries a tone of `frequency` Hz: fitted
// jointly with the tone (least squares on 1, cos and sin at that frequency),
// so that a tone of no whole number of periods in the block, whose own mean
// is not zero, keeps its level. The plain mean would take part of a low tone
// with it and change its level at the nearest bins (by up to 0.4 dB near
// 12.6 Hz with the quasi-Chebyshev window).
double OffsetBesideTone(const double* block, int n, double frequency);

void SubtractOffset(double* block, int n, double offset);

// A sample at one of the largest 16-bit values, +32767 or -32768: the signal
// may have been clipped there.
bool ReachesFullScale(double sample);

// Mean square, summed from 0.
double MeanSquare(const double* block, int n);

// The power read-out for a block of that mean square: "Too low" at or below
// 10^-10.5 (about -102 dB), else 10 log10(ms) + 3 to two significant digits,
// so that a full-scale sine reads about 0 dB ("-1.1e-002", "-45", "-7.3").
// Short enough to stay in the string's own storage: no allocation.
std::string PowerText(double meanSquare);
