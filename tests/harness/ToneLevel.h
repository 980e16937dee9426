// The tone as `tembrix spectrum` reads it back, for the tests that run the
// program through a real sound server.
#pragma once

#include <cmath>
#include <string>

// The tone as the level buttons set it, re a full-scale sine.
inline const double ZeroDbToneDb = 20 * std::log10(32767.0 / 32768);
inline const double Minus20dBToneDb = 20 * std::log10(6554.0 / 65536 * 32767 / 32768);
// The window's start tone, which the spectrum plays by default.
constexpr double StartToneHz = 44100 / 32.5;

// The level of the bin nearest `toneHz` in a spectrum CSV (quasi-Chebyshev
// window), less the window's own gain at the tone's offset from that bin: the
// tone's level when the path is right. NAN when the file has no such row;
// -inf for digital silence.
double ToneLevelDb(const std::string& csv, double toneHz);
