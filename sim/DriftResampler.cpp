#include "sim/DriftResampler.h"

#include "dsp/SincInterpolator.h"

#include <algorithm>
#include <bit>
#include <cmath>

namespace {

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
      m_left(std::bit_ceil(static_cast<std::size_t>(dsp::sinc::Taps + m_headroom + 2))),
      m_right(std::bit_ceil(static_cast<std::size_t>(dsp::sinc::Taps + m_headroom + 2))) {}

void DriftResampler::process(double* left, double* right, std::size_t frames) {
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
        const double fraction = drifted - whole;
        // Before the first sample the history holds silence.
        const auto first = static_cast<std::uint64_t>(position - (HalfTaps - 1));
        left[i] = dsp::sinc::Between(m_left.window(first), fraction);
        if (right)
            right[i] = dsp::sinc::Between(m_right.window(first), fraction);
    }
}

double DriftResampler::lagFrames() const {
    const std::uint64_t n = m_written == 0 ? 0 : m_written - 1;
    const double drifted = static_cast<double>(n) * m_drift;
    return static_cast<double>(m_lagAtStart - m_slipped) - drifted;
}
