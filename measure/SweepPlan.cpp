#include "measure/SweepPlan.h"

#include "dsp/SignalFormat.h"
#include "measure/NumberFormat.h"
#include "measure/Rounding.h"

#include <cmath>

namespace {
constexpr double LowestFrequency = 10.0;
}

double SweepStartFrequency(int fftSize) {
    const double binWidth = SampleRate / fftSize;
    int k = 1;
    if (binWidth < LowestFrequency) {
        while (k * binWidth < LowestFrequency)
            ++k;
    }
    return k * binWidth;
}

double NextSweepFrequency(double frequency) {
    const double span = std::log10(SampleRate * 0.05);
    return 10 * std::pow(10.0, span * (std::log10(frequency / 10) / span + 0.01));
}

double ShownFrequency(double frequency) {
    double shown = frequency;
    ParseDouble(FormatDouble15(frequency), shown);
    return shown;
}

double SweepFrequencyAfter(double frequency) {
    return NextSweepFrequency(ShownFrequency(frequency));
}

bool IsLastSweepFrequency(double frequency) {
    return NextSweepFrequency(frequency) >= SweepEndFrequency;
}

std::vector<double> SweepPointFrequencies(int fftSize) {
    std::vector<double> frequencies;
    for (double f = SweepStartFrequency(fftSize); SweepFrequencyAfter(f) < SweepEndFrequency;
         f = SweepFrequencyAfter(f))
        frequencies.push_back(f);
    return frequencies;
}

double ToneBinPosition(double frequency, int fftSize) {
    return fftSize * frequency / SampleRate;
}

int GeneratorBin(double frequency, int fftSize) {
    return RoundHalfAway(ToneBinPosition(frequency, fftSize));
}
