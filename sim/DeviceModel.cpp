#include "sim/DeviceModel.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>

namespace {

constexpr double FullScale = 32768.0;

double amplitudeOf(double db) {
    return std::pow(10.0, db / 20.0);
}

enum class Pass { High, Low };

// Prewarped so that the digital corner lands exactly on `corner`.
double warpedCorner(double corner, double sampleRate) {
    return std::tan(std::numbers::pi * corner / sampleRate);
}

FilterSection firstOrder(Pass pass, double k) {
    const double norm = 1.0 / (1.0 + k);
    const double a1 = (k - 1.0) * norm;
    if (pass == Pass::Low)
        return {k * norm, k * norm, 0.0, a1, 0.0};
    return {norm, -norm, 0.0, a1, 0.0};
}

FilterSection secondOrder(Pass pass, double k, double q) {
    const double norm = 1.0 / (1.0 + k / q + k * k);
    const double a1 = 2.0 * (k * k - 1.0) * norm;
    const double a2 = (1.0 - k / q + k * k) * norm;
    if (pass == Pass::Low) {
        const double b0 = k * k * norm;
        return {b0, 2.0 * b0, b0, a1, a2};
    }
    return {norm, -2.0 * norm, norm, a1, a2};
}

// A Butterworth filter of order n: n / 2 pole pairs, and one real pole when
// n is odd.
void appendButterworth(std::vector<FilterSection>& sections, Pass pass, FilterCorner corner,
                       double sampleRate) {
    if (corner.order == 0)
        return;
    const double k = warpedCorner(corner.frequencyHz, sampleRate);
    const int n = corner.order;
    for (int pair = 0; pair < n / 2; ++pair) {
        const double q = 1.0 / (2.0 * std::sin((2 * pair + 1) * std::numbers::pi / (2.0 * n)));
        sections.push_back(secondOrder(pass, k, q));
    }
    if (n % 2 == 1)
        sections.push_back(firstOrder(pass, k));
}

// The response of one section at `frequencyHz`.
std::complex<double> sectionResponse(const FilterSection& s, double frequencyHz,
                                     double sampleRate) {
    const std::complex<double> zInverse =
        std::polar(1.0, -2.0 * std::numbers::pi * frequencyHz / sampleRate);
    return (s.b0 + zInverse * (s.b1 + zInverse * s.b2)) /
           (1.0 + zInverse * (s.a1 + zInverse * s.a2));
}

// The phase of a filter's sections in radians, each on its continuous branch.
double filterPhase(Pass pass, FilterCorner corner, double frequencyHz, double sampleRate) {
    std::vector<FilterSection> sections;
    appendButterworth(sections, pass, corner, sampleRate);
    double phase = 0.0;
    for (const FilterSection& s : sections) {
        const double section = std::arg(sectionResponse(s, frequencyHz, sampleRate));
        if (pass == Pass::High)
            phase += section < 0.0 ? section + 2.0 * std::numbers::pi : section;
        else
            phase += section > 0.0 ? section - 2.0 * std::numbers::pi : section;
    }
    return phase;
}

bool insideBand(double frequencyHz, double sampleRate) {
    return frequencyHz > 0.0 && frequencyHz < sampleRate / 2.0;
}

bool validCorner(FilterCorner corner, double sampleRate) {
    if (corner.order == 0)
        return true;
    return corner.order > 0 && corner.order <= DeviceModel::MaxFilterOrder &&
           insideBand(corner.frequencyHz, sampleRate);
}

// splitmix64: small, fast and the same on every platform.
std::uint64_t nextRandom(std::uint64_t& state) {
    std::uint64_t z = (state += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

// Uniform in (0, 1]: never 0, so its logarithm is finite.
double uniformOpenBelow(std::uint64_t& state) {
    return (static_cast<double>(nextRandom(state) >> 11) + 1.0) * 0x1.0p-53;
}

// Another starting point of splitmix64's sequence, far from the left's.
constexpr std::uint64_t RightChannelSeedMask = 0xD1B54A32D192ED03ULL;

bool sameCardWideSettings(const DeviceModel& a, const DeviceModel& b) {
    return a.sampleRate == b.sampleRate && a.streamsDieAfterSeconds == b.streamsDieAfterSeconds &&
           a.inputOverflowsAfterSeconds == b.inputOverflowsAfterSeconds &&
           a.inputStartDelaySeconds == b.inputStartDelaySeconds;
}

} // namespace

std::int16_t RecordedSample(double deviceOutput) {
    const double scaled = std::clamp(deviceOutput * FullScale, -FullScale, FullScale - 1.0);
    return static_cast<std::int16_t>(std::lround(scaled));
}

CardModel::CardModel(const DeviceModel& both) : left(both), right(both) {
    right.noiseSeed ^= RightChannelSeedMask;
}

bool CardModel::valid() const {
    const bool crosstalkValid =
        crosstalkDb == Off || (std::isfinite(crosstalkDb) && crosstalkDb <= 0.0);
    const bool driftValid = std::fabs(driftPpm) <= LongestDriftPpm; // false for NaN
    return left.valid() && right.valid() && sameCardWideSettings(left, right) && crosstalkValid &&
           driftValid;
}

DeviceModel DeviceModel::IdealWire() {
    DeviceModel wire;
    wire.latencyFrames = 0;
    wire.highPass.order = 0;
    wire.lowPass.order = 0;
    wire.noiseDb = Off;
    wire.humDb = Off;
    return wire;
}

bool DeviceModel::valid() const {
    return sampleRate > 0.0 && std::isfinite(gainDb) && latencyFrames <= MaxLatencyFrames &&
           validCorner(highPass, sampleRate) && validCorner(lowPass, sampleRate) &&
           (humDb == Off || insideBand(humHz, sampleRate)) && inputStartDelaySeconds >= 0.0 &&
           inputStartDelaySeconds <= LongestInputStartDelaySeconds;
}

double DeviceModel::ResponseDb(double frequencyHz) const {
    double db = gainDb;
    for (const FilterSection& s : DesignFilters(*this))
        db += 20.0 * std::log10(std::abs(sectionResponse(s, frequencyHz, sampleRate)));
    return db;
}

double DeviceModel::PhaseDeg(double frequencyHz) const {
    const double radians = filterPhase(Pass::High, highPass, frequencyHz, sampleRate) +
                           filterPhase(Pass::Low, lowPass, frequencyHz, sampleRate);
    return radians * 180.0 / std::numbers::pi;
}

std::vector<FilterSection> DesignFilters(const DeviceModel& model) {
    std::vector<FilterSection> sections;
    appendButterworth(sections, Pass::High, model.highPass, model.sampleRate);
    appendButterworth(sections, Pass::Low, model.lowPass, model.sampleRate);
    return sections;
}

DeviceSimulator::DeviceSimulator(const DeviceModel& model)
    : m_gain(amplitudeOf(model.gainDb)),
      m_secondHarmonic(2.0 * amplitudeOf(model.secondHarmonicDb)),
      m_thirdHarmonic(4.0 * amplitudeOf(model.thirdHarmonicDb)),
      m_humAmplitude(amplitudeOf(model.humDb)),
      m_humStep(2.0 * std::numbers::pi * model.humHz / model.sampleRate),
      m_noiseRms(amplitudeOf(model.noiseDb)), m_noiseState(model.noiseSeed),
      m_delayLine(model.latencyFrames, 0.0) {
    for (const FilterSection& section : DesignFilters(model))
        m_sections.push_back({section});
}

double DeviceSimulator::step(std::int16_t played) {
    const double x = played / FullScale * m_gain;
    return delay(filter(distort(x)) + interference());
}

void DeviceSimulator::process(const std::int16_t* played, std::int16_t* recorded,
                              std::size_t frames) {
    for (std::size_t i = 0; i < frames; ++i)
        recorded[i] = RecordedSample(step(played[i]));
}

void DeviceSimulator::processUnrounded(const std::int16_t* played, double* output,
                                       std::size_t frames) {
    for (std::size_t i = 0; i < frames; ++i)
        output[i] = step(played[i]);
}

// A full-scale sine x = sin(t) gives x^2 = (1 - cos 2t) / 2 and
// x^3 = (3 sin t - sin 3t) / 4, hence the factors 2 and 4 on the levels.
double DeviceSimulator::distort(double x) const {
    if (m_secondHarmonic == 0.0 && m_thirdHarmonic == 0.0)
        return x;
    return x + m_secondHarmonic * x * x + m_thirdHarmonic * x * x * x;
}

// Transposed direct form II, section after section.
double DeviceSimulator::filter(double x) {
    for (SectionState& section : m_sections) {
        const FilterSection& c = section.coefficients;
        const double y = c.b0 * x + section.z1;
        section.z1 = c.b1 * x - c.a1 * y + section.z2;
        section.z2 = c.b2 * x - c.a2 * y;
        x = y;
    }
    return x;
}

double DeviceSimulator::interference() {
    double sum = 0.0;
    if (m_humAmplitude != 0.0) {
        sum += m_humAmplitude * std::sin(m_humPhase);
        m_humPhase = std::fmod(m_humPhase + m_humStep, 2.0 * std::numbers::pi);
    }
    if (m_noiseRms != 0.0)
        sum += m_noiseRms * nextGaussian();
    return sum;
}

double DeviceSimulator::delay(double x) {
    if (m_delayLine.empty())
        return x;
    const double delayed = m_delayLine[m_delayPosition];
    m_delayLine[m_delayPosition] = x;
    m_delayPosition = (m_delayPosition + 1) % m_delayLine.size();
    return delayed;
}

// Box-Muller: two independent normal values from two uniform ones.
double DeviceSimulator::nextGaussian() {
    if (m_hasSpareGaussian) {
        m_hasSpareGaussian = false;
        return m_spareGaussian;
    }
    const double radius = std::sqrt(-2.0 * std::log(uniformOpenBelow(m_noiseState)));
    const double angle = 2.0 * std::numbers::pi * uniformOpenBelow(m_noiseState);
    m_spareGaussian = radius * std::sin(angle);
    m_hasSpareGaussian = true;
    return radius * std::cos(angle);
}
