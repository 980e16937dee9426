// Results as CSV files: a few "# ..." comment lines describing the run, a
// header and one row per point or bin. Numbers are written shortest
// round-trip with '.' as the point whatever the process locale, so a file read
// back gives the very doubles that were written.
#pragma once

#include "measure/ResponsePoint.h"

#include <chrono>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// What the comment lines at the top of a result file say about the run.
struct RunInfo {
    std::string measurement; // "sweep" or "spectrum"
    std::string version;     // the program's version, e.g. "0.1.0"
    std::string dateTime;    // ISO 8601 with offset, e.g. "2026-12-08T23:41:05+00:00"
    std::string audio;       // the backend: "system" or "virtual"
    std::string inputDevice; // the devices' names
    std::string outputDevice;
    std::string level;  // "0 dB", "-20 dB" or "off"
    std::string window; // "quasi-chebyshev" or "rectangle" (or "mixed")
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
// "# key: value" for date, audio, input, output, level, window, tone_hz and
// blocks (each only when above 0), sample_rate_hz and block_size. Line breaks
// inside values become spaces so that a device name cannot break the file.
std::string ResultComments(const RunInfo& info);

extern const char* const ResponseHeader; // "frequency_hz,level_db,peak_db,window_gain_db,blocks"
extern const char* const SpectrumHeader; // "frequency_hz,level_db"

// One line ending in '\n'. Non-finite values are written "inf", "-inf", "nan".
std::string ResponseRow(const ResponsePoint& point);
std::string SpectrumRow(double frequencyHz, double levelDb);

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
