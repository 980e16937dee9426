// The check before a loop-back report: the tone played must come back where
// it was played, unclipped, and near its level; else the report would
// measure something other than a card through a cable.
#pragma once

#include <string>

class CFFT;

struct LoopCheck {
    static constexpr double LevelMarginDb = 20;

    enum class Verdict { Passed, NoTone, Clipped, LevelOff } verdict;
    double strongestHz; // the strongest line heard
    double levelDb;     // the tone's level heard, re a full-scale sine
    bool silent;        // every sample was zero

    // What went wrong and what to look at; empty when passed.
    std::string Problem(double toneHz, double expectedDb) const;
};

// From a block of fftSize samples and `fft` (quasi-Chebyshev, of that size;
// `spectrum` holds fftSize / 2 values for it). The tone must be the strongest
// line, within one bin of `toneHz`; no sample may reach full scale; its level
// must lie within LevelMarginDb of `expectedDb`.
LoopCheck CheckLoop(const double* block, int fftSize, double toneHz, double expectedDb, CFFT& fft,
                    double* spectrum);
