// The drift between the output's clock and the input's, read from a gapless
// recording of a tone of known frequency: each segment (0.1 s) of the
// recording is fitted with a sine at the nominal frequency and an offset, the
// segments' phases are unwrapped and a straight line is fitted to them
// against time; the line's slope over 2 pi f is the tone's relative
// frequency error.
//
// Sign: positive when the tone is recorded high, at f * (1 + ppm * 1e-6), as
// the input's nominal rate counts it: the output's clock runs fast against
// the input's (the input's runs slow). The virtual card's drift=PPM setting
// reads back as PPM.
//
// The phase may turn by at most half a cycle from one segment to the next:
// a drift of up to 1 / (2 f * 0.1 s), 5000 ppm at 1 kHz, 500 ppm at 10 kHz.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

struct ClockDrift {
    double ppm;
    // The standard error of the slope, in ppm: far below 1 ppm for a clean
    // 2 s tone, larger for a noisy or short one.
    double standardErrorPpm;
    // The RMS of the segments' phases about the line, in degrees: a poor fit
    // (a tone that wavers, a recording that is not gapless) shows here.
    double residualDegrees;
    int segments; // those fitted
};

// None when the frequency lies outside (0, sampleRate / 2), when fewer than
// MinimumSegments segments carry the tone, when the tone does not stand
// out (20 dB over what else the segment holds), or when it breaks off between
// segments that carry it. Segments at the start and the end without the tone
// (the loop's delay, the tone's end) are left out.
std::optional<ClockDrift> MeasureClockDrift(std::span<const std::int16_t> recording, double toneHz,
                                            double sampleRate);

constexpr int MinimumClockDriftSegments = 5;

// Beyond this the output and the input run on clocks of their own (two
// devices, each with its crystal); within it they share one.
constexpr double ClockDriftFlagPpm = 50;
inline bool ClocksOfTheirOwn(double driftPpm) {
    return driftPpm > ClockDriftFlagPpm || driftPpm < -ClockDriftFlagPpm;
}
