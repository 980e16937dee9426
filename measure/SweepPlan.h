// The frequencies of the frequency-response sweep: from the lowest FFT bin
// frequency at or above 10 Hz upward by one hundredth of the plot's
// logarithmic span (2205^0.01) per step, until the next would reach 22045 Hz.
#pragma once

#include <vector>

// The sweep ends when the next frequency would reach this (Hz).
constexpr double SweepEndFrequency = 44100 * 0.5 - 5;
// The window's frequency field after a complete sweep.
constexpr double SweepEndFieldFrequency = 344.53125;

// The lowest bin frequency at or above 10 Hz.
double SweepStartFrequency(int fftSize);
// One hundredth of the plot's logarithmic span above `frequency`.
double NextSweepFrequency(double frequency);
// `frequency` as the window's field shows it and reads it back: 15
// significant digits. Each step starts from that value.
double ShownFrequency(double frequency);
// The frequency after `frequency` in the sweep: from its shown value.
double SweepFrequencyAfter(double frequency);
// The last frequency is measured but yields no point: the sweep ends there.
bool IsLastSweepFrequency(double frequency);
// Every frequency that yields a point, in order (99 for 8192-sample blocks).
std::vector<double> SweepPointFrequencies(int fftSize);

// The tone's position in bins, FftSize * f / 44100, and its nearest bin.
double ToneBinPosition(double frequency, int fftSize);
int GeneratorBin(double frequency, int fftSize);
