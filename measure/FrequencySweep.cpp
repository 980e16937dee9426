#include "measure/FrequencySweep.h"

#include "dsp/FFT.h"
#include "measure/NoiseLines.h"
#include "measure/SweepPlan.h"

namespace {
// More than a sweep of 8192-sample blocks ever stores.
constexpr std::size_t PointCapacity = 100;
} // namespace

FrequencySweep::FrequencySweep(int fftSize) : m_fftSize(fftSize) {
    m_points.reserve(PointCapacity);
}

void FrequencySweep::Start() {
    m_points.clear();
    m_windowChanged = false;
    m_noisyPoints = 0;
    Retuned();
}

void FrequencySweep::Retuned() {
    m_blockCount = 0;
    m_noiseAtFrequency = false;
    m_settling.Retuned();
}

void FrequencySweep::BlockShown(std::uint64_t droppedBefore, bool hasGap) {
    m_settling.BlockShown(droppedBefore);
    if (hasGap)
        m_settling.Interrupted();
}

NoiseVerdict FrequencySweep::CheckNoise(const double* spectrum, double frequency, int windowType) {
    const bool stale = m_settling.MayCarryOldTone();
    const bool noisy =
        stale || HasNoiseLines(spectrum, m_fftSize / 2, ToneBinPosition(frequency, m_fftSize),
                               MainLobeGuardBins(windowType));
    m_noiseAtFrequency = m_noiseAtFrequency || (noisy && !stale);
    if (!noisy) {
        m_noiseFailCount = 0;
        return NoiseVerdict::Pass;
    }
    const bool tell = m_noiseFailCount == SilentNoiseFailures;
    ++m_noiseFailCount;
    return tell ? NoiseVerdict::FailAndTell : NoiseVerdict::Fail;
}

bool FrequencySweep::CountBlock(const double* spectrum, double frequency) {
    const double s = spectrum[GeneratorBin(frequency, m_fftSize)];
    if (m_blockCount == 0) {
        m_peak = s;
        m_blockCount = 1;
        return false;
    }
    if (s > m_peak)
        m_peak = s;
    if (m_blockCount < CountedBlocks - 1) {
        ++m_blockCount;
        return false;
    }
    return true;
}

const ResponsePoint& FrequencySweep::StorePoint(double frequency, const CFFT& fft) {
    const double offset =
        ToneBinPosition(frequency, m_fftSize) - GeneratorBin(frequency, m_fftSize);
    const double gain = fft.WindowGainDb(offset);
    const int blocks = static_cast<int>(m_settling.BlocksRecorded());
    if (m_points.empty())
        m_pointsWindowType = fft.WindowType();
    else if (fft.WindowType() != m_pointsWindowType)
        m_windowChanged = true;
    m_points.push_back({frequency, m_peak - gain, m_peak, gain, blocks});
    m_noisyPoints += m_noiseAtFrequency ? 1 : 0;
    Retuned();
    return m_points.back();
}

// The window's order: the last frequency yields no point, so its blocks skip
// the noise test (a device that cuts the top of the band off below its noise
// cannot hold the sweep there for ever); five passing blocks make a point;
// the next frequency comes from the current one as the window shows it.
FrequencySweep::Step FrequencySweep::Advance(const double* spectrum, std::uint64_t droppedBefore,
                                             double frequency, const CFFT& fft, bool hasGap) {
    BlockShown(droppedBefore, hasGap);
    const bool last = IsLastSweepFrequency(frequency);
    if (!last) {
        const NoiseVerdict verdict = CheckNoise(spectrum, frequency, fft.WindowType());
        if (verdict != NoiseVerdict::Pass)
            return {verdict == NoiseVerdict::FailAndTell ? Step::NoiseLines : Step::Waiting, 0};
    }
    if (!CountBlock(spectrum, frequency))
        return {Step::Waiting, 0};
    const double next = SweepFrequencyAfter(frequency);
    if (next >= SweepEndFrequency)
        return {Step::Finished, 0};
    StorePoint(frequency, fft);
    return {Step::Point, next};
}

std::optional<int> FrequencySweep::PointsWindowType() const {
    if (m_points.empty() || m_windowChanged)
        return std::nullopt;
    return m_pointsWindowType;
}
