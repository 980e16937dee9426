#include "sim/DeviceModel.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <numbers>
#include <vector>

namespace {

constexpr double Rate = 44100.0;

std::vector<std::int16_t> sine(double frequencyHz, double amplitude, std::size_t frames) {
    std::vector<std::int16_t> samples(frames);
    for (std::size_t i = 0; i < frames; ++i)
        samples[i] = static_cast<std::int16_t>(std::lround(
            amplitude * 32767.0 * std::sin(2.0 * std::numbers::pi * frequencyHz * i / Rate)));
    return samples;
}

std::vector<std::int16_t> run(const DeviceModel& model, const std::vector<std::int16_t>& played) {
    std::vector<std::int16_t> recorded(played.size());
    DeviceSimulator(model).process(played.data(), recorded.data(), played.size());
    return recorded;
}

// Least-squares amplitude (of full scale) of a sine at a known frequency in
// the samples from `first` on.
double fittedAmplitude(const std::vector<std::int16_t>& samples, double frequencyHz,
                       std::size_t first) {
    double cc = 0, ss = 0, cs = 0, xc = 0, xs = 0;
    for (std::size_t i = first; i < samples.size(); ++i) {
        const double phase = 2.0 * std::numbers::pi * frequencyHz * i / Rate;
        const double c = std::cos(phase), s = std::sin(phase), x = samples[i] / 32767.0;
        cc += c * c, ss += s * s, cs += c * s, xc += x * c, xs += x * s;
    }
    const double det = cc * ss - cs * cs;
    const double a = (xc * ss - xs * cs) / det, b = (xs * cc - xc * cs) / det;
    return std::hypot(a, b);
}

double db(double ratio) {
    return 20.0 * std::log10(ratio);
}

DeviceModel quiet(DeviceModel model) {
    model.noiseDb = Off;
    model.humDb = Off;
    return model;
}

TEST(DeviceModel, IdealWireIsBitExactForEverySample) {
    std::vector<std::int16_t> played;
    for (int s = -32768; s <= 32767; ++s)
        played.push_back(static_cast<std::int16_t>(s));
    EXPECT_EQ(run(DeviceModel::IdealWire(), played), played);
}

TEST(DeviceModel, LatencyDelaysByWholeFramesBehindSilence) {
    DeviceModel model = DeviceModel::IdealWire();
    model.latencyFrames = 37;
    const auto played = sine(1000.0, 0.5, 500);
    const auto recorded = run(model, played);
    for (std::size_t i = 0; i < played.size(); ++i)
        ASSERT_EQ(recorded[i], i < 37 ? 0 : played[i - 37]) << i;
}

// The bilinear transform of a Butterworth prototype prewarped at its corner
// has |H|^2 = 1 / (1 + r^2n), r the ratio of the warped frequencies.
TEST(DeviceModel, ResponseIsTheDigitalButterworthMagnitudeAndTheGain) {
    const auto warped = [](double f) { return std::tan(std::numbers::pi * f / Rate); };
    for (int order = 1; order <= DeviceModel::MaxFilterOrder; ++order) {
        DeviceModel model = DeviceModel::IdealWire();
        model.gainDb = -6.0;
        model.highPass = {35.0, order};
        model.lowPass = {12000.0, order};
        for (double f : {5.0, 35.0, 100.0, 1000.0, 12000.0, 18000.0, 22000.0}) {
            const double high = std::pow(warped(35.0) / warped(f), 2 * order);
            const double low = std::pow(warped(f) / warped(12000.0), 2 * order);
            const double expected = -6.0 - 10.0 * std::log10((1.0 + high) * (1.0 + low));
            EXPECT_NEAR(model.ResponseDb(f), expected, 1e-6) << "order " << order << ", " << f;
        }
    }
}

// The bilinear transform gives the analog prototype's whole response, phase
// included, at the warped frequency. The prototype of order n has its poles
// p_k = e^(i pi (2k + n + 1) / 2n) and, at s = i r, the phase -sum arg(s - p_k)
// as a low-pass and -sum arg(1/s - p_k) as a high-pass, each continuous in r.
TEST(DeviceModel, PhaseIsTheDigitalButterworthPhase) {
    const auto warped = [](double f) { return std::tan(std::numbers::pi * f / Rate); };
    const auto prototypePhase = [](int order, std::complex<double> s) {
        double phase = 0.0;
        for (int k = 0; k < order; ++k)
            phase -= std::arg(
                s - std::polar(1.0, std::numbers::pi * (2 * k + order + 1) / (2.0 * order)));
        return phase * 180.0 / std::numbers::pi;
    };
    for (int order = 1; order <= DeviceModel::MaxFilterOrder; ++order) {
        DeviceModel model = DeviceModel::IdealWire();
        model.gainDb = -6.0;
        model.latencyFrames = 100; // left out of the phase
        model.highPass = {35.0, order};
        model.lowPass = {12000.0, order};
        for (double f : {1.0, 5.0, 35.0, 100.0, 1000.0, 12000.0, 18000.0, 22000.0}) {
            const std::complex<double> high{0.0, warped(f) / warped(35.0)};
            const std::complex<double> low{0.0, warped(f) / warped(12000.0)};
            const double expected = prototypePhase(order, 1.0 / high) + prototypePhase(order, low);
            EXPECT_NEAR(model.PhaseDeg(f), expected, 1e-6) << "order " << order << ", " << f;
        }
        EXPECT_NEAR(model.PhaseDeg(0.01), 90.0 * order, 0.1) << order;
    }
}

TEST(DeviceModel, DefaultIsAPlausibleConsumerCard) {
    const DeviceModel card = DeviceModel::ConsumerCard();
    EXPECT_TRUE(card.valid());
    EXPECT_NEAR(card.ResponseDb(1000.0), 0.0, 0.01);
    EXPECT_NEAR(card.ResponseDb(20.0), -3.0103, 0.001);
    EXPECT_NEAR(card.ResponseDb(20000.0), -3.0103, 0.001);
    EXPECT_NEAR(card.noiseDb, -100.0, 6.0);
    EXPECT_NEAR(card.humDb, -90.0, 6.0);
}

TEST(DeviceModel, SimulatedSinesComeBackAtTheStatedResponse) {
    DeviceModel model = quiet(DeviceModel::ConsumerCard());
    model.gainDb = -3.0;
    for (double f : {20.0, 100.0, 1000.0, 15000.0, 20000.0}) {
        const auto recorded = run(model, sine(f, 0.5, 44100));
        const double measured = db(fittedAmplitude(recorded, f, 22050) / 0.5);
        EXPECT_NEAR(measured, model.ResponseDb(f), 0.01) << f;
    }
}

TEST(DeviceModel, NoiseHasItsLevelAndRepeatsFromItsSeed) {
    DeviceModel model = DeviceModel::IdealWire();
    model.noiseDb = -40.0;
    const std::vector<std::int16_t> silence(44100, 0);
    const auto first = run(model, silence);
    double sum = 0;
    for (std::int16_t s : first)
        sum += (s / 32768.0) * (s / 32768.0);
    EXPECT_NEAR(db(std::sqrt(sum / first.size())), -40.0, 0.2);
    EXPECT_EQ(run(model, silence), first);
    model.noiseSeed += 1;
    EXPECT_NE(run(model, silence), first);
}

TEST(DeviceModel, HumAndHarmonicsHaveTheirLevels) {
    DeviceModel model = DeviceModel::IdealWire();
    model.humHz = 60.0;
    model.humDb = -50.0;
    EXPECT_NEAR(db(fittedAmplitude(run(model, std::vector<std::int16_t>(44100, 0)), 60.0, 0) *
                   32767.0 / 32768.0),
                -50.0, 0.01);

    model = DeviceModel::IdealWire();
    model.secondHarmonicDb = -60.0;
    model.thirdHarmonicDb = -70.0;
    const double amplitude = 0.9; // the harmonics grow with its square and cube
    const auto recorded = run(model, sine(1000.0, amplitude, 44100));
    const double fundamental = fittedAmplitude(recorded, 1000.0, 0);
    EXPECT_NEAR(db(fittedAmplitude(recorded, 2000.0, 0) / fundamental), -60.0 + db(amplitude),
                0.05);
    EXPECT_NEAR(db(fittedAmplitude(recorded, 3000.0, 0) / fundamental), -70.0 + 2 * db(amplitude),
                0.05);
}

TEST(DeviceModel, ResultIsClippedToSixteenBits) {
    DeviceModel model = DeviceModel::IdealWire();
    model.gainDb = 12.0;
    const auto recorded = run(model, {20000, -20000, 100});
    EXPECT_EQ(recorded, (std::vector<std::int16_t>{32767, -32768, 398}));
}

TEST(DeviceModel, SettingsOutOfRangeAreInvalid) {
    const auto with = [](auto change) {
        DeviceModel model;
        change(model);
        return model.valid();
    };
    EXPECT_FALSE(with([](DeviceModel& m) { m.lowPass.frequencyHz = 22050.0; }));
    EXPECT_FALSE(with([](DeviceModel& m) { m.highPass.frequencyHz = 0.0; }));
    EXPECT_FALSE(with([](DeviceModel& m) { m.lowPass.order = DeviceModel::MaxFilterOrder + 1; }));
    EXPECT_FALSE(with([](DeviceModel& m) { m.highPass.order = -1; }));
    EXPECT_FALSE(with([](DeviceModel& m) { m.humHz = 30000.0; }));
    EXPECT_FALSE(with([](DeviceModel& m) { m.sampleRate = 0.0; }));
    EXPECT_FALSE(with([](DeviceModel& m) { m.latencyFrames = DeviceModel::MaxLatencyFrames + 1; }));
    EXPECT_TRUE(with([](DeviceModel& m) { m.lowPass = {30000.0, 0}; })); // no filter, no corner
}

} // namespace
