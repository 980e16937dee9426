// What a loop-back report finds, in the order it measures: the frequency
// response (from a swept sine with its delay and distortion against
// frequency, or from the stepped sweep), THD and THD+N at -1 dBFS, the dynamic range (THD+N of a
// -60 dBFS tone, A-weighted, re full scale, sign flipped) and the noise with the tone off; and how
// far each figure lies from what 16-bit audio itself allows.
#pragma once

#include "measure/AudioPath.h"
#include "measure/Distortion.h"
#include "measure/ResponsePoint.h"
#include "measure/ResponseSummary.h"
#include "measure/ResultCsv.h"
#include "measure/SweepResponsePoint.h"

#include <array>
#include <bitset>
#include <cstdint>
#include <limits>
#include <optional>
#include <span>
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
// The swept sine's distortion is tabled at these excitation frequencies.
constexpr std::array<double, 3> DistortionTableHz = {100, 1000, 6300};

enum class ResponseMethod { SweptSine, SteppedSweep };

// The parts of a report after its loop check, in the order they are
// measured. A report that ends early holds the parts before the one it
// stopped in, and the points its sweep had measured.
enum class ReportPart { Response, Distortion, DynamicRange, Noise };
constexpr std::size_t ReportPartCount = 4;

// A figure not measured is not a number.
struct LoopbackReport {
    static constexpr double NotMeasured = std::numeric_limits<double>::quiet_NaN();

    RunInfo run;
    // In a run of two input channels: the one this report is of ("left" or
    // "right"), and the reference channel when its response is the
    // measured channel's re the reference's. Empty otherwise.
    std::string channel;
    std::string referenceChannel;
    // What the sound server did to the signal, when asked. A resampling
    // server decides the response above about 15 kHz, and every figure that
    // depends on it is marked so.
    std::optional<AudioPath> audioPath;
    // The output's clock re the input's, from a tone (see ClockDrift).
    std::optional<double> driftPpm;
    ResponseMethod method = ResponseMethod::SteppedSweep;
    std::bitset<ReportPartCount> measured; // by ReportPart: measured whole
    std::string stopReason;                // why it ended early; empty when complete
    std::vector<ResponsePoint> points;     // the sweep's, from its first frequency
    std::size_t plannedPoints = 0;         // those of a whole sweep
    ResponseSummary response;              // reference and -3 dB frequencies
    std::pair<double, double> narrowDeviationDb{NotMeasured, NotMeasured};
    std::pair<double, double> wideDeviationDb{NotMeasured, NotMeasured};
    // The swept sine's, once its response is measured: where the linear
    // impulse response peaks; the distortion at the points' frequencies
    // (`points` holds their gains plus the level played) and at
    // DistortionTableHz; and whether the recording reached full scale.
    double latencySamples = NotMeasured;
    std::vector<SweepResponsePoint> distortionCurve;
    std::vector<SweepResponsePoint> distortionTable;
    bool sweepClipped = false;
    DistortionMeter::Result distortion{NotMeasured, {},          NotMeasured, NotMeasured,
                                       NotMeasured, NotMeasured, {},          false}; // at -1 dBFS
    double dynamicRangeDbA = NotMeasured;
    bool digitalSilence = false;
    double noiseDbfs = NotMeasured;
    double noiseDbfsA = NotMeasured;
    std::vector<double> noiseSpectrumDb; // rectangle window, tone off
    std::uint64_t droppedBlocks = 0;
    std::uint64_t gaps = 0; // in the input
    std::uint64_t outputGaps = 0;
    std::uint64_t streamReopens = 0;
    int noisyPoints = 0;

    void SetMeasured(ReportPart part) { measured.set(static_cast<std::size_t>(part)); }
    bool Measured(ReportPart part) const { return measured.test(static_cast<std::size_t>(part)); }
    bool Complete() const { return measured.all(); }
};

// The response's figures from report.points, the points of a sweep over
// `planHz` from its first frequency: all of them, or those measured before it
// stopped. The reference is the level at the planned frequency nearest 1 kHz
// (1010.86 Hz); a sweep that never measured it has no reference and no figure
// re it. A deviation range needs every planned point of its band.
void SummariseReportResponse(LoopbackReport& report, std::span<const double> planHz);

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
// settings; figures at the format's limit are marked. An incomplete report
// says so in its heading, with what stopped it and what was measured.
std::string ReportTable(const LoopbackReport& report, const FormatLimits& limits);
// The same figures with stable keys and "complete"; every figure not measured
// is null.
std::string ReportJson(const LoopbackReport& report, const FormatLimits& limits);
