// Results as CSV files: a few "# ..." comment lines describing the run, a
// header and one row per point or bin. Two kinds hold a frequency response:
// the stepped sweep's levels (`sweep`, the window's AFC) and the swept sine's
// gains, phases and harmonics (`response`). Numbers are written shortest
// round-trip with '.' as the point whatever the process locale, so a file read
// back gives the very doubles that were written.
#pragma once

#include "measure/ResponsePoint.h"
#include "measure/SweepResponsePoint.h"

#include <chrono>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// What the comment lines at the top of a result file say about the run.
struct RunInfo {
    std::string measurement; // "sweep", "response" or "spectrum"
    std::string version;     // the program's version, e.g. "0.1.0"
    std::string dateTime;    // ISO 8601 with offset, e.g. "2026-12-08T23:41:05+00:00"
    std::string audio;       // the backend: "system" or "virtual"
    std::string inputDevice; // the devices' names
    std::string outputDevice;
    std::string level;  // "0 dB", "-20 dB" or "off"; the swept sine's "-6 dBFS"
    std::string window; // "quasi-chebyshev" or "rectangle" (or "mixed"); empty: none
    double sampleRateHz = 44100;
    int blockSize = 8192;
    double toneHz = 0; // spectrum: the tone played (0: not written)
    int blocks = 0;    // spectrum: blocks averaged (0: not written)
};

// How result files name the analysis window and the tone's level, given as
// the window's level buttons are numbered: 0 "0 dB", 1 "-20 dB", 2 "off".
const char* WindowName(int windowType);
const char* LevelName(int level);

// Local time with its numeric offset, e.g. "2026-12-08T23:41:05+01:00"; empty
// when the time cannot be broken down (a year beyond the C library's range).
std::string IsoDateTime(std::chrono::system_clock::time_point when);

// The "# ..." lines, each ending in '\n': "# tembrix VERSION MEASUREMENT", then
// "# key: value" for date, audio, input, output, level, window (only when
// given), tone_hz and blocks (each only when above 0), sample_rate_hz and
// block_size. Line breaks
// inside values become spaces so that a device name cannot break the file.
std::string ResultComments(const RunInfo& info);

extern const char* const ResponseHeader; // "frequency_hz,level_db,peak_db,window_gain_db,blocks"
extern const char* const SpectrumHeader; // "frequency_hz,level_db"

// One line ending in '\n'. Non-finite values are written "inf", "-inf", "nan".
std::string ResponseRow(const ResponsePoint& point);
std::string SpectrumRow(double frequencyHz, double levelDb);

// "# key: value\n", line breaks in the value made spaces.
std::string CommentLine(std::string_view key, std::string_view value);
// The number written shortest round-trip.
std::string CommentLine(std::string_view key, double value);

// A two-channel file holds both channels' rows, the left's first, each led by
// its channel's name under a "channel" column: "channel,frequency_hz,...".
// ChannelName(0) is "left", ChannelName(1) "right".
const char* ChannelName(int channel);
std::string ChannelHeader(std::string_view header);
// Each line of `rows` (lines ending in '\n') led by "CHANNEL,".
std::string ChannelRows(std::string_view rows, std::string_view channel);

// Comments, header and rows.
std::string ResponseCsv(const RunInfo& info, std::span<const ResponsePoint> points);
// One row per bin k at k * binWidthHz.
std::string SpectrumCsv(const RunInfo& info, std::span<const double> levelsDb, double binWidthHz);

// Reads a response file back. Comment lines and blank lines may precede the
// header, blank lines may follow or separate the rows; CRLF line ends and a
// last line without one are accepted. Every value must be finite, frequencies
// above 0 and rising from row to row, blocks a whole number of 0 or more.
// Returns false with `error` naming the 1-based line (e.g. "line 9: expected
// 5 fields, found 3"), or "no points" when there are none, and leaves
// `points` unchanged.
bool ParseResponseCsv(std::string_view text, std::vector<ResponsePoint>& points,
                      std::string& error);

// What a swept-sine response file says about its sweep, besides RunInfo.
struct SweptSineRun {
    double startHz = 0; // f1 and f2
    double endHz = 0;
    double lengthSeconds = 0; // the length used
    double levelDbfs = 0;
    int sweeps = 1;            // recordings averaged
    double latencySamples = 0; // where the averaged impulse response peaks
    // Where each recording's own impulse response peaked, in the order made.
    std::vector<double> recordingLatencySamples;
};

// "frequency_hz,gain_db,phase_deg,h2_db,h3_db,h4_db,h5_db,thd_db"
extern const char* const SweptSineHeader;

// ResultComments, then "# key: value" for latency_samples, sweep_start_hz,
// sweep_end_hz, sweep_length_s, sweep_level_dbfs, sweeps and
// recording_latency_samples (the recordings' delays, separated by spaces).
std::string SweptSineComments(const RunInfo& info, const SweptSineRun& sweep);
// One line ending in '\n'; a harmonic or THD not given is an empty field.
std::string SweptSineRow(const SweepResponsePoint& point);
std::string SweptSineRows(std::span<const SweepResponsePoint> points);
std::string SweptSineCsv(const RunInfo& info, const SweptSineRun& sweep,
                         std::span<const SweepResponsePoint> points);

extern const char* const ImpulseHeader; // "time_s,amplitude"
// SweptSineComments, the header, and a row for each sample of an impulse
// response (ImpulseRows): impulse[i] at (start + i) / the sample rate seconds
// after the sweep's start, in full scale.
std::string ImpulseRows(double sampleRateHz, long long start, std::span<const double> impulse);
std::string ImpulseCsv(const RunInfo& info, const SweptSineRun& sweep, long long start,
                       std::span<const double> impulse);

// A response file of either kind, as read back.
struct SavedResponse {
    enum class Kind {
        SteppedSweep, // ResponseHeader: levels, in `stepped`
        SweptSine,    // SweptSineHeader: gains re the level played, in `swept`
    } kind = Kind::SteppedSweep;
    std::vector<ResponsePoint> stepped;
    std::vector<SweepResponsePoint> swept;
    // A "# latency_samples: N" line before the header.
    std::optional<double> latencySamples;
};

// Reads a response file of either kind, told apart by its header, as
// ParseResponseCsv reads the stepped sweep's: the same rules for lines,
// comments, frequencies and errors. A swept-sine row's gain and phase must be
// finite, each harmonic and the THD finite or empty; a latency_samples
// comment must be a finite number. Leaves `response` unchanged on failure.
bool ParseSavedResponse(std::string_view text, SavedResponse& response, std::string& error);
