#include "dsp/SincInterpolator.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>
#include <vector>

namespace dsp::sinc {
namespace {

constexpr std::size_t Phases = 512;
// The window's side lobes lie about 100 dB down.
constexpr double KaiserBeta = 10.0;

// The modified Bessel function of the first kind, order 0, by its series.
double BesselI0(double x) {
    double sum = 1.0, term = 1.0;
    for (int k = 1; term > 1e-17 * sum; ++k) {
        term *= (x / (2.0 * k)) * (x / (2.0 * k));
        sum += term;
    }
    return sum;
}

double Kernel(double t) {
    const double edge = t / HalfTaps;
    if (std::fabs(edge) >= 1.0)
        return 0.0;
    const double sinc = t == 0.0 ? 1.0 : std::sin(std::numbers::pi * t) / (std::numbers::pi * t);
    return sinc * BesselI0(KaiserBeta * std::sqrt(1.0 - edge * edge)) / BesselI0(KaiserBeta);
}

// Row q holds the kernel for a position q / Phases past a sample: its taps
// weigh the samples from HalfTaps - 1 before it to HalfTaps after it.
using KernelRow = std::array<double, Taps>;

std::vector<KernelRow> MakeKernels() {
    std::vector<KernelRow> rows(Phases + 1);
    for (std::size_t q = 0; q <= Phases; ++q) {
        const double fraction = static_cast<double>(q) / Phases;
        for (int m = 0; m < Taps; ++m)
            rows[q][m] = Kernel(m - (HalfTaps - 1) - fraction);
    }
    return rows;
}

// Made as the program loads, so that the audio threads that read between
// samples never build it (nor wait on a guard).
const std::vector<KernelRow> Kernels = MakeKernels();

} // namespace

double Between(const double* x, double fraction) {
    const double phase = fraction * Phases;
    const std::size_t row = std::min(static_cast<std::size_t>(phase), Phases - 1);
    const double between = phase - static_cast<double>(row);
    double low = 0.0, high = 0.0;
    for (int m = 0; m < Taps; ++m) {
        low += x[m] * Kernels[row][m];
        high += x[m] * Kernels[row + 1][m];
    }
    return low + between * (high - low);
}

void ReadAt(std::span<const double> x, double start, double step, std::span<double> out) {
    std::array<double, Taps> window{};
    const auto size = static_cast<long long>(x.size());
    for (std::size_t k = 0; k < out.size(); ++k) {
        const double position = start + static_cast<double>(k) * step;
        const double whole = std::floor(position);
        const auto first = static_cast<long long>(whole) - (HalfTaps - 1);
        if (first >= 0 && first + Taps <= size) {
            out[k] = Between(&x[static_cast<std::size_t>(first)], position - whole);
            continue;
        }
        for (int m = 0; m < Taps; ++m) {
            const long long at = first + m;
            window[m] = at >= 0 && at < size ? x[static_cast<std::size_t>(at)] : 0.0;
        }
        out[k] = Between(window.data(), position - whole);
    }
}

} // namespace dsp::sinc
