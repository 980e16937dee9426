// Analysis windows. They carry all of the transform's scaling: the transform
// itself multiplies by nothing else.
#pragma once

#include <span>

namespace dsp {

// The value of pi the engine was calibrated with; twiddle factors and the
// quasi-Chebyshev end values both use it, so it must not become std::numbers::pi.
constexpr double EnginePi = 3.1415926535;

// Every value 2/N, so that the values sum to 2.
void FillRectangleWindow(std::span<double> values);

// Quasi-Chebyshev window for the given side-lobe attenuation, built from a
// polynomial approximation of I1(z)/z; the values sum to 1.
void FillQuasiChebyshevWindow(double* values, int count, double attenuationDb);

// Gain in dB of a unit sine `delta` bins (-0.5..0.5) away from a bin centre,
// relative to its gain on the centre: the window's scalloping loss.
double WindowGainDb(std::span<const double> window, double delta);

} // namespace dsp
