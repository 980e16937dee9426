#include "measure/BlockAnalysis.h"

#include "dsp/SignalFormat.h"
#include "measure/NumberFormat.h"
#include "measure/ToneFit.h"

#include <cmath>

namespace {

const double PowerThreshold = std::pow(10.0, -10.5);
constexpr const char* TooLowText = "Too low";
// A full-scale sine has a mean square of 0.5: +3 dB makes it read 0 dB.
constexpr double SinePowerDb = 3.0;
constexpr int PowerDigits = 2;

} // namespace

double BlockMean(const double* block, int n) {
    long double sum = 0.0L;
    for (int i = 0; i < n; ++i)
        sum += block[i];
    return static_cast<double>(sum / n);
}

double OffsetBesideTone(const double* block, int n, double frequency) {
    return FitTone(block, n, frequency).offset;
}

void SubtractOffset(double* block, int n, double offset) {
    for (int i = 0; i < n; ++i)
        block[i] -= offset;
}

bool ReachesFullScale(double sample) {
    return sample >= (SampleFullScale - 1) / SampleFullScale || sample <= -1.0;
}

double MeanSquare(const double* block, int n) {
    long double sum = 0.0L;
    for (int i = 0; i < n; ++i)
        sum += static_cast<long double>(block[i]) * block[i];
    return static_cast<double>(sum / n);
}

std::string PowerText(double meanSquare) {
    if (!(meanSquare > PowerThreshold))
        return TooLowText;
    return Gcvt(10 * std::log10(meanSquare) + SinePowerDb, PowerDigits);
}
