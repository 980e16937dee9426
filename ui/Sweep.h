// The arithmetic of the frequency-response sweep: its frequency plan, the
// generator's FFT bin, the test for noise lines and the settling of the tone
// after each change. The sweep's own steps are the main dialog's.
#pragma once

#include <cstdint>

// Blocks counted at the current sweep frequency.
extern int SweepBlockCount;
// Largest level (dB) of the generator's bin over the counted blocks.
extern double SweepPeak;
// Consecutive blocks that failed the noise test.
extern int NoiseFailCount;

// One sweep step's result: the measured frequency (Hz) and level (dB).
struct SweepPoint {
    double f;
    double p;
};

// The sweep ends when the next frequency would reach this (Hz).
constexpr double SweepEndFrequency = 44100 * 0.5 - 5;
// The edit field's text after a complete sweep.
constexpr double SweepEndFieldFrequency = 344.53125;
// A line within this power ratio of the tone's bin is a noise line (-16 dB).
constexpr double NoiseLineFactor = 0.025118864315095794;

// The lowest bin frequency at or above 10 Hz.
double SweepStartFrequency(int fftSize);
// One hundredth of the plot's logarithmic span above `frequency`.
double NextSweepFrequency(double frequency);
// The tone's position in bins, FftSize * f / 44100, and its nearest bin.
double ToneBinPosition(double frequency, int fftSize);
int GeneratorBin(double frequency, int fftSize);

// The block's DC offset when it carries a tone of `frequency` Hz: fitted
// jointly with the tone (least squares on 1, cos and sin at that frequency),
// so that a tone of no whole number of periods in the block, whose own mean
// is not zero, keeps its level. The plain mean would take part of a low tone
// with it and change its level at the nearest bins (by up to 0.4 dB near
// 12.6 Hz with the quasi-Chebyshev window).
double OffsetBesideTone(const double* block, int n, double frequency);

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

// Tells whether a captured block can still carry the previous tone. The
// playback thread keeps four buffers queued, so after a frequency change up to
// four blocks of the old tone are still to be played, and the block being
// recorded at the change started up to a block earlier: the first six blocks
// recorded after the change may carry the old tone or a mix of both.
class ToneSettling {
  public:
    static constexpr int StaleBlocks = 6;

    // The generator's frequency has just changed.
    void Retuned();
    // A block was handed over with `droppedBefore` blocks discarded before it.
    // The first one after the change is the block being recorded at the
    // change; its dropped blocks were all recorded before it.
    void BlockShown(std::uint64_t droppedBefore);
    bool MayCarryOldTone() const { return m_blocksRecorded <= StaleBlocks; }

  private:
    std::uint64_t m_blocksRecorded = StaleBlocks + 1;
    bool m_firstAfterChange = false;
};
