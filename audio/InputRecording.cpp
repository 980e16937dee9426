#include "audio/InputRecording.h"

#include "audio/Audio.h"

#include <algorithm>

namespace {

// Blocks recorded besides the frames asked for: those the capture thread may
// still hold from before the request, those the output has queued before the
// signal starts, those it plays before the playback thread hears that the
// signal started, and the last block's overshoot, with room to spare for a
// busy machine.
constexpr std::size_t SpareBlocks = 2 * (CaptureBufferCount + 2 * PlaybackBufferCount + 2);

} // namespace

void InputRecording::Request(std::size_t framesBefore, std::size_t framesAfter, StreamBreaks now,
                             int channels) {
    std::lock_guard lock(m_mutex);
    m_channels = channels;
    m_samples.assign(
        (framesBefore + framesAfter + SpareBlocks * static_cast<std::size_t>(FftSize)) *
            static_cast<std::size_t>(channels),
        0);
    m_recorded = 0;
    m_firstPosition = 0;
    m_framesBefore = framesBefore;
    m_framesAfter = framesAfter;
    m_signalStart.reset();
    m_breaks = now;
    m_gap = Gap::None;
    m_finished.store(false, std::memory_order_relaxed);
    m_requested.store(true, std::memory_order_release);
}

void InputRecording::Cancel() {
    std::lock_guard lock(m_mutex);
    m_requested.store(false, std::memory_order_relaxed);
    m_samples = {};
}

InputRecording::Result InputRecording::Take() {
    std::lock_guard lock(m_mutex);
    Result result;
    result.gap = m_gap;
    result.channels = m_channels;
    result.samples = std::move(m_samples);
    m_samples = {};
    const auto channels = static_cast<std::size_t>(m_channels);
    if (m_gap != Gap::None || !m_signalStart) {
        result.samples.resize(m_recorded * channels);
        return result;
    }
    const auto from =
        static_cast<std::ptrdiff_t>((*m_signalStart - m_framesBefore - m_firstPosition) * channels);
    result.samples.erase(result.samples.begin(), result.samples.begin() + from);
    result.samples.resize((m_framesBefore + m_framesAfter) * channels);
    result.signalStart = m_framesBefore;
    return result;
}

// Under the lock, which the requester holds only briefly: never across a
// wait.
void InputRecording::Append(const WAVEHDR& header, std::optional<std::uint64_t> signalStart,
                            StreamBreaks now) {
    std::lock_guard lock(m_mutex);
    const auto channels = static_cast<std::size_t>(m_channels);
    const std::size_t frames = header.dwBytesRecorded / (sizeof(std::int16_t) * channels);
    if (!m_requested.load(std::memory_order_relaxed) || frames == 0)
        return;
    const std::uint64_t position = platform::HeaderInputPosition(header);
    if (m_recorded == 0)
        m_firstPosition = position;
    if (now.reopens != m_breaks.reopens)
        return finish(Gap::StreamReopened);
    if (platform::HeaderHasGap(header) || position != m_firstPosition + m_recorded)
        return finish(Gap::LostFrames);
    // Compared for any change, not growth: a reopened output counts afresh.
    if (now.outputGaps != m_breaks.outputGaps)
        return finish(Gap::OutputRanDry);

    const std::size_t copied = std::min(frames, m_samples.size() / channels - m_recorded);
    const auto* samples = reinterpret_cast<const std::int16_t*>(header.lpData);
    std::copy(samples, samples + copied * channels,
              m_samples.begin() + static_cast<std::ptrdiff_t>(m_recorded * channels));
    m_recorded += copied;

    if (signalStart) {
        if (*signalStart < m_firstPosition + m_framesBefore)
            return finish(Gap::Incomplete);
        if (m_firstPosition + m_recorded >= *signalStart + m_framesAfter) {
            m_signalStart = signalStart;
            return finish(Gap::None);
        }
    }
    if (m_recorded * channels == m_samples.size())
        finish(Gap::Incomplete);
}

void InputRecording::finish(Gap gap) {
    m_gap = gap;
    m_requested.store(false, std::memory_order_relaxed);
    m_finished.store(true, std::memory_order_release);
}

std::vector<std::int16_t> ChannelSamples(std::span<const std::int16_t> frames, int channels,
                                         int channel) {
    const auto stride = static_cast<std::size_t>(channels);
    std::vector<std::int16_t> samples(frames.size() / stride);
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = frames[i * stride + static_cast<std::size_t>(channel)];
    return samples;
}

std::string GapText(InputRecording::Gap gap) {
    switch (gap) {
    case InputRecording::Gap::LostFrames:
        return "the input lost frames";
    case InputRecording::Gap::OutputRanDry:
        return "the output ran out of samples";
    case InputRecording::Gap::StreamReopened:
        return "a stream died and was opened again";
    case InputRecording::Gap::Incomplete:
        return "the signal did not come back whole within the recording";
    case InputRecording::Gap::None:
        break;
    }
    return "";
}
