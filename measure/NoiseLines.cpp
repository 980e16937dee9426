#include "measure/NoiseLines.h"

#include "dsp/FFT.h"
#include "measure/Rounding.h"

#include <cmath>
#include <cstdlib>

namespace {

// The quasi-Chebyshev window's main lobe reaches about 3.9 bins from the tone;
// the rectangle's side lobes fall below -16 dB re the tone's bin beyond about
// 3.2 bins. Five bins leave a margin for both.
constexpr int QuasiChebyshevGuard = 5;
constexpr int RectangleGuard = 5;

} // namespace

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
