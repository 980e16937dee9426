// The analysis of a swept-sine measurement (see SweepSignal): recordings
// deconvolved by the samples actually played (SweepInverse), each aligned on
// its own impulse response's peak and averaged, then read off windowed
// impulse responses: the delay, the gain and phase at each frequency asked
// for, and harmonics 2 to 5 with their THD.
//
// The windows (ResponseWindow), each rising and falling as half a Hann
// window:
// - the linear response's, from LinearPreSeconds before its peak (rising
//   over the first half of that) to PostPeakSeconds after it (falling over
//   the second half);
// - harmonic k's, which peaks L ln k before the linear response, from
//   HarmonicPreSeconds before its peak to as long before harmonic k - 1's:
//   L ln(k / (k - 1)) long (0.55, 0.32, 0.23 and 0.18 s for k = 2 to 5 at
//   the default length), rising over its first 10 ms (gently, so that the
//   slow remains of the distortion's DC in a device's high-pass do not leak
//   into it) and falling over the second half.
//
// Not thread-safe: one thread uses an analysis at a time. Constructing one
// may plan transforms (see LongTransform).
#pragma once

#include "measure/LongTransform.h"
#include "measure/SweepInverse.h"
#include "measure/SweepResponsePoint.h"
#include "measure/SweepSignal.h"

#include <array>
#include <complex>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

struct SweepResponse {
    double delaySamples; // where the linear impulse response peaks
    double DelayMs() const;
    bool harmonicsMeasured; // see SweepAnalysis::ShortestHarmonicWindowSeconds
    std::vector<SweepResponsePoint> points;
    // The linear impulse response over its window, unwindowed: impulse[i]
    // lies (impulseStart + i) / SampleRate seconds after the sweep's start.
    long long impulseStart;
    std::vector<double> impulse;
};

// What one recording held.
struct SweepRecording {
    enum class Verdict {
        Found,      // its impulse response stands out: added to the average
        TooShort,   // it ends before the sweep could have come back
        Silent,     // every sample is zero
        NoResponse, // no impulse response stands out of the noise
    } verdict;
    bool clipped;        // a sample reached full scale
    double delaySamples; // its own peak, when found
};

class SweepAnalysis {
  public:
    static constexpr double LinearPreSeconds = 0.003;
    static constexpr double PostPeakSeconds = 0.5;
    static constexpr double HarmonicPreSeconds = 0.012;
    // A recording holds the sweep and at least this margin for the card's
    // delay and the response's tail.
    static constexpr double RecordingMarginSeconds = 0.5;
    // A peak must stand this far above the median magnitude of the impulse
    // response to count as found.
    static constexpr double FoundAboveMedianDb = 30;
    // Harmonic k is reported where k f lies below this (and below f2).
    static constexpr double HarmonicsBelowHz = 20000;
    static constexpr int HighestHarmonic = 5;
    // Harmonics are measured when harmonic 5's window, L ln(5/4), is at least
    // this long: for sweeps of about 3 s or longer at the default
    // frequencies; shorter ones leave too little of each harmonic's response.
    static constexpr double ShortestHarmonicWindowSeconds = 0.08;

    // Plans the transforms for recordings of the sweep and `marginSeconds`
    // (at least RecordingMarginSeconds; more for a card with a longer delay)
    // and prepares the inverse of `sweep`, which must outlive the analysis.
    explicit SweepAnalysis(const SweepSignal& sweep, double marginSeconds = RecordingMarginSeconds);

    // The frames a recording should hold: the sweep and the margin. A card's
    // delay may reach up to the margin.
    std::size_t RecordingFrames() const { return m_recordingFrames; }

    // A recording that begins as the sweep's first sample is played; the
    // first RecordingFrames() of it are used. Deconvolved and, when Found,
    // added to the average, aligned on the first recording's peak.
    // std::logic_error once AddAlignedTo has been used.
    SweepRecording Add(std::span<const std::int16_t> recording);

    // A recording of another input channel made at the same time as
    // `driven`, which its own channel's analysis found (Add): deconvolved and
    // added to the average shifted as `driven` was, so that the two
    // channels' averages share one time base (the first driven recording's)
    // and the difference of their delays is exact. Added whether or not a
    // response of its own stands out (Found or NoResponse) and when Silent
    // (as zeros), so that a channel that is not driven is measured too; only
    // a TooShort one is left out. std::invalid_argument unless `driven` was
    // Found; std::logic_error once Add has been used.
    SweepRecording AddAlignedTo(std::span<const std::int16_t> recording,
                                const SweepRecording& driven);
    int Recordings() const { return m_recordings; }

    // Recordings from an input whose clock runs off the output's by `ppm`
    // (ClockDrift's sign): each is read onto the output's clock before it is
    // deconvolved, so that the sweep's end arrives as late as its start and
    // the response keeps its top octave and its phase. Before the first
    // recording; std::logic_error after it.
    void CorrectClockDrift(double ppm);

    // The average of the recordings added so far at `frequencies`, in
    // ascending order, its windows placed at its own peak. A frequency
    // outside f1..f2 is not measured: its gain and phase are not a number,
    // as is every figure before a recording was added. Where the average is
    // exactly zero (recordings of digital silence) the gain is -infinity,
    // the phase not a number and no harmonic is given.
    SweepResponse Analyse(std::span<const double> frequencies);

    // The same with the windows placed at `peakSamples`, another channel's
    // delaySamples on the same time base (see AddAlignedTo), which becomes
    // this response's: the response of a channel whose own impulse response
    // does not stand out, such as one that is not driven, with its phase
    // re the other channel's delay.
    SweepResponse AnalyseAt(std::span<const double> frequencies, double peakSamples);

  private:
    enum class Alignment { NotYet, OwnPeaks, AnotherChannels };

    // Deconvolves a recording into m_spectrum (unless TooShort or Silent)
    // and finds its peak.
    SweepRecording Deconvolve(std::span<const std::int16_t> recording);
    // Adds m_spectrum to the sum, earlier by `peak` less the first peak.
    void Accumulate(double peak);
    SweepResponse Read(std::span<const double> frequencies, std::optional<double> origin);
    double OwnPeak(std::span<const double> impulse) const;
    void RestoreLowBand(std::span<double> impulse, double peak) const;

    const SweepSignal& m_sweep;
    std::size_t m_recordingFrames;
    LongTransform m_transform;
    SweepInverse m_inverse;
    std::vector<std::complex<double>> m_spectrum; // one recording's, deconvolved
    std::vector<std::complex<double>> m_sum;      // the aligned recordings'
    // Position on the input's clock of each of the output's samples, and a
    // recording before it is read onto the output's clock.
    double m_inputSamplesPerOutputSample = 1;
    std::vector<double> m_onInputClock;
    int m_recordings = 0;
    double m_firstPeak = 0;
    Alignment m_alignment = Alignment::NotYet;
};
