// The swept sine's accuracy on the simulated device, whose exact response is
// known: its samples played through sim's DeviceSimulator and the recording
// analysed, offline (no threads, no card). The figures measured are printed,
// each the worst over its range.
#include "measure/SweepAnalysis.h"
#include "dsp/SignalFormat.h"
#include "measure/ResponseFrequencies.h"
#include "measure/SweepPlan.h"
#include "sim/DeviceModel.h"
#include "tests/measure/SweepRecord.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <stdexcept>
#include <vector>

namespace {

SweepResponse Measure(const DeviceModel& card, std::span<const double> frequencies,
                      const SweepSettings& settings = {}) {
    const SweepSignal sweep(settings);
    SweepAnalysis analysis(sweep);
    const SweepRecording recording = analysis.Add(Record(sweep, card, analysis.RecordingFrames()));
    EXPECT_EQ(recording.verdict, SweepRecording::Verdict::Found);
    return analysis.Analyse(frequencies);
}

// The stepped sweep's 99 frequencies and 24 per octave up to 21.5 kHz.
std::vector<double> ReportedFrequencies() {
    std::vector<double> frequencies = SweepPointFrequencies(BlockSize);
    const auto dense = PerOctaveFrequencies(24);
    frequencies.insert(frequencies.end(), dense.begin(), dense.end());
    std::sort(frequencies.begin(), frequencies.end());
    return frequencies;
}

DeviceModel Quiet(DeviceModel card) {
    card.noiseDb = Off;
    card.humDb = Off;
    return card;
}

// The worst |measured - expected| over the points in [lowHz, highHz] that
// `counts` admits.
template <typename Measured, typename Expected, typename Counts>
double WorstError(const SweepResponse& response, double lowHz, double highHz, Measured measured,
                  Expected expected, Counts counts) {
    double worst = 0;
    for (const SweepResponsePoint& point : response.points)
        if (point.frequencyHz >= lowHz && point.frequencyHz <= highHz && counts(point))
            worst = std::max(worst, std::abs(measured(point) - expected(point.frequencyHz)));
    return worst;
}

struct FilterCase {
    FilterCorner highPass;
    FilterCorner lowPass;
};

void PrintTo(const FilterCase& c, std::ostream* os) {
    *os << "highpass=" << c.highPass.frequencyHz << "/" << c.highPass.order
        << ",lowpass=" << c.lowPass.frequencyHz << "/" << c.lowPass.order;
}

class SweepGainAndPhase : public testing::TestWithParam<FilterCase> {};

// The default card's noise and hum, with these filters.
TEST_P(SweepGainAndPhase, FollowTheCardsExactResponse) {
    DeviceModel card = DeviceModel::ConsumerCard();
    card.highPass = GetParam().highPass;
    card.lowPass = GetParam().lowPass;
    const auto frequencies = ReportedFrequencies();
    const SweepResponse response = Measure(card, frequencies);
    const auto gain = [](const SweepResponsePoint& p) { return p.gainDb; };
    const auto model = [&](double f) { return card.ResponseDb(f); };
    const auto aboveMinus40 = [&](const SweepResponsePoint& p) {
        return model(p.frequencyHz) > -40;
    };

    const double inBand = WorstError(response, 20, 20000, gain, model, aboveMinus40);
    const double wide = WorstError(response, 10.76, 21500, gain, model, aboveMinus40);
    EXPECT_LT(inBand, 0.05);
    EXPECT_LT(wide, 0.2);

    // Measured less model phase, once a straight line through 0 Hz (the
    // rest of the delay: the peak of a filtered response is not its delay)
    // is taken away; the same whole turns throughout.
    std::vector<std::pair<double, double>> excess;
    for (const SweepResponsePoint& p : response.points)
        if (p.frequencyHz >= 50 && p.frequencyHz <= 15000 && model(p.frequencyHz) > -40)
            excess.emplace_back(p.frequencyHz, p.phaseDeg - card.PhaseDeg(p.frequencyHz));
    ASSERT_FALSE(excess.empty());
    const double turns = 360 * std::round(excess.front().second / 360);
    double fx = 0, ff = 0;
    for (auto& [f, degrees] : excess) {
        degrees -= turns;
        fx += f * degrees;
        ff += f * f;
    }
    double phase = 0;
    for (const auto& [f, degrees] : excess)
        phase = std::max(phase, std::abs(degrees - fx / ff * f));
    EXPECT_LT(phase, 1.0);
    std::printf("gain 20 Hz-20 kHz %.4f dB, 10.77 Hz-21.5 kHz %.4f dB; phase %.3f deg\n", inBand,
                wide, phase);
}

INSTANTIATE_TEST_SUITE_P(
    FilterOrders, SweepGainAndPhase,
    testing::Values(FilterCase{{20, 1}, {20000, 1}}, FilterCase{{20, 2}, {20000, 2}},
                    FilterCase{{20, 3}, {20000, 3}}, FilterCase{{20, 4}, {20000, 4}},
                    FilterCase{{10, 4}, {15000, 4}}, FilterCase{{5, 1}, {10000, 2}},
                    FilterCase{{100, 4}, {5000, 4}}, FilterCase{{100, 1}, {5000, 3}},
                    // A wire that passes DC: nothing for a window to cut off.
                    FilterCase{{20, 0}, {20000, 0}}));

class SweepDelay : public testing::TestWithParam<std::size_t> {};

TEST_P(SweepDelay, AnIdealWireReadsItsLatency) {
    DeviceModel wire = DeviceModel::IdealWire();
    wire.latencyFrames = GetParam();
    const SweepResponse response = Measure(wire, SweepPointFrequencies(BlockSize));
    EXPECT_NEAR(response.delaySamples, static_cast<double>(GetParam()), 0.1);
    EXPECT_NEAR(response.DelayMs(), GetParam() * 1000 / SampleRate, 0.1 * 1000 / SampleRate);
    // A bit-exact wire: flat, in phase, and without distortion.
    for (const SweepResponsePoint& p : response.points) {
        EXPECT_NEAR(p.gainDb, 0, 0.001) << p.frequencyHz;
        EXPECT_NEAR(p.phaseDeg, 0, 0.01) << p.frequencyHz;
        EXPECT_LT(p.thdDb.value_or(-400), -120) << p.frequencyHz;
    }
}

INSTANTIATE_TEST_SUITE_P(Latencies, SweepDelay, testing::Values(0, 64, 1000, 8192, 12345));

// Where a recording through a sound server says the sweep started may be a
// little late: the response then seems to come before the sweep, and is
// read so, flat and in phase, rather than lost round the circle.
TEST(SweepDelayTest, AResponseAFewSamplesBeforeTheStatedStartIsReadAsANegativeDelay) {
    const SweepSignal sweep(SweepSettings{});
    SweepAnalysis analysis(sweep);
    constexpr std::size_t Late = 30;
    const std::vector<std::int16_t> recorded =
        Record(sweep, DeviceModel::IdealWire(), analysis.RecordingFrames() + Late);
    analysis.Add(std::span(recorded).subspan(Late));
    const SweepResponse response = analysis.Analyse(SweepPointFrequencies(BlockSize));
    EXPECT_NEAR(response.delaySamples, -static_cast<double>(Late), 0.1);
    for (const SweepResponsePoint& p : response.points) {
        EXPECT_NEAR(p.gainDb, 0, 0.001) << p.frequencyHz;
        EXPECT_NEAR(p.phaseDeg, 0, 0.01) << p.frequencyHz;
    }
}

struct HarmonicsCase {
    double h2Db, h3Db; // the card's settings, re a full-scale sine
    double gainDb;
};

void PrintTo(const HarmonicsCase& c, std::ostream* os) {
    *os << "h2=" << c.h2Db << ",h3=" << c.h3Db << ",gain=" << c.gainDb;
}

class SweepHarmonics : public testing::TestWithParam<HarmonicsCase> {};

// The card applies its gain, then x + 2 c2 x^2 + 4 c3 x^3, then its filters.
// A tone of amplitude A' at the polynomial comes out with the fundamental
// A'(1 + 3 c3 A'^2), harmonic 2 at c2 A'^2 and harmonic 3 at c3 A'^3, each
// then through the filters at its own frequency.
TEST_P(SweepHarmonics, ReadTheCardsPolynomial) {
    const HarmonicsCase c = GetParam();
    DeviceModel card = DeviceModel::ConsumerCard();
    card.gainDb = c.gainDb;
    card.secondHarmonicDb = c.h2Db;
    card.thirdHarmonicDb = c.h3Db;
    const SweepResponse response = Measure(card, SweepPointFrequencies(BlockSize));
    ASSERT_TRUE(response.harmonicsMeasured);

    const double a = SweepSignal(SweepSettings{}).Amplitude() * std::pow(10.0, c.gainDb / 20);
    const double c2 = std::pow(10.0, c.h2Db / 20), c3 = std::pow(10.0, c.h3Db / 20);
    const auto filters = [&](double f) { return card.ResponseDb(f) - card.gainDb; };
    const auto expectedH2 = [&](double f) {
        return 20 * std::log10(c2 * a / (1 + 3 * c3 * a * a)) + filters(2 * f) - filters(f);
    };
    const auto expectedH3 = [&](double f) {
        return 20 * std::log10(c3 * a * a / (1 + 3 * c3 * a * a)) + filters(3 * f) - filters(f);
    };
    const auto h2 = [](const SweepResponsePoint& p) { return p.harmonicsDb[0].value(); };
    const auto h3 = [](const SweepResponsePoint& p) { return p.harmonicsDb[1].value(); };
    const auto all = [](const SweepResponsePoint&) { return true; };
    const double worst2 = WorstError(response, 100, 5000, h2, expectedH2, all);
    const double worst3 = WorstError(response, 100, 5000, h3, expectedH3, all);
    EXPECT_LT(worst2, 0.5);
    EXPECT_LT(worst3, 0.5);
    std::printf("H2 %.3f dB, H3 %.3f dB\n", worst2, worst3);
}

INSTANTIATE_TEST_SUITE_P(Polynomials, SweepHarmonics,
                         testing::Values(HarmonicsCase{-40, -50, 0}, HarmonicsCase{-60, -40, 0},
                                         HarmonicsCase{-30, -40, -3}));

TEST(SweepHarmonicLimits, ACleanCardReadsNone) {
    const SweepResponse response =
        Measure(Quiet(DeviceModel::ConsumerCard()), SweepPointFrequencies(BlockSize));
    double loudest = -400;
    for (const SweepResponsePoint& p : response.points)
        for (int k = 0; k < 2; ++k)
            if (p.harmonicsDb[k])
                loudest = std::max(loudest, *p.harmonicsDb[k]);
    EXPECT_LT(loudest, -90);
    std::printf("H2, H3 at most %.1f dB\n", loudest);
}

TEST(SweepHarmonicLimits, OnlyBelow20kHzAndFromThreeSeconds) {
    const DeviceModel card = DeviceModel::ConsumerCard();
    const std::vector<double> frequencies{1000, 4500, 5500, 7000, 9000, 11000};
    const SweepResponse response = Measure(card, frequencies);
    ASSERT_TRUE(response.harmonicsMeasured);
    for (const SweepResponsePoint& p : response.points) {
        for (int k = 2; k <= SweepAnalysis::HighestHarmonic; ++k)
            EXPECT_EQ(p.harmonicsDb[k - 2].has_value(), k * p.frequencyHz < 20000)
                << k << " at " << p.frequencyHz;
        EXPECT_EQ(p.thdDb.has_value(), p.harmonicsDb[0].has_value());
    }

    SweepSettings settings;
    settings.lengthSeconds = 3;
    EXPECT_TRUE(Measure(card, frequencies, settings).harmonicsMeasured);
    settings.lengthSeconds = 2;
    const SweepResponse shortSweep = Measure(card, frequencies, settings);
    EXPECT_FALSE(shortSweep.harmonicsMeasured);
    for (const SweepResponsePoint& p : shortSweep.points)
        EXPECT_FALSE(p.thdDb.has_value());
}

// Recordings of one card with three different delays, each aligned on its
// own peak, average to the response of one.
TEST(SweepAverage, RecordingsWithDifferentDelaysAverageToTheSameGain) {
    const SweepSignal sweep{SweepSettings{}};
    SweepAnalysis single(sweep), average(sweep);
    DeviceModel card = DeviceModel::ConsumerCard();
    const std::size_t frames = average.RecordingFrames();
    single.Add(Record(sweep, card, frames));
    std::vector<double> delays;
    for (std::size_t latency : {64, 1000, 4321}) {
        card.latencyFrames = latency;
        card.noiseSeed += 1;
        const SweepRecording recording = average.Add(Record(sweep, card, frames));
        ASSERT_EQ(recording.verdict, SweepRecording::Verdict::Found);
        delays.push_back(recording.delaySamples - static_cast<double>(latency));
    }
    EXPECT_EQ(average.Recordings(), 3);
    EXPECT_NEAR(delays[1], delays[0], 0.01);
    EXPECT_NEAR(delays[2], delays[0], 0.01);

    const auto frequencies = SweepPointFrequencies(BlockSize);
    const SweepResponse one = single.Analyse(frequencies);
    const SweepResponse three = average.Analyse(frequencies);
    EXPECT_NEAR(three.delaySamples, 64 + delays[0], 0.01); // the first recording's
    for (std::size_t i = 0; i < frequencies.size(); ++i) {
        EXPECT_NEAR(three.points[i].gainDb, one.points[i].gainDb, 0.01) << frequencies[i];
        EXPECT_NEAR(three.points[i].phaseDeg, one.points[i].phaseDeg, 0.1) << frequencies[i];
    }
}

TEST(SweepRecordingTest, TellsWhatARecordingHeld) {
    const SweepSignal sweep{SweepSettings{}};
    SweepAnalysis analysis(sweep);
    const std::size_t frames = analysis.RecordingFrames();

    EXPECT_EQ(analysis.Add(std::vector<std::int16_t>(frames, 0)).verdict,
              SweepRecording::Verdict::Silent);
    EXPECT_EQ(analysis.Add(std::vector<std::int16_t>(sweep.Samples().size() - 1, 1)).verdict,
              SweepRecording::Verdict::TooShort);
    // Noise and hum alone: a muted output.
    DeviceModel card = DeviceModel::ConsumerCard();
    card.noiseDb = -60;
    std::vector<std::int16_t> silence(frames, 0), noise(frames);
    DeviceSimulator(card).process(silence.data(), noise.data(), frames);
    EXPECT_EQ(analysis.Add(noise).verdict, SweepRecording::Verdict::NoResponse);
    // An input that holds an offset and nothing else.
    EXPECT_EQ(analysis.Add(std::vector<std::int16_t>(frames, -7)).verdict,
              SweepRecording::Verdict::NoResponse);
    EXPECT_EQ(analysis.Recordings(), 0);
    const SweepResponse none = analysis.Analyse(std::vector<double>{1000});
    EXPECT_TRUE(std::isnan(none.delaySamples));
    EXPECT_TRUE(std::isnan(none.points.at(0).gainDb));

    card = DeviceModel::ConsumerCard();
    const SweepRecording clean = analysis.Add(Record(sweep, card, frames));
    EXPECT_EQ(clean.verdict, SweepRecording::Verdict::Found);
    EXPECT_FALSE(clean.clipped);
    card.gainDb = 12;
    EXPECT_TRUE(analysis.Add(Record(sweep, card, frames)).clipped);
}

// A DC offset at the input shifts no figure.
TEST(SweepRecordingTest, AnOffsetAtTheInputChangesNothing) {
    const SweepSignal sweep{SweepSettings{}};
    SweepAnalysis plain(sweep), offset(sweep);
    const auto recording = Record(sweep, DeviceModel::IdealWire(), plain.RecordingFrames());
    auto shifted = recording;
    for (std::int16_t& s : shifted)
        s = static_cast<std::int16_t>(s + 300);
    plain.Add(recording);
    offset.Add(shifted);
    const auto frequencies = SweepPointFrequencies(BlockSize);
    const SweepResponse a = plain.Analyse(frequencies), b = offset.Analyse(frequencies);
    for (std::size_t i = 0; i < frequencies.size(); ++i) {
        EXPECT_NEAR(b.points[i].gainDb, a.points[i].gainDb, 0.001) << frequencies[i];
        EXPECT_LT(b.points[i].thdDb.value_or(-400), -120) << frequencies[i];
    }
}

// The other input channel of a run in which only one is driven: nothing of
// its own stands out, so it is read where the driven channel's response lies.
class SweepCompanion : public testing::Test {
  protected:
    const SweepSignal sweep{SweepSettings{}};
    SweepAnalysis driven{sweep}, companion{sweep};
    const std::size_t frames = driven.RecordingFrames();
    const std::vector<double> frequencies = SweepPointFrequencies(BlockSize);

    SweepRecording AddDriven() {
        const SweepRecording found = driven.Add(Record(sweep, DeviceModel::ConsumerCard(), frames));
        EXPECT_EQ(found.verdict, SweepRecording::Verdict::Found);
        return found;
    }
    SweepResponse ReadCompanion() {
        return companion.AnalyseAt(frequencies, driven.Analyse(frequencies).delaySamples);
    }
};

TEST_F(SweepCompanion, NoiseAloneIsAddedAndReadsFiniteGains) {
    DeviceModel card = DeviceModel::ConsumerCard();
    card.noiseDb = -60;
    std::vector<std::int16_t> silence(frames, 0), noise(frames);
    DeviceSimulator(card).process(silence.data(), noise.data(), frames);
    EXPECT_EQ(companion.AddAlignedTo(noise, AddDriven()).verdict,
              SweepRecording::Verdict::NoResponse);
    EXPECT_EQ(companion.Recordings(), 1);
    const SweepResponse response = ReadCompanion();
    EXPECT_EQ(response.delaySamples, driven.Analyse(frequencies).delaySamples);
    for (const SweepResponsePoint& p : response.points) {
        EXPECT_TRUE(std::isfinite(p.gainDb)) << p.frequencyHz;
        EXPECT_LT(p.gainDb, -20) << p.frequencyHz;
        EXPECT_TRUE(std::isfinite(p.phaseDeg)) << p.frequencyHz;
    }
}

TEST_F(SweepCompanion, DigitalSilenceReadsMinusInfinityNotANumber) {
    EXPECT_EQ(companion.AddAlignedTo(std::vector<std::int16_t>(frames, 0), AddDriven()).verdict,
              SweepRecording::Verdict::Silent);
    EXPECT_EQ(companion.Recordings(), 1);
    for (const SweepResponsePoint& p : ReadCompanion().points) {
        EXPECT_EQ(p.gainDb, -std::numeric_limits<double>::infinity()) << p.frequencyHz;
        EXPECT_FALSE(p.thdDb) << p.frequencyHz;
    }
}

TEST_F(SweepCompanion, AlignsOnlyOnAFoundRecordingAndNeverMixesWithItsOwnPeaks) {
    const auto recording = Record(sweep, DeviceModel::ConsumerCard(), frames);
    const SweepRecording lost{SweepRecording::Verdict::NoResponse, false, 0};
    EXPECT_THROW(companion.AddAlignedTo(recording, lost), std::invalid_argument);
    companion.AddAlignedTo(recording, AddDriven());
    EXPECT_THROW(companion.Add(recording), std::logic_error);
    EXPECT_THROW(driven.AddAlignedTo(recording, AddDriven()), std::logic_error);
}

} // namespace
