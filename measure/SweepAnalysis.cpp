#include "measure/SweepAnalysis.h"

#include "dsp/SignalFormat.h"
#include "dsp/SincInterpolator.h"
#include "measure/PeakPosition.h"
#include "measure/ResponseWindow.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>
#include <stdexcept>

namespace {

constexpr double NotANumber = std::numeric_limits<double>::quiet_NaN();
// The card's DC offset is read from the recording's end, where the
// response has died away.
constexpr double OffsetSeconds = 0.1;
constexpr double HarmonicRiseSeconds = 0.01;

// Where the recording says the sweep left the output is only as good as the
// sound server's times, a millisecond or so either way: the linear response
// is looked for from 10 ms before lag 0, far after the second harmonic's
// response (L ln 2, 69 ms for the shortest sweep).
constexpr double EarliestPeakSeconds = 0.01;

double db(double ratio) {
    return 20 * std::log10(ratio);
}

double samplesOf(double seconds) {
    return seconds * SampleRate;
}

long long EarliestPeak() {
    return -std::llround(samplesOf(EarliestPeakSeconds));
}

std::size_t wholeSamples(double seconds) {
    return static_cast<std::size_t>(std::ceil(samplesOf(seconds)));
}

std::size_t wrapped(long long index, std::size_t size) {
    const auto n = static_cast<long long>(size);
    return static_cast<std::size_t>((index % n + n) % n);
}

double meanOfEnd(std::span<const std::int16_t> recording) {
    const std::size_t count =
        std::min(recording.size(), static_cast<std::size_t>(samplesOf(OffsetSeconds)));
    double sum = 0;
    for (std::size_t n = recording.size() - count; n < recording.size(); ++n)
        sum += recording[n];
    return sum / static_cast<double>(count);
}

double medianMagnitude(std::span<const double> samples) {
    // Every seventh sample is plenty for a median, in a seventh of the time.
    std::vector<double> some;
    some.reserve(samples.size() / 7 + 1);
    for (std::size_t n = 0; n < samples.size(); n += 7)
        some.push_back(std::abs(samples[n]));
    const auto middle = some.begin() + static_cast<std::ptrdiff_t>(some.size() / 2);
    std::nth_element(some.begin(), middle, some.end());
    return *middle;
}

} // namespace

void SweepAnalysis::CorrectClockDrift(double ppm) {
    if (m_recordings > 0)
        throw std::logic_error("SweepAnalysis::CorrectClockDrift after a recording");
    // The output's sample k, played at k / Fout, is recorded at k Fin / Fout
    // = k / (1 + ppm 1e-6) on the input's clock.
    m_inputSamplesPerOutputSample = 1 / (1 + ppm * 1e-6);
    m_onInputClock.assign(m_recordingFrames, 0.0);
}

double SweepResponse::DelayMs() const {
    return delaySamples * 1000 / SampleRate;
}

// Room for a recording and, after it, the linear window, so that no
// response wraps round onto another.
SweepAnalysis::SweepAnalysis(const SweepSignal& sweep, double marginSeconds)
    : m_sweep(sweep),
      m_recordingFrames(sweep.Samples().size() +
                        wholeSamples(std::max(marginSeconds, RecordingMarginSeconds))),
      m_transform(LongTransform::FastSizeAtLeast(m_recordingFrames +
                                                 wholeSamples(LinearPreSeconds + PostPeakSeconds))),
      m_inverse(sweep, m_transform), m_spectrum(m_transform.Bins().size()),
      m_sum(m_transform.Bins().size()) {}

SweepRecording SweepAnalysis::Add(std::span<const std::int16_t> recording) {
    if (m_alignment == Alignment::AnotherChannels)
        throw std::logic_error("SweepAnalysis::Add after AddAlignedTo");
    m_alignment = Alignment::OwnPeaks;
    const SweepRecording result = Deconvolve(recording);
    if (result.verdict != SweepRecording::Verdict::Found)
        return result;
    if (m_recordings == 0)
        m_firstPeak = result.delaySamples;
    Accumulate(result.delaySamples);
    return result;
}

SweepRecording SweepAnalysis::AddAlignedTo(std::span<const std::int16_t> recording,
                                           const SweepRecording& driven) {
    if (driven.verdict != SweepRecording::Verdict::Found || !std::isfinite(driven.delaySamples))
        throw std::invalid_argument("SweepAnalysis::AddAlignedTo a recording that was not found");
    if (m_alignment == Alignment::OwnPeaks)
        throw std::logic_error("SweepAnalysis::AddAlignedTo after Add");
    m_alignment = Alignment::AnotherChannels;
    const SweepRecording result = Deconvolve(recording);
    if (result.verdict == SweepRecording::Verdict::TooShort)
        return result;
    if (m_recordings == 0)
        m_firstPeak = driven.delaySamples;
    if (result.verdict == SweepRecording::Verdict::Silent)
        ++m_recordings; // zeros add nothing to the sum, but count in the average
    else
        Accumulate(driven.delaySamples);
    return result;
}

SweepRecording SweepAnalysis::Deconvolve(std::span<const std::int16_t> recording) {
    SweepRecording result{SweepRecording::Verdict::Found, false, NotANumber};
    const std::size_t sweepFrames = m_sweep.Samples().size();
    if (recording.size() < sweepFrames) {
        result.verdict = SweepRecording::Verdict::TooShort;
        return result;
    }
    recording = recording.first(std::min(recording.size(), m_recordingFrames));
    result.clipped = std::any_of(recording.begin(), recording.end(),
                                 [](std::int16_t s) { return s == INT16_MAX || s == INT16_MIN; });
    if (std::all_of(recording.begin(), recording.end(), [](std::int16_t s) { return s == 0; })) {
        result.verdict = SweepRecording::Verdict::Silent;
        return result;
    }

    const auto time = m_transform.Time();
    const double offset = meanOfEnd(recording);
    std::fill(time.begin(), time.end(), 0.0);
    if (m_onInputClock.empty()) {
        for (std::size_t n = 0; n < recording.size(); ++n)
            time[n] = (recording[n] - offset) / SampleFullScale;
    } else {
        for (std::size_t n = 0; n < recording.size(); ++n)
            m_onInputClock[n] = (recording[n] - offset) / SampleFullScale;
        dsp::sinc::ReadAt(std::span<const double>(m_onInputClock).first(recording.size()), 0,
                          m_inputSamplesPerOutputSample, time.first(recording.size()));
    }
    m_transform.Forward();
    const auto bins = m_transform.Bins();
    const auto inverse = m_inverse.Bins();
    for (std::size_t k = 0; k < bins.size(); ++k)
        bins[k] = m_spectrum[k] = bins[k] * inverse[k];
    m_transform.Inverse();

    // A recording that is one constant (an offset and nothing else) leaves
    // nothing at all once the offset is taken away: 0 / 0 is not found.
    const double peak = OwnPeak(time);
    if (!(db(std::abs(InterpolatedSample(time, peak)) / medianMagnitude(time)) >=
          FoundAboveMedianDb)) {
        result.verdict = SweepRecording::Verdict::NoResponse;
        return result;
    }
    result.delaySamples = peak;
    return result;
}

// Earlier by the difference of the peaks: e^(2 pi i k shift / N).
void SweepAnalysis::Accumulate(double peak) {
    const double turn =
        2 * std::numbers::pi * (peak - m_firstPeak) / static_cast<double>(m_transform.Size());
    for (std::size_t k = 0; k < m_sum.size(); ++k)
        m_sum[k] += m_spectrum[k] * std::polar(1.0, turn * static_cast<double>(k));
    ++m_recordings;
}

// The linear response lies from lag 0 to where the sweep would have ended
// with the recording; the harmonics' lie before 0.
double SweepAnalysis::OwnPeak(std::span<const double> impulse) const {
    return PeakPosition(impulse, EarliestPeak(),
                        static_cast<long long>(m_recordingFrames - m_sweep.Samples().size() + 1));
}

// A device that passes DC misses, around its peak, the response of the band
// the division left out: the slow wave SweepInverse::LowBand() scaled by the
// device's gain there. It is fitted where no response lies (outside the
// linear window and the harmonics' responses, going round the circle), and
// added back everywhere. A device that blocks DC fits next to nothing.
void SweepAnalysis::RestoreLowBand(std::span<double> impulse, double peak) const {
    const auto lowBand = m_inverse.LowBand();
    const auto size = static_cast<long long>(impulse.size());
    const auto centre = std::llround(peak);
    const double harmonicsLead =
        samplesOf(m_sweep.HarmonicLeadSeconds(HighestHarmonic) + HarmonicPreSeconds);
    const auto first = std::llround(peak + samplesOf(PostPeakSeconds)) + 1;
    const auto last = std::llround(peak - harmonicsLead) - 1 + size;
    double cross = 0, norm = 0;
    for (long long n = first; n <= last; ++n) {
        const double wave = lowBand[wrapped(n - centre, impulse.size())];
        cross += impulse[wrapped(n, impulse.size())] * wave;
        norm += wave * wave;
    }
    if (norm == 0)
        return;
    const double missing = -cross / norm;
    for (long long n = 0; n < size; ++n)
        impulse[static_cast<std::size_t>(n)] +=
            missing * lowBand[wrapped(n - centre, impulse.size())];
}

SweepResponse SweepAnalysis::Analyse(std::span<const double> frequencies) {
    return Read(frequencies, std::nullopt);
}

SweepResponse SweepAnalysis::AnalyseAt(std::span<const double> frequencies, double peakSamples) {
    return Read(frequencies, peakSamples);
}

SweepResponse SweepAnalysis::Read(std::span<const double> frequencies,
                                  std::optional<double> origin) {
    SweepResponse response{NotANumber, false, {}, 0, {}};
    if (m_recordings == 0) {
        for (double f : frequencies)
            response.points.push_back({f, NotANumber, NotANumber, {}, {}});
        return response;
    }

    const auto bins = m_transform.Bins();
    const double scale = 1.0 / m_recordings;
    for (std::size_t k = 0; k < bins.size(); ++k)
        bins[k] = m_sum[k] * scale;
    m_transform.Inverse();
    const auto time = m_transform.Time();
    // The low band is restored around the response's own peak: the first
    // recording's, or, on another channel's time base, this average's.
    if (origin)
        RestoreLowBand(time, *origin);
    else
        RestoreLowBand(time,
                       m_alignment == Alignment::AnotherChannels ? OwnPeak(time) : m_firstPeak);

    const double peak = origin ? *origin : OwnPeak(time);
    response.delaySamples = peak;

    const double pre = samplesOf(LinearPreSeconds);
    const double post = samplesOf(PostPeakSeconds);
    const ResponseWindow linear(time, peak, {-pre, post, pre / 2, post / 2});

    response.harmonicsMeasured =
        m_sweep.RateSeconds() * std::log(5.0 / 4) >= ShortestHarmonicWindowSeconds;
    std::vector<ResponseWindow> harmonics;
    if (response.harmonicsMeasured) {
        const double lead = samplesOf(HarmonicPreSeconds);
        const double rise = samplesOf(HarmonicRiseSeconds);
        for (int k = 2; k <= HighestHarmonic; ++k) {
            const double rest =
                samplesOf(m_sweep.HarmonicLeadSeconds(k) - m_sweep.HarmonicLeadSeconds(k - 1)) -
                lead;
            harmonics.emplace_back(time, peak - samplesOf(m_sweep.HarmonicLeadSeconds(k)),
                                   WindowShape{-lead, rest, rise, rest / 2});
        }
    }

    // Each window's sums run over all its frequencies at once.
    std::vector<double> measured;
    for (double f : frequencies)
        if (f >= m_sweep.StartHz() && f <= m_sweep.EndHz())
            measured.push_back(f);
    const auto fundamentals = linear.At(measured);
    // Harmonic k's level at each measured frequency, where k f is reported.
    std::vector<std::vector<std::optional<double>>> harmonicLevels;
    const double harmonicsBelow = std::min(HarmonicsBelowHz, m_sweep.EndHz());
    for (std::size_t i = 0; i < harmonics.size(); ++i) {
        const double k = static_cast<double>(i + 2);
        std::vector<double> excited;
        for (double f : measured)
            if (k * f < harmonicsBelow)
                excited.push_back(k * f);
        const auto spectrum = harmonics[i].At(excited);
        auto& levels = harmonicLevels.emplace_back(measured.size());
        for (std::size_t m = 0, e = 0; m < measured.size(); ++m)
            if (k * measured[m] < harmonicsBelow)
                levels[m] = std::abs(spectrum[e++]);
    }

    std::size_t next = 0;
    for (double f : frequencies) {
        SweepResponsePoint point{f, NotANumber, NotANumber, {}, {}};
        if (next < measured.size() && f == measured[next]) {
            const std::complex<double> fundamental = fundamentals[next];
            point.gainDb = db(std::abs(fundamental));
            const bool nothing = std::abs(fundamental) == 0;
            point.phaseDeg = nothing ? NotANumber : std::arg(fundamental) * 180 / std::numbers::pi;
            double power = 0;
            for (std::size_t i = 0;
                 !nothing && i < harmonicLevels.size() && harmonicLevels[i][next]; ++i) {
                const double ratio = *harmonicLevels[i][next] / std::abs(fundamental);
                point.harmonicsDb[i] = db(ratio);
                power += ratio * ratio;
            }
            if (point.harmonicsDb[0])
                point.thdDb = 10 * std::log10(power);
            ++next;
        }
        response.points.push_back(point);
    }
    UnwrapPhases(response.points);

    response.impulseStart = static_cast<long long>(std::floor(peak - pre));
    const auto last = static_cast<long long>(std::ceil(peak + post));
    for (long long n = response.impulseStart; n <= last; ++n)
        response.impulse.push_back(time[wrapped(n, time.size())]);
    return response;
}
