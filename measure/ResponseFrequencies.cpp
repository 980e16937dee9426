#include "measure/ResponseFrequencies.h"

#include "dsp/SignalFormat.h"
#include "measure/SweepPlan.h"

#include <cmath>

std::vector<double> PerOctaveFrequencies(int perOctave) {
    std::vector<double> frequencies;
    if (perOctave < 1 || perOctave > MaxPointsPerOctave)
        return frequencies;
    const double lowest = SweepStartFrequency(BlockSize);
    const auto first = static_cast<int>(std::ceil(perOctave * std::log2(lowest / 1000)));
    for (int i = first;; ++i) {
        const double f = 1000 * std::exp2(static_cast<double>(i) / perOctave);
        if (f > DenseCurveHighestHz)
            break;
        if (f >= lowest)
            frequencies.push_back(f);
    }
    return frequencies;
}
