// The inverse of the samples a sweep actually played, for dividing a
// recording's spectrum by theirs: X* / (|X|^2 + eps(f)), X their spectrum at
// the transform's size. eps is 10^-6 of the power an ideal sweep puts into
// a bin (taken at f1 below f1): far below what the samples played carry
// from LowEdgeHz to f2, the energy their fades spread below f1 included, so
// that the division there is exact and needs no correction for the fades.
// It grows below LowEdgeHz and above f2, where they carry next to nothing and
// dividing would only amplify DC, drift and noise.
//
// What the division leaves out below f1 is missing from every response it
// gives. For a device that passes DC (a wire, a digital loop-back) that
// missing band is a slow wave of seconds centred on the impulse response's
// peak; the analysis fits it and puts it back (see LowBand()).
#pragma once

#include "measure/LongTransform.h"
#include "measure/SweepSignal.h"

#include <complex>
#include <span>
#include <vector>

class SweepInverse {
  public:
    static constexpr double LowEdgeHz = 2;

    // Transforms the sweep's samples with `transform` (of the analysis' size).
    SweepInverse(const SweepSignal& sweep, LongTransform& transform);

    // One value per bin of the transform.
    std::span<const std::complex<double>> Bins() const { return m_inverse; }
    // The impulse response of the band below f1 that the division leaves
    // out, 1 - |X|^2 / (|X|^2 + eps), centred on sample 0 of a circular
    // buffer of the transform's size.
    std::span<const double> LowBand() const { return m_lowBand; }

  private:
    std::vector<std::complex<double>> m_inverse;
    std::vector<double> m_lowBand;
};
