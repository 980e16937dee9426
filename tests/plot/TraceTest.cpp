#include "plot/Trace.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace {

constexpr COLORREF Yellow = RGB(255, 255, 0);

struct StoredTrace : ::testing::Test {
    PixelSurface surface{40, 30};
    CDC dc{surface};
    CPen entryPen;
    CAFC trace;

    void SetUp() override { dc.SelectObject(&entryPen); }

    std::vector<std::pair<int, int>> YellowPixels() const {
        std::vector<std::pair<int, int>> pixels;
        for (int y = 0; y < surface.height(); ++y)
            for (int x = 0; x < surface.width(); ++x)
                if (dc.GetPixel(x, y) == Yellow)
                    pixels.emplace_back(x, y);
        return pixels;
    }
};

} // namespace

TEST_F(StoredTrace, AnEmptyTraceDrawsNothing) {
    EXPECT_EQ(trace.count(), -1);
    trace.Draw(&dc);
    EXPECT_TRUE(YellowPixels().empty());
}

TEST_F(StoredTrace, OnePointIsOneYellowPixelAtTruncatedCoordinates) {
    EXPECT_EQ(trace.AddPoint(10.9, 20.7), 1);
    trace.Draw(&dc);
    EXPECT_EQ(YellowPixels(), (std::vector<std::pair<int, int>>{{10, 20}}));
    EXPECT_EQ(dc.GetCurrentPen(), &entryPen);
}

TEST_F(StoredTrace, SeveralPointsAreJoinedByLinesAndTheEntryPenIsRestored) {
    trace.AddPoint(-0.9, 5.0); // truncates toward zero, to 0
    trace.AddPoint(3.5, 5.0);
    trace.AddPoint(3.0, 8.2);
    trace.Draw(&dc);
    EXPECT_EQ(YellowPixels(),
              (std::vector<std::pair<int, int>>{{0, 5}, {1, 5}, {2, 5}, {3, 5}, {3, 6}, {3, 7}}));
    EXPECT_EQ(dc.GetCurrentPen(), &entryPen);
}

TEST_F(StoredTrace, AFullTraceRefusesTheHundredAndFirstPointUnchanged) {
    for (int i = 0; i < CAFC::MaxPoints; ++i)
        ASSERT_EQ(trace.AddPoint(i, 2.0 * i), 1) << i;
    EXPECT_EQ(trace.count(), 99);
    EXPECT_EQ(trace.AddPoint(-1.0, -1.0), 0);
    EXPECT_EQ(trace.count(), 99);
    EXPECT_EQ(trace.point(99).x, 99.0);
    EXPECT_EQ(trace.point(99).y, 198.0);
    EXPECT_EQ(trace.point(0).x, 0.0);

    trace.Clear();
    EXPECT_EQ(trace.count(), -1);
    EXPECT_EQ(trace.AddPoint(1.0, 1.0), 1);
    EXPECT_EQ(trace.point(0).x, 1.0);
}
