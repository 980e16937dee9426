#include "audio/SignalCursor.h"

#include <algorithm>

void SignalCursor::Start(const SignalPlayback::Program& program) {
    m_program = program;
    m_frame = 0;
    m_active = true;
}

SignalCursor::Filled SignalCursor::Fill(std::int16_t* buffer, std::size_t count, int channels) {
    const std::size_t signalFrom = m_program.leadInFrames;
    const std::size_t signalTo = signalFrom + m_program.samples.size();
    const std::size_t end = signalTo + m_program.marginFrames;
    const std::size_t from = m_frame;
    const std::size_t to = std::min(end, from + count);

    const int only = m_program.channel;
    for (std::size_t frame = from; frame < to; ++frame) {
        const std::int16_t sample = frame >= signalFrom && frame < signalTo
                                        ? m_program.samples[frame - signalFrom]
                                        : std::int16_t{0};
        std::int16_t* out = buffer + (frame - from) * static_cast<std::size_t>(channels);
        for (int channel = 0; channel < channels; ++channel)
            out[channel] = only == SignalPlayback::Program::EveryChannel || only == channel
                               ? sample
                               : std::int16_t{0};
    }

    Filled filled;
    filled.frames = to - from;
    if (from <= signalFrom && signalFrom < to)
        filled.signalStart = signalFrom - from;
    filled.signalWritten = to >= signalTo;
    m_frame = to;
    m_active = to < end;
    return filled;
}
