// The geometry of the two views of the instrument window and the routines
// that draw into them: the spectrum view (level in dB over a logarithmic
// frequency axis from 10 Hz to 22050 Hz) and the oscilloscope view (one
// generator period across the width).
//
// Every routine takes the view rectangle with right and bottom already one
// less than the client size; W is its right edge, H its bottom edge, and all
// coordinates start at 0. A view with W or H below 1 is not drawn. Each
// routine leaves the pen selected that it found.
#pragma once

#include "measure/Rounding.h"
#include "plot/Surface.h"

// +12 dB at y = 0, 0 dB at 0.1*H, -96 dB at 0.9*H, -108 dB at y = H; levels
// beyond are held at the edges, and a level that is not a number lies at the
// bottom, like silence.
int DbToY(double dB, int H);

// 10 Hz at 0, 22050 Hz at W, not rounded; below 10 Hz the result is negative.
double FreqToX(double f, int W);

// Horizontal position of the oscilloscope trace in pixels, carried from block
// to block so the trace stays in phase with the generator.
extern double ScopePhase;

// The dialog's drawing objects.
struct PlotPens {
    CPen* curve;
    CPen* vMark;
    CPen* hMark;
    CPen* vGrid;
    CPen* hGrid;
    COLORREF scopeColor;
};

// How the oscilloscope trace is scaled and placed.
struct ScopeSettings {
    double genPeriod;   // the generator's period in samples: one view width
    int level;          // 0 "0dB", 1 "-20dB", 2 "No": magnifies 1, 10, 100 times
    int offsetPosition; // 0..100: shifts the trace by that percentage of W
};

void DrawSpectrumGrid(CDC* pDC, const CRect& rect, const PlotPens& pens);

// One point per bin of spectrum[1 .. fftSize/2 - 1] (dB); bin 0 is not drawn.
void DrawSpectrumCurve(CDC* pDC, const CRect& rect, const PlotPens& pens, const double* spectrum,
                       int fftSize);

void DrawScopeGrid(CDC* pDC, const CRect& rect, const PlotPens& pens);

// One pixel per sample of sampleBlock[0 .. fftSize - 1] (full scale 1.0).
// droppedBlocks, the blocks the capture thread discarded before this one (a
// negative count counts as none), are skipped at the end of this block, so the
// next block continues in phase with the generator. A period that is not
// positive and finite draws nothing and leaves the phase as it is.
void DrawScopeTrace(CDC* pDC, const CRect& rect, const PlotPens& pens, const double* sampleBlock,
                    int fftSize, const ScopeSettings& settings, int droppedBlocks);
