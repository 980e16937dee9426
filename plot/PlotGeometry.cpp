#include "plot/PlotGeometry.h"

#include "dsp/SignalFormat.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

double ScopePhase = 0.0;

namespace {

// Both views take y beyond the rectangle to its edge.
int HoldInView(int y, int H) {
    if (y < 0)
        y = 0;
    if (y > H)
        y = H;
    return y;
}

bool IsDrawable(const CRect& rect) {
    return rect.right >= 1 && rect.bottom >= 1;
}

void VerticalLine(CDC* pDC, int x, int H) {
    pDC->MoveTo(x, 0);
    pDC->LineTo(x, H);
}

void HorizontalLine(CDC* pDC, int y, int W) {
    pDC->MoveTo(0, y);
    pDC->LineTo(W, y);
}

// Decades above 10 Hz of the centre frequency of FFT bin `bin`.
double BinDecades(int bin, int fftSize) {
    const double frequency = static_cast<double>(bin) * SampleRate / fftSize;
    return std::log10(frequency * 0.1);
}

// The level buttons lower the tone 10 and 100 times; the trace makes up for it.
int LevelMagnification(int level) {
    constexpr int magnification[] = {1, 10, 100};
    return magnification[std::clamp(level, 0, 2)];
}

} // namespace

int DbToY(double dB, int H) {
    if (std::isnan(dB))
        return H;
    return HoldInView(RoundHalfAway(H * 0.05 * 2 - H * (1.0 / 120) * dB), H);
}

double FreqToX(double f, int W) {
    return std::log10(f * 0.1) * W / std::log10(SampleRate * 0.05);
}

void DrawSpectrumGrid(CDC* pDC, const CRect& rect, const PlotPens& pens) {
    if (!IsDrawable(rect))
        return;
    const int W = rect.right;
    const int H = rect.bottom;

    CPen* entryPen = pDC->SelectObject(pens.vGrid);
    const double kx = W / (std::log10(SampleRate * 0.5) - 1.0);
    for (int decade = 0; decade <= 3; ++decade) {
        for (int m = 2; m <= 9; ++m) {
            const int x = RoundHalfAway((std::log10(m) + decade) * kx);
            if (x < W)
                VerticalLine(pDC, x, H);
        }
        const int x = RoundHalfAway((std::log10(10) + decade) * kx);
        if (x < W) {
            pDC->SelectObject(pens.vMark);
            VerticalLine(pDC, x, H);
            pDC->SelectObject(pens.vGrid);
        }
    }

    // Every 6 dB from +6 dB down to -102 dB; 0 dB and -96 dB emphasised.
    const double q = H * 0.05;
    pDC->SelectObject(pens.hGrid);
    HorizontalLine(pDC, TruncToInt(1 * q), W);
    pDC->SelectObject(pens.hMark);
    HorizontalLine(pDC, TruncToInt(2 * q), W);
    pDC->SelectObject(pens.hGrid);
    for (int k = 3; k <= 19; ++k) {
        if (k == 18) {
            pDC->SelectObject(pens.hMark);
            HorizontalLine(pDC, TruncToInt(k * q), W);
            pDC->SelectObject(pens.hGrid);
        } else {
            HorizontalLine(pDC, TruncToInt(k * q), W);
        }
    }
    pDC->SelectObject(pens.hMark);
    HorizontalLine(pDC, TruncToInt(q * 5.333333333333334), W); // -20 dB

    pDC->SelectObject(entryPen);
}

void DrawSpectrumCurve(CDC* pDC, const CRect& rect, const PlotPens& pens, const double* spectrum,
                       int fftSize) {
    if (!IsDrawable(rect) || fftSize / 2 < 2)
        return;
    const int W = rect.right;
    const int H = rect.bottom;

    CPen* entryPen = pDC->SelectObject(pens.curve);
    const double kx = W / std::log10(SampleRate * 0.05);
    // Bins below 10 Hz only move the pen to the left edge.
    const double firstDecades = BinDecades(1, fftSize);
    const int firstY = DbToY(spectrum[1], H);
    pDC->MoveTo(firstDecades < 0 ? 0 : TruncToInt(firstDecades * kx), firstY);
    for (int i = 2; i < fftSize / 2; ++i) {
        const int y = DbToY(spectrum[i], H);
        const double decades = BinDecades(i, fftSize);
        if (decades < 0)
            pDC->MoveTo(0, y);
        else
            pDC->LineTo(TruncToInt(decades * kx), y);
    }
    pDC->SelectObject(entryPen);
}

void DrawScopeGrid(CDC* pDC, const CRect& rect, const PlotPens& pens) {
    if (!IsDrawable(rect))
        return;
    const int W = rect.right;
    const int H = rect.bottom;

    CPen* entryPen = pDC->SelectObject(pens.vGrid);
    for (int i = 1; i <= 9; ++i) {
        const int x = TruncToInt(i * (W * 0.1));
        if (i == 5) {
            pDC->SelectObject(pens.vMark);
            VerticalLine(pDC, x, H);
            pDC->SelectObject(pens.vGrid);
        } else {
            VerticalLine(pDC, x, H);
        }
    }
    pDC->SelectObject(pens.hGrid);
    for (int j = 1; j <= 9; ++j) {
        const int y = TruncToInt(j * (H * 0.1));
        if (j == 5) {
            pDC->SelectObject(pens.hMark);
            HorizontalLine(pDC, y, W);
            pDC->SelectObject(pens.hGrid);
        } else {
            HorizontalLine(pDC, y, W);
        }
    }
    pDC->SelectObject(entryPen);
}

void DrawScopeTrace(CDC* pDC, const CRect& rect, const PlotPens& pens, const double* sampleBlock,
                    int fftSize, const ScopeSettings& settings, int droppedBlocks) {
    if (!IsDrawable(rect))
        return;
    const int W = rect.right;
    const int H = rect.bottom;
    const double period = settings.genPeriod;
    const double pixelsPerSample = W / period;
    // A phase that once became not a number would blank the trace for good.
    if (!(period > 0.0) || !std::isfinite(pixelsPerSample))
        return;

    const double width = W;
    const double offset = static_cast<double>(std::int64_t{W} * settings.offsetPosition) * 0.01;
    const int gain = (LevelMagnification(settings.level) * (H - 4)) / 2;
    const double centre = H / 2; // whole pixels

    // The dropped blocks come before this one: skip their samples first, so
    // this block is drawn in phase with the generator too. Each leaves over
    // the part of a period that FftSize samples do not fill.
    const double droppedWidth = static_cast<double>(std::max(droppedBlocks, 0)) * W;
    ScopePhase = std::fmod(ScopePhase + std::fmod(fftSize, period) * droppedWidth / period, width);

    for (int i = 0; i < fftSize; ++i) {
        ScopePhase = std::fmod(ScopePhase + pixelsPerSample, width);
        const int x = TruncToInt(std::fmod(offset + ScopePhase, width));
        const int y = HoldInView(RoundHalfAway(centre - sampleBlock[i] * gain), H);
        pDC->SetPixel(x, y, pens.scopeColor);
    }
}
