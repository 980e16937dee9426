// What an input whose clock runs off the output's records of the device
// outputs: a band-limited resampler (dsp/SincInterpolator) that reads the output stream at a
// position advancing by 1 + ppm * 1e-6 per input sample, so that a tone played at f is recorded at
// f * (1 + ppm * 1e-6) on the input's nominal rate: positive when the output's clock runs fast
// against the input's. Both input channels share the one input clock.
//
// The read position falls behind or runs ahead of what the output has
// played; the input starts with enough lag for a minute of drift, and once
// that is used up it jumps back by as much, as a real card's buffer slips:
// positive drift hears a stretch again, negative drift loses one.
#pragma once

#include "dsp/SincInterpolator.h"

#include <cstddef>
#include <cstdint>
#include <vector>

class DriftResampler {
  public:
    static constexpr int HalfTaps = dsp::sinc::HalfTaps;
    static constexpr double SecondsBetweenSlips = 60.0;

    // Allocates here only.
    DriftResampler(double driftPpm, double sampleRate);

    // Replaces one period of device outputs in place with what the input
    // records of them; `right` null while the right channel is not simulated
    // (its output is then silence).
    void process(double* left, double* right, std::size_t frames);

    // How far the read position lies behind the output's newest sample now,
    // in output frames.
    double lagFrames() const;

  private:
    // The output's recent samples, each stored twice (at i and i + size) so
    // that the kernel always reads a contiguous window.
    class History {
      public:
        explicit History(std::size_t size) : m_samples(2 * size, 0.0), m_mask(size - 1) {}
        void push(std::uint64_t index, double x) {
            const std::size_t at = index & m_mask;
            m_samples[at] = x;
            m_samples[at + m_mask + 1] = x;
        }
        // The 2 * HalfTaps samples from `first` on.
        const double* window(std::uint64_t first) const { return &m_samples[first & m_mask]; }

      private:
        std::vector<double> m_samples;
        std::size_t m_mask;
    };

    double m_drift;              // ppm * 1e-6
    std::int64_t m_headroom;     // frames of drift between slips
    std::int64_t m_lagAtStart;   // whole frames behind the newest sample at the start
    std::int64_t m_slipped = 0;  // frames the read position has jumped, in all
    std::uint64_t m_written = 0; // output samples pushed
    History m_left;
    History m_right;
};
