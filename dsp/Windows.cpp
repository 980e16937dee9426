#include "dsp/Windows.h"

#include <array>
#include <cmath>
#include <complex>
#include <numbers>

namespace dsp {
namespace {

// P(x) ~ I1(z)/z with z = 10*sqrt(x). These fitted values are the ones the
// window was designed with; the exact series would shift the window slightly.
constexpr std::array<double, 13> BesselFit = {
    0.50000000009,  6.2499999695,   26.04166836566, 54.25343507056, 67.81726179804,
    56.51119244161, 33.65156773642, 14.98220505757, 5.28380369332,  1.35566931981,
    0.41187059855,  0.01604459097,  0.02411174292,
};

double EvaluateBesselFit(double x) {
    double sum = BesselFit.back();
    for (auto k = BesselFit.size() - 1; k-- > 0;)
        sum = BesselFit[k] + x * sum;
    return sum;
}

} // namespace

void FillRectangleWindow(std::span<double> values) {
    const double value = 2.0 / static_cast<double>(values.size());
    for (double& v : values)
        v = value;
}

void FillQuasiChebyshevWindow(double* values, int count, double attenuationDb) {
    const double ratio = std::pow(10.0, attenuationDb * 0.05);
    const double b = std::log(ratio + std::sqrt(ratio * ratio - 1.0));
    const double c = 0.01 * (b * b);
    const double centre = EvaluateBesselFit(c);
    // The polynomial fades to nothing at the ends; the ends take the value the
    // design prescribes there, about twice their neighbours.
    const double endValue = EnginePi / ratio + 1.0 / centre;

    for (int i = 0; i < count; ++i) {
        // For count 1 this is 0/0: not a number, which takes the end branch.
        const double t = 2.0 * i / static_cast<double>(count - 1) - 1.0;
        const double g = c * (1.0 - t * t);
        values[i] = g >= 1e-6 ? EvaluateBesselFit(g) / centre : endValue;
    }

    double sum = 0.0;
    for (int i = 0; i < count; ++i)
        sum += values[i];
    for (int i = 0; i < count; ++i)
        values[i] /= sum;
}

double WindowGainDb(std::span<const double> window, double delta) {
    const double n = static_cast<double>(window.size());
    std::complex<double> response = 0.0;
    double sum = 0.0;
    for (std::size_t i = 0; i < window.size(); ++i) {
        response += window[i] * std::polar(1.0, -2.0 * std::numbers::pi * delta * i / n);
        sum += window[i];
    }
    return 20.0 * std::log10(std::abs(response) / sum);
}

} // namespace dsp
