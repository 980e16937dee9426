#include "dsp/FFT.h"
#include "dsp/Windows.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <numeric>
#include <vector>

namespace {

std::vector<double> WindowOf(int order, int type) {
    CFFT fft;
    EXPECT_EQ(fft.InitWindow(order, type), 1);
    return {fft.Window().begin(), fft.Window().end()};
}

double Sum(const std::vector<double>& values) {
    return std::accumulate(values.begin(), values.end(), 0.0);
}

} // namespace

TEST(WindowValues, RectangleIsTwoOverNEverywhere) {
    const std::vector<double> window = WindowOf(13, CFFT::Rectangle);
    ASSERT_EQ(window.size(), 8192u);
    for (double value : window)
        ASSERT_EQ(value, 0.000244140625);
    EXPECT_EQ(Sum(window), 2.0);
}

TEST(WindowValues, QuasiChebyshevOf8192IsSymmetricSumsToTwoAndHasItsDesignedShape) {
    const std::vector<double> window = WindowOf(13, CFFT::QuasiChebyshev);
    ASSERT_EQ(window.size(), 8192u);
    EXPECT_NEAR(Sum(window), 2.0, 1e-12);
    for (std::size_t i = 0; i < window.size() / 2; ++i)
        ASSERT_NEAR(window[i], window[window.size() - 1 - i], 1e-14 * window[i]) << i;

    // Only the ends take the end value, about twice their neighbours.
    EXPECT_NEAR(window.front(), 3.84e-7, 0.005e-7);
    EXPECT_NEAR(window[1], 1.84e-7, 0.005e-7);
    EXPECT_NEAR(window[4095], 6.59e-4, 0.005e-4);
    EXPECT_NEAR(window[4096], 6.59e-4, 0.005e-4);
    for (std::size_t i = 1; i < 4095; ++i)
        ASSERT_LT(window[i], window[i + 1]) << "rises towards the centre at " << i;
}

TEST(WindowValues, TinyWindowsTakeTheEndBranchWhereThePolynomialVanishes) {
    EXPECT_EQ(WindowOf(0, CFFT::Rectangle), std::vector<double>{2.0});
    // N = 1 divides 0 by 0: not a number, so the end branch applies.
    EXPECT_EQ(WindowOf(0, CFFT::QuasiChebyshev), std::vector<double>{2.0});
    EXPECT_EQ(WindowOf(1, CFFT::QuasiChebyshev), (std::vector<double>{1.0, 1.0}));

    EXPECT_EQ(WindowOf(2, CFFT::Rectangle), std::vector<double>(4, 0.5));

    std::vector<double> values(3);
    dsp::FillQuasiChebyshevWindow(values.data(), 3, 100.0);
    EXPECT_NEAR(2.0 * values[0], 0.0011653, 1e-7);
    EXPECT_NEAR(2.0 * values[1], 1.9976695, 1e-7);
    EXPECT_EQ(values[0], values[2]);
    EXPECT_NEAR(Sum(values), 1.0, 1e-15);
}

TEST(WindowGain, IsZeroOnTheBinCentreAndFallsToTheScallopingLossHalfABinAway) {
    CFFT fft;
    fft.InitWindow(13, CFFT::Rectangle);
    EXPECT_NEAR(fft.WindowGainDb(0.0), 0.0, 1e-12);
    EXPECT_NEAR(fft.WindowGainDb(0.5), 20.0 * std::log10(2.0 / std::numbers::pi), 1e-6); // -3.92 dB
    EXPECT_NEAR(fft.WindowGainDb(-0.5), fft.WindowGainDb(0.5), 1e-9);

    fft.InitWindow(13, CFFT::QuasiChebyshev);
    EXPECT_NEAR(fft.WindowGainDb(0.0), 0.0, 1e-12);
    EXPECT_NEAR(fft.WindowGainDb(0.5), -0.88, 0.005);
    EXPECT_NEAR(fft.WindowGainDb(-0.5), fft.WindowGainDb(0.5), 1e-9);
    EXPECT_GT(fft.WindowGainDb(0.25), fft.WindowGainDb(0.5));
}

TEST(WindowGain, IsNotANumberWithoutAWindow) {
    CFFT fft;
    EXPECT_TRUE(std::isnan(fft.WindowGainDb(0.0)));
    fft.InitWindow(13, 7);
    EXPECT_TRUE(std::isnan(fft.WindowGainDb(0.25)));
}
