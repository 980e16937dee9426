#include "measure/ResponseWindow.h"

#include "dsp/SignalFormat.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>

namespace {

// 0 before 0, rising as half a Hann window to 1 at `length`.
double rise(double position, double length) {
    if (position <= 0)
        return 0;
    if (position >= length)
        return 1;
    return 0.5 - 0.5 * std::cos(std::numbers::pi * position / length);
}

// The phasor steps this many samples between exact values, so that its
// rounding never builds up.
constexpr std::size_t PhasorRun = 1024;
constexpr std::size_t Lanes = 4;

} // namespace

ResponseWindow::ResponseWindow(std::span<const double> circular, double origin,
                               const WindowShape& shape) {
    const double whole = std::floor(origin);
    m_originFraction = origin - whole;
    m_first = static_cast<long long>(std::ceil(m_originFraction + shape.startSamples));
    const auto last = static_cast<long long>(std::floor(m_originFraction + shape.endSamples));
    const auto size = static_cast<long long>(circular.size());
    const auto originSample = static_cast<long long>(whole);
    m_windowed.reserve(static_cast<std::size_t>(std::max(0LL, last - m_first + 1)));
    for (long long n = m_first; n <= last; ++n) {
        const double t = n - m_originFraction;
        const double w = rise(t - shape.startSamples, shape.taperInSamples) *
                         rise(shape.endSamples - t, shape.taperOutSamples);
        const long long index = ((originSample + n) % size + size) % size;
        m_windowed.push_back(w * circular[static_cast<std::size_t>(index)]);
    }
}

std::vector<std::complex<double>> ResponseWindow::At(std::span<const double> frequenciesHz) const {
    std::vector<std::complex<double>> spectrum;
    spectrum.reserve(frequenciesHz.size());
    for (std::size_t first = 0; first < frequenciesHz.size(); first += Lanes) {
        // Lanes frequencies side by side, so that their sums proceed at once;
        // a lane past the last frequency runs at 0 Hz and is dropped.
        std::array<double, Lanes> omega{}, stepCos{}, stepSin{}, re{}, im{}, c{}, s{};
        const std::size_t lanes = std::min(Lanes, frequenciesHz.size() - first);
        for (std::size_t lane = 0; lane < lanes; ++lane)
            omega[lane] = 2 * std::numbers::pi * frequenciesHz[first + lane] / SampleRate;
        for (std::size_t lane = 0; lane < Lanes; ++lane) {
            stepCos[lane] = std::cos(omega[lane]);
            stepSin[lane] = -std::sin(omega[lane]);
        }
        for (std::size_t run = 0; run < m_windowed.size(); run += PhasorRun) {
            const double position =
                static_cast<double>(m_first + static_cast<long long>(run)) - m_originFraction;
            for (std::size_t lane = 0; lane < Lanes; ++lane) {
                c[lane] = std::cos(omega[lane] * position);
                s[lane] = -std::sin(omega[lane] * position);
            }
            const std::size_t end = std::min(run + PhasorRun, m_windowed.size());
            for (std::size_t i = run; i < end; ++i) {
                const double x = m_windowed[i];
                for (std::size_t lane = 0; lane < Lanes; ++lane) {
                    re[lane] += x * c[lane];
                    im[lane] += x * s[lane];
                    const double next = c[lane] * stepCos[lane] - s[lane] * stepSin[lane];
                    s[lane] = c[lane] * stepSin[lane] + s[lane] * stepCos[lane];
                    c[lane] = next;
                }
            }
        }
        for (std::size_t lane = 0; lane < lanes; ++lane)
            spectrum.emplace_back(re[lane], im[lane]);
    }
    return spectrum;
}
