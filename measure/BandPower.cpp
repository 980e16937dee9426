#include "measure/BandPower.h"

#include <cmath>

namespace {

// The poles of the A-weighting (Hz) and its normalisation at 1 kHz.
constexpr double F1 = 20.598997, F2 = 107.65265, F3 = 737.86223, F4 = 12194.217;
constexpr double A1000Db = 2.0;

// A full-scale sine in one bin is 0 dB, and carries a mean square of 1/2.
constexpr double SineMeanSquare = 0.5;

} // namespace

double AWeightingDb(double frequencyHz) {
    const double f2 = frequencyHz * frequencyHz;
    const double ra =
        F4 * F4 * f2 * f2 /
        ((f2 + F1 * F1) * std::sqrt((f2 + F2 * F2) * (f2 + F3 * F3)) * (f2 + F4 * F4));
    return 20 * std::log10(ra) + A1000Db;
}

double BandPower(const double* spectrumDb, int bins, double binWidthHz, double lowHz, double highHz,
                 Weighting weighting) {
    double sum = 0;
    for (int k = 0; k < bins; ++k) {
        const double f = k * binWidthHz;
        if (f < lowHz || f > highHz)
            continue;
        const double db = spectrumDb[k] + (weighting == Weighting::A ? AWeightingDb(f) : 0.0);
        sum += std::pow(10.0, db / 10);
    }
    return sum * SineMeanSquare;
}

double PowerDbfs(double meanSquare) {
    return 10 * std::log10(meanSquare / SineMeanSquare);
}
