#include "measure/LoopCheck.h"

#include "dsp/FFT.h"
#include "dsp/SignalFormat.h"
#include "measure/BlockAnalysis.h"
#include "measure/SweepPlan.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

std::string Number(const char* format, double value) {
    char text[32];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

} // namespace

LoopCheck CheckLoop(const double* block, int fftSize, double toneHz, double expectedDb, CFFT& fft,
                    double* spectrum) {
    fft.Transform(block, spectrum);
    // Bins 0 and 1 hold any offset rather than a line.
    const double* strongest = std::max_element(spectrum + 2, spectrum + fftSize / 2);
    const int bin = static_cast<int>(strongest - spectrum);
    const double position = ToneBinPosition(toneHz, fftSize);
    const int toneBin = GeneratorBin(toneHz, fftSize);
    LoopCheck check{LoopCheck::Verdict::Passed, bin * SampleRate / fftSize,
                    spectrum[toneBin] - fft.WindowGainDb(position - toneBin),
                    std::all_of(block, block + fftSize, [](double x) { return x == 0; })};
    if (std::any_of(block, block + fftSize, ReachesFullScale))
        check.verdict = LoopCheck::Verdict::Clipped;
    else if (std::fabs(bin - position) > 1.0)
        check.verdict = LoopCheck::Verdict::NoTone;
    else if (std::fabs(check.levelDb - expectedDb) > LoopCheck::LevelMarginDb)
        check.verdict = LoopCheck::Verdict::LevelOff;
    return check;
}

std::string LoopCheck::Problem(double toneHz, double expectedDb) const {
    switch (verdict) {
    case Verdict::Passed:
        return "";
    case Verdict::NoTone:
        if (silent)
            return "nothing comes back: the input is silent. Is a loop-back cable connected from "
                   "the output to the input, and are these the devices it is connected to?";
        return "the " + Number("%g", toneHz) +
               " Hz tone does not come back: the strongest line is at " +
               Number("%.1f", strongestHz) +
               " Hz. Is a loop-back cable connected from the output to the input, and are these "
               "the devices it is connected to?";
    case Verdict::Clipped:
        return "the tone comes back clipped (samples at full scale): turn the input or the "
               "output volume down";
    case Verdict::LevelOff:
        return "the tone comes back at " + Number("%.1f", levelDb) + " dB instead of about " +
               Number("%.0f", expectedDb) +
               " dB: set the sound server's output and input volumes to 100 %";
    }
    return "";
}
