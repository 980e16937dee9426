#include "plot/PlotGeometry.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <functional>
#include <limits>
#include <memory>
#include <numbers>
#include <set>
#include <vector>

namespace {

constexpr int FftSize = 8192;
constexpr COLORREF Black = RGB(0, 0, 0);
constexpr COLORREF Green = RGB(0, 255, 0);
constexpr COLORREF VMark = RGB(228, 87, 236);
constexpr COLORREF HMark = RGB(173, 21, 181);
constexpr COLORREF VGrid = RGB(196, 0, 0);
constexpr COLORREF HGrid = RGB(128, 0, 0);

// A view as the dialog hands it over: the client area is one pixel wider and
// higher than the rectangle's right and bottom edges.
struct PlotView : ::testing::Test {
    CPen curve, vMark, hMark, vGrid, hGrid, entryPen;
    PlotPens pens{&curve, &vMark, &hMark, &vGrid, &hGrid, Green};
    PixelSurface surface;
    std::unique_ptr<CDC> dc;
    CRect view;

    void SetUp() override {
        curve.CreatePen(PS_SOLID, 1, Green);
        vMark.CreatePen(PS_SOLID, 1, VMark);
        hMark.CreatePen(PS_SOLID, 1, HMark);
        vGrid.CreatePen(PS_SOLID, 1, VGrid);
        hGrid.CreatePen(PS_SOLID, 1, HGrid);
        entryPen.CreatePen(PS_SOLID, 1, RGB(1, 2, 3));
        ScopePhase = 0.0;
    }

    void Open(int W, int H) {
        surface.Resize(W + 1, H + 1);
        dc = std::make_unique<CDC>(surface);
        dc->SelectObject(&entryPen);
        view = {0, 0, W, H};
    }

    void Erase() { dc->FillSolidRect({0, 0, surface.width(), surface.height()}, Black); }

    std::vector<int> PaintedInRow(int y) const {
        std::vector<int> xs;
        for (int x = 0; x < surface.width(); ++x)
            if (dc->GetPixel(x, y) != Black)
                xs.push_back(x);
        return xs;
    }

    std::vector<int> PaintedInColumn(int x) const {
        std::vector<int> ys;
        for (int y = 0; y < surface.height(); ++y)
            if (dc->GetPixel(x, y) != Black)
                ys.push_back(y);
        return ys;
    }

    std::set<int> PaintedRows() const {
        std::set<int> rows;
        for (int y = 0; y < surface.height(); ++y)
            if (!PaintedInRow(y).empty())
                rows.insert(y);
        return rows;
    }

    void DrawTrace(const std::vector<double>& block, int level, int offset, int dropped) {
        DrawScopeTrace(dc.get(), view, pens, block.data(), FftSize, {32.5, level, offset}, dropped);
    }
};

} // namespace

TEST(Rounding, HalvesGoAwayFromZeroAndExtremesSaturate) {
    EXPECT_EQ(RoundHalfAway(2.5), 3);
    EXPECT_EQ(RoundHalfAway(-2.5), -3);
    EXPECT_EQ(RoundHalfAway(2.4), 2);
    EXPECT_EQ(RoundHalfAway(-2.4), -2);
    EXPECT_EQ(RoundHalfAway(-0.5), -1);
    EXPECT_EQ(RoundHalfAway(0.49999999999999994), 0) << "not floor(v + 0.5)";
    EXPECT_EQ(RoundHalfAway(1e300), INT_MAX);
    EXPECT_EQ(RoundHalfAway(-std::numeric_limits<double>::infinity()), INT_MIN);
    EXPECT_EQ(RoundHalfAway(std::numeric_limits<double>::quiet_NaN()), 0);
}

TEST(LevelToY, ZeroDbIsATenthDownAndLevelsBeyondTheViewStayAtItsEdges) {
    EXPECT_EQ(DbToY(0.0, 100), 10);
    EXPECT_EQ(DbToY(0.0, 186), 19); // 18.6
    EXPECT_EQ(DbToY(-6.0, 100), 15);
    EXPECT_EQ(DbToY(-96.0, 186), 167); // 167.4
    EXPECT_EQ(DbToY(12.0, 186), 0);
    EXPECT_EQ(DbToY(40.0, 186), 0);
    EXPECT_EQ(DbToY(-108.0, 186), 186);
    EXPECT_EQ(DbToY(-250.0, 186), 186) << "the transform's floor";
    EXPECT_EQ(DbToY(std::numeric_limits<double>::quiet_NaN(), 186), 186);
}

TEST(FrequencyToX, TheAxisRunsFromTenHzToHalfTheSampleRate) {
    EXPECT_EQ(FreqToX(10.0, 357), 0.0);
    EXPECT_DOUBLE_EQ(FreqToX(22050.0, 357), 357.0);
    EXPECT_NEAR(FreqToX(1000.0, 357), 357.0 * 2.0 / std::log10(2205.0), 1e-9);
    EXPECT_LT(FreqToX(5.0, 357), 0.0);
}

TEST_F(PlotView, SpectrumGridHasDecadeLinesUpTo20kHzAndLinesEverySixDb) {
    Open(300, 200);
    DrawSpectrumGrid(dc.get(), view, pens);

    // The top row meets only the vertical lines: 2..9 per decade, 20 kHz, and
    // the emphasised 100 Hz, 1 kHz, 10 kHz. 30 kHz lies beyond the view.
    const std::vector<int> vertical = {27,  43,  54,  63,  70,  76,  81,  86,  90,  117,
                                       133, 144, 152, 160, 166, 171, 175, 179, 206, 222,
                                       233, 242, 249, 255, 260, 265, 269, 296};
    EXPECT_EQ(PaintedInRow(0), vertical);
    for (int x : vertical)
        EXPECT_EQ(dc->GetPixel(x, 0), (x == 90 || x == 179 || x == 269) ? VMark : VGrid) << x;

    // q = 10: +6 dB at 10, 0 dB at 20, ... -102 dB at 190; -20 dB at 53.
    std::vector<int> horizontal = {10,  20,  30,  40,  50,  53,  60,  70,  80,  90,
                                   100, 110, 120, 130, 140, 150, 160, 170, 180, 190};
    EXPECT_EQ(PaintedInColumn(1), horizontal);
    for (int y : horizontal)
        EXPECT_EQ(dc->GetPixel(1, y), (y == 20 || y == 53 || y == 180) ? HMark : HGrid) << y;

    EXPECT_TRUE(PaintedInRow(200).empty()) << "vertical lines stop short of their end";
    EXPECT_TRUE(PaintedInColumn(300).empty()) << "horizontal lines stop short of their end";
}

TEST_F(PlotView, SpectrumCurveSkipsTheDcBinAndFollowsTheBinsAcrossTheView) {
    Open(300, 200);
    std::vector<double> spectrum(FftSize / 2, -48.0); // y = 20 + 80
    spectrum[0] = 12.0;
    DrawSpectrumCurve(dc.get(), view, pens, spectrum.data(), FftSize);
    EXPECT_EQ(PaintedRows(), std::set<int>{100});
    // The last bins share x = 299, the end of the last drawn stroke.
    EXPECT_EQ(PaintedInRow(100).size(), 299u);
    EXPECT_EQ(PaintedInRow(100).back(), 298);
    EXPECT_EQ(dc->GetPixel(0, 100), Green);
}

TEST_F(PlotView, SpectrumPeakReachesItsLevelAtItsFrequency) {
    Open(300, 200);
    std::vector<double> spectrum(FftSize / 2, -108.0);
    spectrum[186] = 0.0; // 1001.3 Hz
    DrawSpectrumCurve(dc.get(), view, pens, spectrum.data(), FftSize);
    EXPECT_EQ(*PaintedRows().begin(), 20);
    EXPECT_EQ(PaintedInRow(20), std::vector<int>{179});
}

TEST_F(PlotView, ScopeGridLiesAtTruncatedTenthsWithTheCentreLinesEmphasised) {
    Open(99, 59);
    DrawScopeGrid(dc.get(), view, pens);
    EXPECT_EQ(PaintedInRow(0), (std::vector<int>{9, 19, 29, 39, 49, 59, 69, 79, 89}));
    EXPECT_EQ(dc->GetPixel(49, 0), VMark);
    EXPECT_EQ(dc->GetPixel(39, 0), VGrid);
    EXPECT_EQ(PaintedInColumn(0), (std::vector<int>{5, 11, 17, 23, 29, 35, 41, 47, 53}));
    EXPECT_EQ(dc->GetPixel(0, 29), HMark);
    EXPECT_EQ(dc->GetPixel(0, 23), HGrid);
}

TEST_F(PlotView, EveryRoutineLeavesTheEntryPenSelected) {
    Open(120, 80);
    const std::vector<double> samples(FftSize, 0.25);
    const std::vector<std::function<void()>> routines = {
        [&] { DrawSpectrumGrid(dc.get(), view, pens); },
        [&] { DrawSpectrumCurve(dc.get(), view, pens, samples.data(), FftSize); },
        [&] { DrawScopeGrid(dc.get(), view, pens); },
        [&] { DrawTrace(samples, 0, 0, 0); },
    };
    for (const auto& routine : routines) {
        routine();
        EXPECT_EQ(dc->GetCurrentPen(), &entryPen);
    }
}

TEST_F(PlotView, FullScaleSamplesLandTwoPixelsInsideAtLevelZeroAndAreHeldInViewWhenMagnified) {
    Open(100, 100); // gain 48 at level 0, centre 50
    struct Case {
        double sample;
        int level;
        int row;
    };
    for (const Case& c : {Case{1.0, 0, 2}, Case{-1.0, 0, 98}, Case{1.0, 1, 0}, Case{-1.0, 1, 100},
                          Case{-1.0, 2, 100}, Case{0.001, 2, 45}}) {
        Erase();
        DrawTrace(std::vector<double>(FftSize, c.sample), c.level, 0, 0);
        EXPECT_EQ(PaintedRows(), std::set<int>{c.row}) << c.sample << " at level " << c.level;
        EXPECT_LE(PaintedInRow(c.row).front(), 1) << "one period across the width";
        EXPECT_GE(PaintedInRow(c.row).back(), 98);
    }
}

// Samples marked at every second generator period (65 samples at a period of
// 32.5) of the block that starts at absolute sample `start`.
std::vector<double> MarkedBlock(long start) {
    std::vector<double> block(FftSize, 0.0);
    for (int i = 0; i < FftSize; ++i)
        if ((start + i) % 65 == 0)
            block[i] = 1.0;
    return block;
}

TEST_F(PlotView, TraceStaysInPhaseWithTheGeneratorAcrossBlocksAndDroppedBlocks) {
    Open(100, 100);
    DrawTrace(MarkedBlock(0), 0, 0, 0);
    EXPECT_EQ(PaintedInRow(2), std::vector<int>{3});

    Erase();
    DrawTrace(MarkedBlock(FftSize), 0, 0, 0);
    EXPECT_EQ(PaintedInRow(2), std::vector<int>{3}) << "the next block continues the phase";

    // Blocks 2 and 3 are dropped; block 4 arrives with the count: its
    // samples are drawn in phase, and so are those of block 5.
    Erase();
    DrawTrace(MarkedBlock(4 * FftSize), 0, 0, 2);
    EXPECT_EQ(PaintedInRow(2), std::vector<int>{3}) << "the dropped samples are skipped";
    Erase();
    DrawTrace(MarkedBlock(5 * FftSize), 0, 0, 0);
    EXPECT_EQ(PaintedInRow(2), std::vector<int>{3}) << "and the phase carries on";
    EXPECT_GE(ScopePhase, 0.0);
    EXPECT_LT(ScopePhase, 100.0);
}

TEST_F(PlotView, OffsetFiftyShiftsTheTraceByHalfTheWidthWrappingAround) {
    Open(100, 100);
    std::vector<double> sine(FftSize);
    for (int i = 0; i < FftSize; ++i)
        sine[i] = 0.5 * std::sin(2.0 * std::numbers::pi * i / 32.5);
    DrawTrace(sine, 0, 0, 0);
    PixelSurface unshifted = surface;

    Erase();
    ScopePhase = 0.0;
    DrawTrace(sine, 0, 50, 0);
    const CDC before(unshifted);
    for (int y = 0; y <= 100; ++y)
        for (int x = 0; x < 100; ++x)
            ASSERT_EQ(dc->GetPixel((x + 50) % 100, y), before.GetPixel(x, y)) << x << "," << y;
    EXPECT_TRUE(PaintedInColumn(100).empty());
}

TEST_F(PlotView, AViewWithNoWidthOrHeightDrawsNothingAndKeepsThePhase) {
    Open(10, 10);
    const std::vector<double> samples(FftSize, 0.5);
    ScopePhase = 4.25;
    for (const CRect& empty : {CRect{0, 0, 0, 10}, CRect{0, 0, 10, 0}, CRect{0, 0, -1, -1}}) {
        DrawSpectrumGrid(dc.get(), empty, pens);
        DrawSpectrumCurve(dc.get(), empty, pens, samples.data(), FftSize);
        DrawScopeGrid(dc.get(), empty, pens);
        DrawScopeTrace(dc.get(), empty, pens, samples.data(), FftSize, {32.5, 0, 0}, 3);
    }
    EXPECT_TRUE(PaintedRows().empty());
    EXPECT_EQ(ScopePhase, 4.25);
    EXPECT_EQ(dc->GetCurrentPen(), &entryPen);
}

TEST_F(PlotView, AGeneratorPeriodThatIsNotPositiveCannotSpoilThePhase) {
    Open(100, 100);
    const std::vector<double> marked = MarkedBlock(0);
    for (double period : {0.0, -32.5, std::numeric_limits<double>::quiet_NaN(), 1e-320})
        DrawScopeTrace(dc.get(), view, pens, marked.data(), FftSize, {period, 0, 0}, 1);
    EXPECT_TRUE(PaintedRows().empty());
    EXPECT_EQ(ScopePhase, 0.0);
    DrawTrace(marked, 0, 0, 0);
    EXPECT_EQ(PaintedInRow(2), std::vector<int>{3});
}
