#include "plot/Surface.h"

#include <gtest/gtest.h>

#include <climits>
#include <utility>
#include <vector>

namespace {

using Pixels = std::vector<std::pair<int, int>>;

Pixels PaintedPixels(const CDC& dc, const PixelSurface& surface) {
    Pixels painted;
    for (int y = 0; y < surface.height(); ++y)
        for (int x = 0; x < surface.width(); ++x)
            if (dc.GetPixel(x, y) != RGB(0, 0, 0))
                painted.emplace_back(x, y);
    return painted;
}

struct DrawingSurface : ::testing::Test {
    PixelSurface surface{8, 6};
    CDC dc{surface};
    CPen white;

    void SetUp() override {
        ASSERT_TRUE(white.CreatePen(PS_SOLID, 1, RGB(255, 255, 255)));
        dc.SelectObject(&white);
    }
};

} // namespace

TEST(PixelFormat, ColoursAreBgrAndPixelsAreOpaqueRgbRowsWithoutPadding) {
    EXPECT_EQ(RGB(0x12, 0x34, 0x56), 0x00563412u);
    PixelSurface surface(3, 2);
    EXPECT_EQ(surface.bytesPerLine(), 12);
    CDC dc(surface);
    EXPECT_EQ(surface.bits()[0], 0xFF000000u) << "a new surface is black";
    dc.SetPixel(2, 1, RGB(0x12, 0x34, 0x56));
    EXPECT_EQ(surface.bits()[1 * 3 + 2], 0xFF123456u);
    EXPECT_EQ(dc.GetPixel(2, 1), RGB(0x12, 0x34, 0x56));
}

TEST(Pens, OnlySolidPensOfWidthOneAreMadeAndSelectionReturnsThePreviousPen) {
    CPen pen;
    EXPECT_FALSE(pen.CreatePen(PS_SOLID, 2, RGB(1, 2, 3)));
    EXPECT_FALSE(pen.CreatePen(PS_SOLID + 1, 1, RGB(1, 2, 3)));
    EXPECT_EQ(pen.Color(), RGB(0, 0, 0));

    PixelSurface surface(1, 1);
    CDC dc(surface);
    CPen* stock = dc.GetCurrentPen();
    EXPECT_EQ(dc.SelectObject(&pen), stock);
    EXPECT_EQ(dc.SelectObject(nullptr), nullptr);
    EXPECT_EQ(dc.GetCurrentPen(), &pen);
    EXPECT_EQ(dc.SelectObject(stock), &pen);
}

TEST_F(DrawingSurface, LineToLeavesOutItsEndPointAndContinuesFromIt) {
    dc.MoveTo(0, 0);
    dc.LineTo(4, 2);
    dc.LineTo(4, 5);
    EXPECT_EQ(PaintedPixels(dc, surface),
              (Pixels{{0, 0}, {1, 0}, {2, 1}, {3, 1}, {4, 2}, {4, 3}, {4, 4}}));
}

TEST_F(DrawingSurface, ALineToItsOwnStartPaintsNothing) {
    dc.MoveTo(3, 3);
    dc.LineTo(3, 3);
    EXPECT_TRUE(PaintedPixels(dc, surface).empty());
}

TEST_F(DrawingSurface, SteepAndBackwardLinesStepAlongTheirLongerAxis) {
    dc.MoveTo(7, 5);
    dc.LineTo(5, 0);
    EXPECT_EQ(PaintedPixels(dc, surface), (Pixels{{5, 1}, {6, 2}, {6, 3}, {7, 4}, {7, 5}}));
}

TEST(LineClipping, ALineStartingOutsideLightsTheSamePixelsAsTheWholeLine) {
    // The same line on a surface large enough to hold all of it, shifted by
    // (40, 10), must agree with the clipped walk on the small surface.
    PixelSurface small(20, 10);
    PixelSurface large(100, 40);
    CDC clipped(small);
    CDC whole(large);
    CPen pen;
    pen.CreatePen(PS_SOLID, 1, RGB(255, 255, 255));
    clipped.SelectObject(&pen);
    whole.SelectObject(&pen);
    for (auto [from, to] : {std::pair{std::pair{-30, -7}, std::pair{50, 13}},
                            std::pair{std::pair{45, 20}, std::pair{-35, -9}},
                            std::pair{std::pair{3, -10}, std::pair{12, 25}}}) {
        clipped.MoveTo(from.first, from.second);
        clipped.LineTo(to.first, to.second);
        whole.MoveTo(from.first + 40, from.second + 10);
        whole.LineTo(to.first + 40, to.second + 10);
    }
    for (int y = 0; y < small.height(); ++y)
        for (int x = 0; x < small.width(); ++x)
            ASSERT_EQ(clipped.GetPixel(x, y), whole.GetPixel(x + 40, y + 10)) << x << "," << y;
}

TEST_F(DrawingSurface, LinesAcrossTheWholeIntRangeAreClippedWithoutWalkingThem) {
    dc.MoveTo(INT_MIN, 2);
    dc.LineTo(INT_MAX, 2);
    EXPECT_EQ(PaintedPixels(dc, surface).size(), 8u);
    dc.MoveTo(INT_MAX, INT_MAX);
    dc.LineTo(INT_MIN, INT_MIN);
    EXPECT_EQ(dc.GetPixel(5, 5), RGB(255, 255, 255)) << "the diagonal crosses the surface";
}

TEST_F(DrawingSurface, PixelsAndFillsOutsideTheSurfaceAreIgnored) {
    dc.SetPixel(-1, 0, RGB(255, 0, 0));
    dc.SetPixel(8, 0, RGB(255, 0, 0));
    dc.SetPixel(0, 6, RGB(255, 0, 0));
    EXPECT_TRUE(PaintedPixels(dc, surface).empty());
    EXPECT_EQ(dc.GetPixel(8, 0), CLR_INVALID);

    dc.FillSolidRect({6, 4, 100, 100}, RGB(0, 0, 255));
    EXPECT_EQ(PaintedPixels(dc, surface), (Pixels{{6, 4}, {7, 4}, {6, 5}, {7, 5}}));
    dc.FillSolidRect({0, 0, 8, 6}, RGB(0, 0, 0));
    EXPECT_TRUE(PaintedPixels(dc, surface).empty()) << "right and bottom are exclusive";
}

TEST(EmptySurface, EveryOperationIsHarmless) {
    for (auto [width, height] :
         {std::pair{0, 0}, std::pair{0, 5}, std::pair{5, 0}, std::pair{-3, 4}}) {
        PixelSurface surface(width, height);
        CDC dc(surface);
        dc.MoveTo(0, 0);
        dc.LineTo(4, 4);
        dc.SetPixel(0, 0, RGB(1, 1, 1));
        dc.FillSolidRect({0, 0, 5, 5}, RGB(1, 1, 1));
        EXPECT_EQ(dc.GetPixel(0, 0), CLR_INVALID);
        EXPECT_EQ(surface.bytesPerLine(), surface.width() * 4);
    }
}
