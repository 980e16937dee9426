// What a loop-back report finds, in the order it measures: the frequency
// response, THD and THD+N at -1 dBFS, the dynamic range (THD+N of a -60 dBFS
// tone, A-weighted, re full scale, sign flipped) and the noise with the tone
// off; and how far each figure lies from what 16-bit audio itself allows.
#pragma once

#include "measure/Distortion.h"
#include "measure/ResponsePoint.h"
#include "measure/ResponseSummary.h"
#include "measure/ResultCsv.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// The report's tones, and the blocks measured for each figure but the
// response.
constexpr double ReportToneHz = 997;
constexpr int ReportBlocksPerFigure = 8;
constexpr double LoopCheckDbfs = -20;
constexpr double DistortionToneDbfs = -1;
constexpr double DynamicRangeToneDbfs = -60;
// Response deviations are reported over these bands.
constexpr double NarrowBandLowHz = 40, NarrowBandHighHz = 15000;
constexpr double WideBandLowHz = 20, WideBandHighHz = 20000;

struct LoopbackReport {
    RunInfo run;
    std::vector<ResponsePoint> points;
    ResponseSummary response; // reference and -3 dB frequencies
    std::pair<double, double> narrowDeviationDb;
    std::pair<double, double> wideDeviationDb;
    DistortionMeter::Result distortion; // at -1 dBFS
    double dynamicRangeDbA = 0;
    bool digitalSilence = false;
    double noiseDbfs = 0;
    double noiseDbfsA = 0;
    std::vector<double> noiseSpectrumDb; // rectangle window, tone off
    std::uint64_t droppedBlocks = 0;
    std::uint64_t gaps = 0; // in the input
    std::uint64_t outputGaps = 0;
    std::uint64_t streamReopens = 0;
    int noisyPoints = 0;
};

// What a card without noise or distortion would measure through 16-bit
// samples: THD, THD+N and the dynamic range as the report's own measurements
// read its tones rounded to 16 bits, and the noise of the rounding error of
// any signal (white, mean square LSB^2 / 12).
struct FormatLimits {
    double thdDb;
    double thdNDb;
    double dynamicRangeDbA;
    double noiseDbfs;
    double noiseDbfsA;
};
FormatLimits SixteenBitLimits(int fftSize);
// A figure within this of its limit measures the format, not the card.
constexpr double FormatLimitMarginDb = 3;

// The readable table: one figure a line (name, value, unit), after the run's
// settings; figures at the format's limit are marked.
std::string ReportTable(const LoopbackReport& report, const FormatLimits& limits);
// The same figures with stable keys; numbers that were not measured are null.
std::string ReportJson(const LoopbackReport& report, const FormatLimits& limits);
