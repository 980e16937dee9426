#include "Sweep.h"

#include "FFT.h"
#include "PlotGeometry.h"

#include <array>
#include <cmath>
#include <numbers>

int SweepBlockCount = 0;
double SweepPeak = 0.0;
int NoiseFailCount = 0;

namespace {

constexpr double LowestFrequency = 10.0;
// The quasi-Chebyshev window's main lobe reaches about 3.9 bins from the tone;
// the rectangle's side lobes fall below -16 dB re the tone's bin beyond about
// 3.2 bins. Five bins leave a margin for both.
constexpr int QuasiChebyshevGuard = 5;
constexpr int RectangleGuard = 5;

} // namespace

double SweepStartFrequency(int fftSize) {
    const double binWidth = 44100.0 / fftSize;
    int k = 1;
    if (binWidth < LowestFrequency) {
        while (k * binWidth < LowestFrequency)
            ++k;
    }
    return k * binWidth;
}

double NextSweepFrequency(double frequency) {
    const double span = std::log10(44100 * 0.05);
    return 10 * std::pow(10.0, span * (std::log10(frequency / 10) / span + 0.01));
}

double ToneBinPosition(double frequency, int fftSize) {
    return fftSize * frequency / 44100;
}

int GeneratorBin(double frequency, int fftSize) {
    return RoundHalfAway(ToneBinPosition(frequency, fftSize));
}

double OffsetBesideTone(const double* block, int n, double frequency) {
    // Normal equations of x[i] ~ d + a cos(wi) + b sin(wi); cos and sin by
    // rotation, in extended precision.
    const long double w = 2 * std::numbers::pi_v<long double> * frequency / 44100;
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

int MainLobeGuardBins(int windowType) {
    return windowType == CFFT::Rectangle ? RectangleGuard : QuasiChebyshevGuard;
}

bool HasNoiseLines(const double* spectrum, int bins, double tonePosition, int guard) {
    const int c = RoundHalfAway(tonePosition);
    if (c < 0 || c >= bins)
        return true;
    const double threshold = spectrum[c] + 10 * std::log10(NoiseLineFactor);
    int strongest = c;
    for (int k = 0; k < bins; ++k) {
        if (std::abs(k - c) > guard) {
            if (spectrum[k] > threshold)
                return true;
        } else if (spectrum[k] > spectrum[strongest]) {
            strongest = k;
        }
    }
    return std::fabs(strongest - tonePosition) >= 1.0;
}

void ToneSettling::Retuned() {
    m_blocksRecorded = 0;
    m_firstAfterChange = true;
}

void ToneSettling::BlockShown(std::uint64_t droppedBefore) {
    if (m_blocksRecorded > StaleBlocks)
        return;
    m_blocksRecorded += m_firstAfterChange ? 1 : droppedBefore + 1;
    m_firstAfterChange = false;
}
