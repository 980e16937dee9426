#include "measure/ResponseSummary.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <vector>

namespace {

constexpr int SweepPoints = 99;
constexpr double NaN = std::numeric_limits<double>::quiet_NaN();

// The stepped sweep's frequencies with levels from `responseDb`.
std::vector<ResponsePoint> Sweep(const std::function<double(double)>& responseDb) {
    std::vector<ResponsePoint> points;
    for (int k = 0; k < SweepPoints; ++k) {
        const double hz = 10.7666015625 * std::pow(2205.0, k / 100.0);
        points.push_back({hz, responseDb(hz), responseDb(hz), 0, 8});
    }
    return points;
}

// A first-order high-pass: 1/(1+(fc/f)^2) in power.
double HighPassDb(double hz, double cornerHz) {
    return 10 * std::log10(1 / (1 + std::pow(cornerHz / hz, 2)));
}

// f/fc where that high-pass has fallen to levelDb.
double DroppedByRatio(double levelDb) {
    return 1 / std::sqrt(std::pow(10.0, -levelDb / 10) - 1);
}

TEST(ResponseSummary, AFlatResponseHasNoDeviationAndNoCorners) {
    const ResponseSummary summary = SummariseResponse(Sweep([](double) { return -20.0; }));
    ASSERT_TRUE(summary.valid);
    EXPECT_NEAR(summary.referenceHz, 1010.86, 0.005);
    EXPECT_EQ(summary.referenceDb, -20);
    EXPECT_EQ(summary.largestDeviationDb, 0);
    EXPECT_FALSE(summary.minus3dbLowHz);
    EXPECT_FALSE(summary.minus3dbHighHz);
    EXPECT_EQ(SummaryText(summary), "Reference: -20.00 dB at 1010.86 Hz\n"
                                    "Largest deviation 20 Hz - 20 kHz: 0.00 dB at 21.5271 Hz\n"
                                    "-3 dB: not reached and not reached\n");
}

TEST(ResponseSummary, FindsTheCornerOfAFirstOrderHighPassWithinOnePercent) {
    for (const double cornerHz : {15.0, 20.0, 50.0}) {
        const ResponseSummary summary =
            SummariseResponse(Sweep([&](double hz) { return HighPassDb(hz, cornerHz); }));
        ASSERT_TRUE(summary.minus3dbLowHz) << cornerHz;
        EXPECT_NEAR(*summary.minus3dbLowHz, cornerHz, 0.01 * cornerHz);
        EXPECT_FALSE(summary.minus3dbHighHz);
        EXPECT_LT(summary.largestDeviationDb, -0.1);
        EXPECT_GE(summary.largestDeviationHz, 20);
        EXPECT_LT(summary.largestDeviationHz, 20 * 1.08);
    }
}

TEST(ResponseSummary, MeasuresCornersThreeDecibelsBelowTheReferenceLevel) {
    // Both filters already lose a little at 1 kHz, which moves the corners
    // found by some percent from the filters' own corners.
    const ResponseSummary highPass =
        SummariseResponse(Sweep([](double hz) { return HighPassDb(hz, 200); }));
    const double highPassHz = 200 * DroppedByRatio(highPass.referenceDb - 3);
    ASSERT_TRUE(highPass.minus3dbLowHz);
    EXPECT_NEAR(*highPass.minus3dbLowHz, highPassHz, 0.002 * highPassHz);

    // A first-order low-pass mirrors the high-pass: 1/(1+(f/fc)^2).
    const ResponseSummary lowPass =
        SummariseResponse(Sweep([](double hz) { return HighPassDb(5000.0 * 5000.0 / hz, 5000); }));
    const double lowPassHz = 5000 / DroppedByRatio(lowPass.referenceDb - 3);
    ASSERT_TRUE(lowPass.minus3dbHighHz);
    EXPECT_NEAR(*lowPass.minus3dbHighHz, lowPassHz, 0.002 * lowPassHz);
    EXPECT_FALSE(lowPass.minus3dbLowHz);
}

TEST(ResponseSummary, InterpolatesFromTheReferenceWhenItsNeighbourIsAlreadyBelow) {
    // Out of order, with points that have no usable level or frequency.
    const std::vector<ResponsePoint> points = {{10000, -6, 0, 0, 1}, {500, NaN, 0, 0, 1},
                                               {1000, 0, 0, 0, 1},   {0, -90, 0, 0, 1},
                                               {100, -10, 0, 0, 1},  {2000, -INFINITY, 0, 0, 1}};
    const ResponseSummary summary = SummariseResponse(points, 50, 5000);
    EXPECT_NEAR(*summary.minus3dbLowHz, std::pow(10.0, 3 - 0.3), 1e-9);
    EXPECT_NEAR(*summary.minus3dbHighHz, std::pow(10.0, 3.5), 1e-9);
    EXPECT_EQ(SummaryText(summary), "Reference: 0.00 dB at 1000 Hz\n"
                                    "Largest deviation 50 Hz - 5 kHz: -10.00 dB at 100 Hz\n"
                                    "-3 dB: 501.187 Hz and 3162.28 Hz\n");
}

TEST(ResponseSummary, SurvivesDegenerateInput) {
    EXPECT_FALSE(SummariseResponse({}).valid);
    EXPECT_EQ(SummaryText(SummariseResponse({})),
              "No response to summarise: no point was measured\n");

    const std::vector<ResponsePoint> allNaN = {{100, NaN, 0, 0, 1}, {1000, NaN, 0, 0, 1}};
    EXPECT_FALSE(SummariseResponse(allNaN).valid);

    const std::vector<ResponsePoint> one = {{5, -3, 0, 0, 1}};
    const ResponseSummary single = SummariseResponse(one);
    ASSERT_TRUE(single.valid);
    EXPECT_EQ(single.referenceHz, 5);
    EXPECT_FALSE(single.minus3dbLowHz);
    EXPECT_FALSE(single.minus3dbHighHz);
    EXPECT_EQ(single.largestDeviationHz, 0);
    EXPECT_EQ(SummaryText(single), "Reference: -3.00 dB at 5 Hz\n"
                                   "Largest deviation 20 Hz - 20 kHz: no point in range\n"
                                   "-3 dB: not reached and not reached\n");
}

TEST(DeviationRange, SpansTheLevelsInsideTheRangeOnly) {
    const std::vector<ResponsePoint> points = {
        {10, -30, 0, 0, 1}, {100, -1, 0, 0, 1}, {1000, 0.5, 0, 0, 1}, {30000, 9, 0, 0, 1}};
    const auto [lowest, highest] = DeviationRange(points, 0.5, 20, 20000);
    EXPECT_EQ(lowest, -1.5);
    EXPECT_EQ(highest, 0);

    const auto [none, nothing] = DeviationRange(points, 0, 2000, 20000);
    EXPECT_TRUE(std::isnan(none));
    EXPECT_TRUE(std::isnan(nothing));
}

// The gains summarised as the sweep's levels are, with the swept sine's own
// figures around them.
TEST(SweptSineSummary, SaysTheDelayTheGainsFiguresAndTheDistortionAtTheReference) {
    const std::vector<SweepResponsePoint> points = {
        {30, -1.5, 10, {}, {}},
        {100, -0.25, 5, {-70.04, -80.0, std::nullopt, std::nullopt}, -69.6},
        {1010.86, 0, 0, {-90.0, std::nullopt, std::nullopt, std::nullopt}, -89.96},
        {12000, 0.125, -5, {}, {}},
        {19000, -4, -10, {}, {}},
    };
    EXPECT_EQ(SweptSineSummaryText(441.04, points),
              "Delay: 441.0 samples (10.001 ms)\n"
              "Reference: 0.00 dB at 1010.86 Hz\n"
              "Largest deviation 20 Hz - 20 kHz: -4.00 dB at 19000 Hz\n"
              "-3 dB: not reached and 16997 Hz\n"
              "Deviation 40 Hz - 15 kHz: -0.25 to 0.12 dB\n"
              "Deviation 20 Hz - 20 kHz: -4.00 to 0.12 dB\n"
              "THD at 1010.86 Hz: -90.0 dB (H2 -90.0 dB, H3 not measured)\n");

    const std::vector<ResponsePoint> levels = LevelPoints(points, -6);
    ASSERT_EQ(levels.size(), points.size());
    EXPECT_EQ(levels[1].frequencyHz, 100);
    EXPECT_EQ(levels[1].levelDb, -6.25);
    EXPECT_EQ(levels[1].peakDb, -6.25);
    EXPECT_EQ(levels[1].windowGainDb, 0);
}

} // namespace
