#include "dsp/FFT.h"
#include "platform/MessageBox.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <numbers>
#include <random>
#include <span>
#include <utility>
#include <vector>

namespace {

constexpr int Order = 13;
constexpr int Size = 1 << Order;
constexpr double Untouched = 123.0;

std::vector<double> NoiseBlock(int size, unsigned seed) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> sample(-1.0, 1.0);
    std::vector<double> block(size);
    for (double& s : block)
        s = sample(random);
    return block;
}

std::vector<double> SineOnBin(int bin, double amplitude) {
    std::vector<double> block(Size);
    for (int n = 0; n < Size; ++n)
        block[n] = amplitude * std::sin(2.0 * std::numbers::pi * bin * n / Size);
    return block;
}

std::vector<double> SpectrumOf(CFFT& fft, const std::vector<double>& block) {
    std::vector<double> spectrum(block.size() / 2, Untouched);
    EXPECT_EQ(fft.Transform(block.data(), spectrum.data()), 1);
    return spectrum;
}

// X[k] = sum x[n] w[n] e^(-2 pi i k n / N), computed term by term in long
// double with the exact pi, in dB.
std::vector<double> DirectDftDb(const std::vector<double>& block, std::span<const double> window) {
    const std::size_t n = block.size();
    std::vector<long double> cosine(n), sine(n);
    for (std::size_t m = 0; m < n; ++m) {
        const long double angle = 2.0L * std::numbers::pi_v<long double> * m / n;
        cosine[m] = std::cos(angle);
        sine[m] = std::sin(angle);
    }
    std::vector<double> db(n / 2);
    for (std::size_t k = 0; k < n / 2; ++k) {
        long double re = 0.0L;
        long double im = 0.0L;
        for (std::size_t t = 0, m = 0; t < n; ++t, m = (m + k) % n) {
            const long double x = static_cast<long double>(block[t]) * window[t];
            re += x * cosine[m];
            im -= x * sine[m];
        }
        db[k] = static_cast<double>(10.0L * std::log10(re * re + im * im));
    }
    return db;
}

// The transform step by step as documented, without any restructuring: the
// in-place exchange loop, twiddles stepped per butterfly group.
std::vector<double> PlainTransformDb(const std::vector<double>& block,
                                     std::span<const double> window, int order) {
    const int n = 1 << order;
    std::vector<double> re(n), im(n);
    for (int i = 0; i < n; ++i) {
        re[i] = block[i] * window[i];
        im[i] = 0.0;
    }
    for (int i = 0, j = 0; i < n - 1; ++i) {
        if (i < j) {
            std::swap(re[i], re[j]);
            std::swap(im[i], im[j]);
        }
        int k = n / 2;
        while (k <= j) {
            j -= k;
            k /= 2;
        }
        j += k;
    }
    for (int s = 0; s < order; ++s) {
        const int le = 1 << s;
        const double theta = 3.1415926535 / le;
        const double c = std::cos(theta);
        const double d = -std::sin(theta);
        double wr = 1.0;
        double wi = 0.0;
        for (int m = 0; m < le; ++m) {
            for (int i = m; i < n; i += 2 * le) {
                const int ip = i + le;
                const double tr = wr * re[ip] - wi * im[ip];
                const double ti = wi * re[ip] + wr * im[ip];
                re[ip] = re[i] - tr;
                re[i] = re[i] + tr;
                im[ip] = im[i] - ti;
                im[i] = im[i] + ti;
            }
            const double next = wr * c - wi * d;
            wi = wr * d + wi * c;
            wr = next;
        }
    }
    std::vector<double> db(n / 2);
    for (int k = 0; k < n / 2; ++k) {
        const double p = re[k] * re[k] + im[k] * im[k];
        db[k] = p >= 1e-24 ? 10.0 * std::log10(p) : -250.0;
    }
    return db;
}

bool SameBits(const std::vector<double>& a, const std::vector<double>& b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0;
}

} // namespace

TEST(TransformResults, AgreeWithADirectDftWithinAMillionthOfADb) {
    CFFT fft;
    for (int type : {CFFT::Rectangle, CFFT::QuasiChebyshev}) {
        for (int order : {1, 2, 3, 7, 10, 13}) {
            SCOPED_TRACE(testing::Message() << "type " << type << " order " << order);
            ASSERT_EQ(fft.InitWindow(order, type), 1);
            const std::vector<double> block = NoiseBlock(1 << order, 7u * order + type);
            const std::vector<double> ours = SpectrumOf(fft, block);
            const std::vector<double> exact = DirectDftDb(block, fft.Window());
            const double strongest = *std::max_element(exact.begin(), exact.end());
            for (std::size_t k = 0; k < exact.size(); ++k) {
                if (exact[k] >= strongest - 120.0) {
                    ASSERT_NEAR(ours[k], exact[k], 1e-6) << "bin " << k;
                }
            }
        }
    }
}

TEST(TransformResults, FullScaleSineOnABinReadsZeroDbWithEitherWindowAndATenthMinus20) {
    CFFT fft;
    for (int type : {CFFT::Rectangle, CFFT::QuasiChebyshev}) {
        SCOPED_TRACE(testing::Message() << "type " << type);
        fft.InitWindow(Order, type);
        EXPECT_NEAR(SpectrumOf(fft, SineOnBin(100, 1.0))[100], 0.0, 1e-5);
        EXPECT_NEAR(SpectrumOf(fft, SineOnBin(100, 0.1))[100], -20.0, 1e-5);
    }
}

TEST(TransformResults, RectangleLeakageOfABinCentredSineFallsBelowTheFloor) {
    CFFT fft;
    fft.InitWindow(Order, CFFT::Rectangle);
    const std::vector<double> spectrum = SpectrumOf(fft, SineOnBin(100, 1.0));
    const auto floored = std::count(spectrum.begin(), spectrum.end(), CFFT::SilenceDb);
    EXPECT_GT(floored, Size / 4);
    for (std::size_t k = 0; k < spectrum.size(); ++k) {
        if (k != 100) {
            ASSERT_LT(spectrum[k], -200.0) << "bin " << k;
        }
    }
}

TEST(TransformResults, ConstantFullScaleGivesTheWholeWindowSumInTheDcBin) {
    CFFT fft;
    fft.InitWindow(Order, CFFT::Rectangle);
    const std::vector<double> spectrum = SpectrumOf(fft, std::vector<double>(Size, 1.0));
    EXPECT_NEAR(spectrum[0], 20.0 * std::log10(2.0), 1e-12);
    EXPECT_LT(spectrum[1], -200.0);
}

TEST(TransformResults, SilenceAndNotANumberReadTheFloorInEveryBin) {
    CFFT fft;
    fft.InitWindow(Order, CFFT::QuasiChebyshev);
    const std::vector<double> silence(Size, 0.0);
    EXPECT_EQ(SpectrumOf(fft, silence), std::vector<double>(Size / 2, CFFT::SilenceDb));

    std::vector<double> broken = NoiseBlock(Size, 3);
    broken[1000] = std::numeric_limits<double>::quiet_NaN();
    EXPECT_EQ(SpectrumOf(fft, broken), std::vector<double>(Size / 2, CFFT::SilenceDb));
}

TEST(TransformResults, SwitchingTheWindowChangesOnlyTheNextResult) {
    CFFT fft;
    fft.InitWindow(Order, CFFT::QuasiChebyshev);
    const std::vector<double> block = NoiseBlock(Size, 11);
    const std::vector<double> first = SpectrumOf(fft, block);
    EXPECT_TRUE(SameBits(SpectrumOf(fft, block), first)) << "nothing carried between blocks";

    fft.InitWindow(fft.Order(), CFFT::Rectangle);
    EXPECT_FALSE(SameBits(SpectrumOf(fft, block), first));
    EXPECT_EQ(fft.Order(), Order);

    fft.InitWindow(fft.Order(), CFFT::QuasiChebyshev);
    EXPECT_TRUE(SameBits(SpectrumOf(fft, block), first));
}

// The transform is restructured for speed; every bit must still be what the
// documented steps give, non-finite input included.
TEST(TransformResults, AreBitIdenticalToThePlainDocumentedSteps) {
    CFFT fft;
    for (int type : {CFFT::Rectangle, CFFT::QuasiChebyshev}) {
        for (int order = 1; order <= CFFT::MaxOrder; ++order) {
            SCOPED_TRACE(testing::Message() << "type " << type << " order " << order);
            ASSERT_EQ(fft.InitWindow(order, type), 1);
            std::vector<double> block = NoiseBlock(1 << order, 100u + order);
            EXPECT_TRUE(
                SameBits(SpectrumOf(fft, block), PlainTransformDb(block, fft.Window(), order)));
            block.back() = std::numeric_limits<double>::infinity();
            EXPECT_TRUE(
                SameBits(SpectrumOf(fft, block), PlainTransformDb(block, fft.Window(), order)));
        }
    }
}

TEST(TransformFailures, WithoutAWindowABoxIsShownAndTheSpectrumKept) {
    platform::BoxRecorder recorder;
    CFFT fft;
    EXPECT_EQ(fft.Order(), 0);
    EXPECT_EQ(fft.WindowType(), CFFT::NoWindowType);
    EXPECT_TRUE(fft.Window().empty());

    const std::vector<double> block(Size, 0.5);
    std::vector<double> spectrum(Size / 2, Untouched);
    EXPECT_EQ(fft.Transform(block.data(), spectrum.data()), 0);
    EXPECT_EQ(spectrum, std::vector<double>(Size / 2, Untouched));
    ASSERT_EQ(recorder.boxes().size(), 1u);
    EXPECT_EQ(recorder.boxes()[0].text, "Call InitWindow() first!");
    EXPECT_EQ(recorder.boxes()[0].title, "Processing error.");
    EXPECT_EQ(recorder.boxes()[0].style, MB_ICONERROR);
}

TEST(TransformFailures, OrderZeroFailsSilently) {
    platform::BoxRecorder recorder;
    CFFT fft;
    EXPECT_EQ(fft.InitWindow(0, CFFT::QuasiChebyshev), 1);
    const double sample = 0.5;
    double bin = Untouched;
    EXPECT_EQ(fft.Transform(&sample, &bin), 0);
    EXPECT_EQ(bin, Untouched);
    EXPECT_TRUE(recorder.boxes().empty());
}

// An order outside 0..16 would run past the work buffer; an unknown type would
// leave the window unfilled. Either way the object is left without a window,
// and the next transform says so instead of producing numbers.
TEST(TransformFailures, UnusableOrderOrTypeLeavesNoWindowAndTheNextTransformSaysSo) {
    const std::vector<double> block(1 << 17, 0.5);
    for (auto [order, type] : {std::pair{17, 1}, {31, 0}, {-1, 0}, {Order, 2}, {Order, -1}}) {
        SCOPED_TRACE(testing::Message() << "order " << order << " type " << type);
        platform::BoxRecorder recorder;
        CFFT fft;
        ASSERT_EQ(fft.InitWindow(Order, CFFT::QuasiChebyshev), 1);
        EXPECT_EQ(fft.InitWindow(order, type), 0);
        EXPECT_EQ(fft.Order(), order);
        EXPECT_EQ(fft.WindowType(), type);
        EXPECT_TRUE(fft.Window().empty());

        std::vector<double> spectrum(1 << 16, Untouched);
        EXPECT_EQ(fft.Transform(block.data(), spectrum.data()), 0);
        EXPECT_EQ(spectrum, std::vector<double>(1 << 16, Untouched));
        ASSERT_EQ(recorder.boxes().size(), 1u);
        EXPECT_EQ(recorder.boxes()[0].text, "Call InitWindow() first!");

        EXPECT_EQ(fft.InitWindow(Order, CFFT::Rectangle), 1) << "a valid call recovers";
        EXPECT_EQ(fft.Transform(block.data(), spectrum.data()), 1);
    }
}
