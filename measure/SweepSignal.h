// The synchronized exponential sweep that measures a response in one pass
// (Farina, AES preprint 5093; the synchronized form of Novak et al., JAES
// 2015):
//   x(t) = sin(2 pi f1 L (e^(t/L) - 1)),  L = round(f1 T / ln(f2/f1)) / f1.
// f1 L is a whole number, so harmonic k of the sweep is the sweep itself,
// earlier by L ln k and in phase: a deconvolution by x separates each
// harmonic's response from the linear one. That allows lengths T only in
// steps of ln(f2/f1) / f1 (0.77 s at the defaults); the signal takes the step
// nearest the length asked for, and says which. Faded in and out, scaled to
// its level and rounded to 16-bit samples as the report's tones are.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

struct SweepSettings {
    static constexpr double MinLengthSeconds = 1;
    static constexpr double MaxLengthSeconds = 60;
    static constexpr double MinLevelDbfs = -60;
    static constexpr double MaxLevelDbfs = 0;
    static constexpr double LowestStartHz = 1;

    double startHz = 10;      // f1
    double endHz = 22000;     // f2
    double lengthSeconds = 6; // T asked for
    double levelDbfs = -6;    // the peak, re full scale

    // Each value within its limits above, f1 < f2 < half the sample rate.
    bool valid() const;
};

class SweepSignal {
  public:
    // std::invalid_argument unless `settings` are valid().
    explicit SweepSignal(const SweepSettings& settings);

    const SweepSettings& Settings() const { return m_settings; }
    double StartHz() const { return m_settings.startHz; }
    double EndHz() const { return m_settings.endHz; }
    // L in seconds: the instantaneous frequency is f1 e^(t/L).
    double RateSeconds() const { return m_rate; }
    // The length used, L ln(f2/f1): the length asked for, to the nearest step.
    double LengthSeconds() const;
    // The steps the lengths come in, ln(f2/f1) / f1.
    double LengthStepSeconds() const;
    // How much earlier than the linear response harmonic k's lies: L ln k.
    double HarmonicLeadSeconds(int k) const;
    // The peak, in full scale (1 is a full-scale sine).
    double Amplitude() const { return m_amplitude; }

    // Half-Hann fades: over the sweep's first half period at f1, and over
    // the last FadeOutSeconds, short enough to spare 21.5 kHz.
    double FadeInSeconds() const;
    static constexpr double FadeOutSeconds = 0.005;

    // The 16-bit samples to play, at the instrument's sample rate.
    std::span<const std::int16_t> Samples() const { return m_samples; }

  private:
    SweepSettings m_settings;
    double m_rate;
    double m_amplitude;
    std::vector<std::int16_t> m_samples;
};
