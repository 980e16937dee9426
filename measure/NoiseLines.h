// The sweep's test for noise lines: whether a block's spectrum shows a line
// other than the generator's tone that could spoil the tone's level.
#pragma once

// A line within this power ratio of the tone's bin is a noise line (-16 dB).
constexpr double NoiseLineFactor = 0.025118864315095794;

// Half the width, in bins, of the tone's own main lobe with margin for the
// window in use: bins farther from the tone's bin belong to other lines.
int MainLobeGuardBins(int windowType);

// True when `spectrum` (dB, `bins` values) shows a line other than a tone at
// `tonePosition` bins, whose own bin is c = its nearest bin:
// - any bin more than `guard` bins from c lies above spectrum[c] plus
//   10 log10(NoiseLineFactor): another line within 16 dB of the tone (hum,
//   noise, a previous tone);
// - or the strongest bin within the guard is not one of the two bins that
//   straddle the tone: the tone heard is not where the generator is.
bool HasNoiseLines(const double* spectrum, int bins, double tonePosition, int guard);
