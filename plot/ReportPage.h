// The loop-back report as one self-contained HTML page: the table of figures
// and four plots (frequency response, the swept sine's distortion against
// frequency, the spectrum of the distortion measurement, the noise spectrum) drawn into pixel
// surfaces and embedded as PNG. Qt Gui only encodes the pictures; the labels on them are drawn with
// a built-in pixel font, because Qt's text rendering needs a QGuiApplication and the command line,
// which writes this page, has no display.
#pragma once

#include "measure/ChannelsReport.h"
#include "measure/LoopbackReport.h"
#include "plot/Surface.h"

#include <string>

// Every plot's size in pixels.
constexpr int ReportPlotWidth = 720;
constexpr int ReportPlotHeight = 320;
// Where the axes lie in each plot: 10 Hz at left, 22050 Hz at right, placed as
// FreqToX places them over right - left; the top of the level range at top,
// its bottom at bottom, linear in dB between. The response is drawn re the
// reference level from +6 dB down to -24 dB, widened in whole steps of its
// grid (6, 12 or 24 dB) to take in every point down to -120 dB and up to
// +60 dB; the spectra from 0 dB down to -160 dB re a full-scale sine.
constexpr CRect ReportPlotArea{56, 26, 704, 294};
// The measured curve in every plot.
constexpr COLORREF ReportCurveColor = RGB(0x1F, 0x4E, 0x9A);

// The whole page, UTF-8, from "<!DOCTYPE html>" to "</html>\n". Text taken
// from the run (device names, dates) is HTML-escaped. A plot without data
// (an empty spectrum, or a noise measurement that found digital silence)
// is replaced by a sentence saying so.
std::string ReportHtml(const LoopbackReport& report, const FormatLimits& limits);
// A report of two channels: each channel's table and plots under its own
// heading, then the crosstalk and the channel match.
std::string ReportHtml(const ChannelsReport& report, const FormatLimits& limits);
