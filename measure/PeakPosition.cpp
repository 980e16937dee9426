#include "measure/PeakPosition.h"

#include <cmath>
#include <numbers>

namespace {

// Taps either side of the point interpolated, and the steps of the search
// between the samples either side of the largest one.
constexpr int HalfTaps = 48;
constexpr int StepsPerSample = 32;

// sinc(x) under a Blackman window over +-HalfTaps.
double kernel(double x) {
    if (std::abs(x) >= HalfTaps)
        return 0;
    if (x == 0)
        return 1;
    const double window = 0.42 + 0.5 * std::cos(std::numbers::pi * x / HalfTaps) +
                          0.08 * std::cos(2 * std::numbers::pi * x / HalfTaps);
    return std::sin(std::numbers::pi * x) / (std::numbers::pi * x) * window;
}

std::size_t wrapped(long long index, std::size_t size) {
    const long long n = static_cast<long long>(size);
    return static_cast<std::size_t>(((index % n) + n) % n);
}

} // namespace

double InterpolatedSample(std::span<const double> circular, double position) {
    const double whole = std::floor(position);
    const double fraction = position - whole;
    const auto base = static_cast<long long>(whole);
    double sum = 0;
    for (int k = -HalfTaps + 1; k <= HalfTaps; ++k)
        sum += circular[wrapped(base + k, circular.size())] * kernel(fraction - k);
    return sum;
}

double PeakPosition(std::span<const double> circular, long long first, long long last) {
    const auto magnitudeOf = [&](long long n) {
        return std::abs(circular[wrapped(n, circular.size())]);
    };
    long long largest = first;
    for (long long n = first; n < last; ++n)
        if (magnitudeOf(n) > magnitudeOf(largest))
            largest = n;

    // The finest step with the largest magnitude, then a parabola through it
    // and its neighbours.
    const auto magnitudeAt = [&](int step) {
        return std::abs(InterpolatedSample(circular, static_cast<double>(largest) +
                                                         double(step) / StepsPerSample));
    };
    int best = -StepsPerSample;
    double bestMagnitude = magnitudeAt(best);
    for (int step = -StepsPerSample + 1; step <= StepsPerSample; ++step) {
        const double magnitude = magnitudeAt(step);
        if (magnitude > bestMagnitude) {
            best = step;
            bestMagnitude = magnitude;
        }
    }
    const double before = magnitudeAt(best - 1), after = magnitudeAt(best + 1);
    const double curvature = before - 2 * bestMagnitude + after;
    const double offset = curvature < 0 ? 0.5 * (before - after) / curvature : 0.0;
    return static_cast<double>(largest) + (best + offset) / StepsPerSample;
}
