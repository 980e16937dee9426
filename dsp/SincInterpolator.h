// Reading a sampled signal between its samples, band-limited: a
// Kaiser-windowed sinc of HalfTaps taps each side, from a table of kernels
// at Phases fractional positions with a straight line between neighbouring
// ones. What that leaves lies below -100 dB up to 20 kHz at 44.1 kHz, under
// the 16-bit format's own noise. It moves a signal onto another clock: the
// virtual card's drifting input, and a recording corrected for the drift
// between a card's clocks.
#pragma once

#include <cstddef>
#include <span>

namespace dsp::sinc {

constexpr int HalfTaps = 32;
constexpr int Taps = 2 * HalfTaps;

// The signal at `fraction` (0 <= fraction < 1) past x[HalfTaps - 1], from
// the Taps samples x[0] .. x[Taps - 1].
double Between(const double* x, double fraction);

// out[k] = the signal x read at position start + k * step (start >= 0,
// step > 0), silence taken before and after x.
void ReadAt(std::span<const double> x, double start, double step, std::span<double> out);

} // namespace dsp::sinc
