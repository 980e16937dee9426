#include "measure/BlockAnalysis.h"

#include "dsp/SignalFormat.h"
#include "measure/NumberFormat.h"

#include <array>
#include <cmath>
#include <numbers>

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
    // Normal equations of x[i] ~ d + a cos(wi) + b sin(wi); cos and sin by
    // rotation, in extended precision.
    const long double w = 2 * std::numbers::pi_v<long double> * frequency / SampleRate;
    const long double stepCos = std::cos(w), stepSin = std::sin(w);
    long double cosine = 1, sine = 0;
    long double sc = 0, ss = 0, scc = 0, sss = 0, scs = 0, sx = 0, sxc = 0, sxs = 0;
    for (int i = 0; i < n; ++i) {
        const long double x = block[i];
        sc += cosine;
        ss += sine;
        scc += cosine * cosine;
        sss += sine * sine;
        scs += cosine * sine;
        sx += x;
        sxc += x * cosine;
        sxs += x * sine;
        const long double next = cosine * stepCos - sine * stepSin;
        sine = sine * stepCos + cosine * stepSin;
        cosine = next;
    }
    // Cramer's rule for d in [[n, sc, ss], [sc, scc, scs], [ss, scs, sss]].
    const auto det3 = [](const std::array<long double, 9>& m) {
        return m[0] * (m[4] * m[8] - m[5] * m[7]) - m[1] * (m[3] * m[8] - m[5] * m[6]) +
               m[2] * (m[3] * m[7] - m[4] * m[6]);
    };
    const long double all = det3({static_cast<long double>(n), sc, ss, sc, scc, scs, ss, scs, sss});
    const long double withX = det3({sx, sc, ss, sxc, scc, scs, sxs, scs, sss});
    // A tone at 0 Hz or at half the rate cannot be told from an offset.
    if (!(std::fabs(all) > 1e-9L * n * n * n))
        return static_cast<double>(sx / n);
    return static_cast<double>(withX / all);
}

void SubtractOffset(double* block, int n, double offset) {
    for (int i = 0; i < n; ++i)
        block[i] -= offset;
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
