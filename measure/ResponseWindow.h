// A stretch of an impulse response under a window with half-Hann tapers, and
// its spectrum at any frequency (a sum over the stretch, not a transform of a
// fixed length, so that each frequency is exact).
#pragma once

#include <complex>
#include <span>
#include <vector>

struct WindowShape {
    double startSamples;    // from the origin; negative: before it
    double endSamples;      // from the origin
    double taperInSamples;  // rising from the start over this many
    double taperOutSamples; // falling to the end over this many
};

class ResponseWindow {
  public:
    // The samples of `circular` (taken round the circle) that the window
    // placed at `origin` (a fractional position in that buffer) covers.
    ResponseWindow(std::span<const double> circular, double origin, const WindowShape& shape);

    // At each frequency f, the sum of window x response x
    // e^(-2 pi i f (n - origin) / rate) over the stretch: the response at f
    // with the origin's delay removed.
    std::vector<std::complex<double>> At(std::span<const double> frequenciesHz) const;

  private:
    long long m_first; // the first sample covered, re the origin's sample
    double m_originFraction;
    std::vector<double> m_windowed;
};
