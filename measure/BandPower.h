// Power over a frequency band, read from a block's dB power spectrum, and
// the A-weighting of IEC 61672 that noise figures are given with.
#pragma once

// The A-weighting's gain in dB at `frequencyHz`: 0 dB at 1 kHz, about -19 dB
// at 100 Hz and -2.5 dB at 10 kHz.
double AWeightingDb(double frequencyHz);

enum class Weighting { None, A };

// The mean square that the bins of `spectrumDb` (bin k at k * binWidthHz, 0 dB
// a full-scale sine) between lowHz and highHz carry, weighted. A sine of
// amplitude a in one bin carries a^2 / 2. Each bin counts once, which is right
// for a rectangle-window transform; a windowed spectrum's bins overlap by the
// window's equivalent noise bandwidth and must be divided by it.
double BandPower(const double* spectrumDb, int bins, double binWidthHz, double lowHz, double highHz,
                 Weighting weighting);

// A mean square in dB re a full-scale sine's (0.5): dBFS.
double PowerDbfs(double meanSquare);
