#include "sim/DriftResampler.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <numbers>

namespace {

constexpr int Taps = 2 * DriftResampler::HalfTaps;
// Kernels at this many fractional positions, interpolated linearly between
// them: the error that leaves stays below -100 dB up to 20 kHz at 44.1 kHz.
constexpr std::size_t Phases = 512;
// The window's side lobes lie about 100 dB down.
constexpr double KaiserBeta = 10.0;

// The modified Bessel function of the first kind, order 0, by its series.
double besselI0(double x) {
    double sum = 1.0, term = 1.0;
    for (int k = 1; term > 1e-17 * sum; ++k) {
        term *= (x / (2.0 * k)) * (x / (2.0 * k));
        sum += term;
    }
    return sum;
}

double kernel(double t) {
    const double edge = t / DriftResampler::HalfTaps;
    if (std::fabs(edge) >= 1.0)
        return 0.0;
    const double sinc = t == 0.0 ? 1.0 : std::sin(std::numbers::pi * t) / (std::numbers::pi * t);
    return sinc * besselI0(KaiserBeta * std::sqrt(1.0 - edge * edge)) / besselI0(KaiserBeta);
}

// Row q holds the kernel for a read position q / Phases past a sample: its
// taps weigh the samples from HalfTaps - 1 before it to HalfTaps after it.
using KernelRow = std::array<double, Taps>;
using KernelTable = std::vector<KernelRow>;

const KernelTable& kernels() {
    static const KernelTable table = [] {
        KernelTable rows(Phases + 1);
        for (std::size_t q = 0; q <= Phases; ++q) {
            const double fraction = static_cast<double>(q) / Phases;
            for (int m = 0; m < Taps; ++m)
                rows[q][m] = kernel(m - (DriftResampler::HalfTaps - 1) - fraction);
        }
        return rows;
    }();
    return table;
}

// The samples x weighed by the kernels of the two neighbouring rows, and the
// line between the two sums.
double interpolate(const double* x, const KernelRow& below, const KernelRow& above,
                   double between) {
    double low = 0.0, high = 0.0;
    for (int m = 0; m < Taps; ++m) {
        low += x[m] * below[m];
        high += x[m] * above[m];
    }
    return low + between * (high - low);
}

std::int64_t headroomFrames(double drift, double sampleRate) {
    return std::max<std::int64_t>(
        1, static_cast<std::int64_t>(
               std::ceil(std::fabs(drift) * sampleRate * DriftResampler::SecondsBetweenSlips)));
}

} // namespace

DriftResampler::DriftResampler(double driftPpm, double sampleRate)
    : m_drift(driftPpm * 1e-6), m_headroom(headroomFrames(m_drift, sampleRate)),
      // Reading ahead needs HalfTaps frames behind the newest; a fast output
      // eats into the headroom, a slow one adds to the lag.
      m_lagAtStart(HalfTaps + (m_drift > 0.0 ? m_headroom : 0)),
      m_left(std::bit_ceil(static_cast<std::size_t>(Taps + m_headroom + 2))),
      m_right(std::bit_ceil(static_cast<std::size_t>(Taps + m_headroom + 2))) {
    kernels();
}

void DriftResampler::process(double* left, double* right, std::size_t frames) {
    const KernelTable& table = kernels();
    for (std::size_t i = 0; i < frames; ++i) {
        const std::uint64_t n = m_written++;
        m_left.push(n, left[i]);
        m_right.push(n, right ? right[i] : 0.0);

        const double drifted = static_cast<double>(n) * m_drift;
        const double whole = std::floor(drifted);
        std::int64_t position = static_cast<std::int64_t>(n) - m_lagAtStart + m_slipped +
                                static_cast<std::int64_t>(whole);
        const std::int64_t lag = static_cast<std::int64_t>(n) - position;
        if (lag < HalfTaps) {
            m_slipped -= m_headroom;
            position -= m_headroom;
        } else if (lag > HalfTaps + m_headroom) {
            m_slipped += m_headroom;
            position += m_headroom;
        }
        const double phase = (drifted - whole) * Phases;
        const std::size_t row = std::min(static_cast<std::size_t>(phase), Phases - 1);
        const double between = phase - static_cast<double>(row);
        // Before the first sample the history holds silence.
        const auto first = static_cast<std::uint64_t>(position - (HalfTaps - 1));
        left[i] = interpolate(m_left.window(first), table[row], table[row + 1], between);
        if (right)
            right[i] = interpolate(m_right.window(first), table[row], table[row + 1], between);
    }
}

double DriftResampler::lagFrames() const {
    const std::uint64_t n = m_written == 0 ? 0 : m_written - 1;
    const double drifted = static_cast<double>(n) * m_drift;
    return static_cast<double>(m_lagAtStart - m_slipped) - drifted;
}
