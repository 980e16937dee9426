// Blocks as a loop-back brings them back: the generator's phase-continuous
// sine, made as the playback thread makes it (16-bit, truncated toward zero),
// plus an optional second line and a DC offset.
#pragma once

#include "dsp/SignalFormat.h"

#include <cmath>
#include <cstdint>
#include <numbers>

// Amplitude of the generator's tone at "-20dB", as the playback thread plays it.
constexpr double Minus20dBAmplitude = 6554.0 / 65536 * 32767 / 32768;

class ToneBlocks {
  public:
    void Fill(double* block, int n, double frequency, double amplitude, double humHz = 0,
              double humAmplitude = 0, double dc = 0) {
        for (int i = 0; i < n; ++i) {
            const auto sample =
                static_cast<std::int16_t>(std::sin(m_phase) * (SampleFullScale - 1) * amplitude);
            m_phase += 2 * std::numbers::pi * frequency / SampleRate;
            const double hum =
                humAmplitude * std::sin(2 * std::numbers::pi * humHz * i / SampleRate);
            block[i] = sample / SampleFullScale + hum + dc;
        }
        m_phase = std::fmod(m_phase, 2 * std::numbers::pi);
    }

  private:
    double m_phase = 0.0;
};
