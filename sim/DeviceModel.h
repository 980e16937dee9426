// The simulated device under test that sits between the virtual card's output
// and its input: gain, Butterworth high-pass and low-pass filters, harmonic
// distortion, mains hum, white noise and a delay, recorded as 16-bit samples.
// The model states its own exact frequency response, so that a measurement
// through the virtual card can be checked against it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

// A level that is switched off: 10^(Off / 20) is exactly 0.
constexpr double Off = -std::numeric_limits<double>::infinity();

struct FilterCorner {
    double frequencyHz;
    int order; // 0: no filter; 1 to MaxFilterOrder: Butterworth of that order
};

// One channel of the card: what its input records of what its output plays.

struct DeviceModel {
    static constexpr int MaxFilterOrder = 8;
    static constexpr std::size_t MaxLatencyFrames = 10 * 48000;

    // The rate that the filters are designed for; the card runs at it.
    double sampleRate = 44100.0;
    double gainDb = 0.0;
    std::size_t latencyFrames = 64;
    FilterCorner highPass{20.0, 2};
    FilterCorner lowPass{20000.0, 4};
    // RMS of the white noise, in dB of full scale (an RMS of 1.0 is 0 dB).
    double noiseDb = -100.0;
    // The mains hum line: its amplitude in dB of full scale.
    double humHz = 50.0;
    double humDb = -90.0;
    // Harmonics that a full-scale sine picks up, in dB below the fundamental.
    double secondHarmonicDb = Off;
    double thirdHarmonicDb = Off;
    std::uint64_t noiseSeed = 0x5EED;
    // The rate, the faults and the start delay below are the whole card's:
    // a CardModel keeps them alike in both channels.
    // Faults for tests, not part of the device: seconds of audio after the
    // model is set at which both streams die, or the input overflows, once.
    // Negative: never.
    double streamsDieAfterSeconds = -1.0;
    double inputOverflowsAfterSeconds = -1.0;
    // Real seconds, on either clock, from each open of the input to its first
    // recording, as a sound server just started keeps its first capture back.
    static constexpr double LongestInputStartDelaySeconds = 60.0;
    double inputStartDelaySeconds = 0.0;

    // A plausible consumer sound card (the defaults above).
    static DeviceModel ConsumerCard() { return {}; }
    // A bit-exact wire without delay.
    static DeviceModel IdealWire();

    // False when a corner or the hum lies outside (0, sampleRate / 2), an
    // order, the latency or the input's start delay is out of range, or the
    // rate is not positive.
    bool valid() const;

    // The gain in dB at `frequencyHz`, computed from the filters' digital
    // coefficients: what a sine well above the noise comes back with.
    double ResponseDb(double frequencyHz) const;
    // The phase in degrees at `frequencyHz` from the same coefficients, the
    // latency left out. Each section's phase is taken on the branch where it
    // runs continuously across the band (0 to 180 degrees for a high-pass
    // section, 0 to -180 for a low-pass one), so a high-pass of order n
    // nears +90n degrees towards 0 Hz and a low-pass of order n nears -90n
    // towards half the rate.
    double PhaseDeg(double frequencyHz) const;
};

// The whole two-channel card: each channel its own device, and crosstalk
// between them. Each input hears its own channel's device output plus the
// other channel's (after that channel's model, before the 16-bit rounding)
// scaled by 10^(crosstalkDb / 20), so the crosstalk measured (the silent
// channel's input over the driven channel's) is exactly crosstalkDb at every
// frequency.
// The input's clock may run off the output's by driftPpm parts per million,
// for both input channels alike: a tone played at f is then recorded at
// f * (1 + driftPpm * 1e-6) (positive: the output's clock runs fast against
// the input's). See sim/DriftResampler.h.
struct CardModel {
    static constexpr double LongestDriftPpm = 1000.0;

    DeviceModel left;
    DeviceModel right;
    double crosstalkDb = Off; // at most 0 dB; Off: no leak at all
    double driftPpm = 0.0;    // -LongestDriftPpm to LongestDriftPpm; 0: one clock

    // The consumer card on both channels.
    CardModel() : CardModel(DeviceModel::ConsumerCard()) {}
    // Both channels alike, no crosstalk: what a mono card of that model did.
    // The right channel's noise gets a seed of its own, so that the two
    // channels' noise differs.
    CardModel(const DeviceModel& both); // NOLINT(google-explicit-constructor)

    // Each channel valid, both at the same rate with the same faults and
    // start delay, the crosstalk Off or finite and at most 0 dB, and the
    // drift within its range.
    bool valid() const;
};

// One filter section, first order (b2 = a2 = 0) or second order:
// H(z) = (b0 + b1 z^-1 + b2 z^-2) / (1 + a1 z^-1 + a2 z^-2).
struct FilterSection {
    double b0, b1, b2, a1, a2;
};

// The sections of the model's high-pass, then low-pass filter: Butterworth
// prototypes through the bilinear transform, prewarped at the corners.
std::vector<FilterSection> DesignFilters(const DeviceModel& model);

// A device output (1.0 is full scale) as the input's 16-bit converter
// records it: rounded, and clipped at full scale.
std::int16_t RecordedSample(double deviceOutput);

// Runs the model over a stream of samples. Allocates on construction only.
class DeviceSimulator {
  public:
    explicit DeviceSimulator(const DeviceModel& model);

    // What the input records while `frames` samples of `played` are played.
    void process(const std::int16_t* played, std::int16_t* recorded, std::size_t frames);
    // The same before the input's rounding: the device's output, so that
    // another channel's input can hear it too.
    void processUnrounded(const std::int16_t* played, double* output, std::size_t frames);

  private:
    double step(std::int16_t played);
    double distort(double x) const;
    double filter(double x);
    double interference();
    double delay(double x);
    double nextGaussian();

    struct SectionState {
        FilterSection coefficients;
        double z1 = 0.0, z2 = 0.0;
    };

    double m_gain;
    double m_secondHarmonic; // coefficient of x^2
    double m_thirdHarmonic;  // coefficient of x^3
    std::vector<SectionState> m_sections;
    double m_humAmplitude;
    double m_humStep;
    double m_humPhase = 0.0;
    double m_noiseRms;
    std::uint64_t m_noiseState;
    double m_spareGaussian = 0.0;
    bool m_hasSpareGaussian = false;
    std::vector<double> m_delayLine;
    std::size_t m_delayPosition = 0;
};
