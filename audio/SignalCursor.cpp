#include "audio/SignalCursor.h"

#include <algorithm>

void SignalCursor::Start(const SignalPlayback::Program& program) {
    m_program = program;
    m_frame = 0;
    m_active = true;
}

SignalCursor::Filled SignalCursor::Fill(std::int16_t* buffer, std::size_t count) {
    const std::size_t signalFrom = m_program.leadInFrames;
    const std::size_t signalTo = signalFrom + m_program.samples.size();
    const std::size_t end = signalTo + m_program.marginFrames;
    const std::size_t from = m_frame;
    const std::size_t to = std::min(end, from + count);

    // Silence, signal, silence: each part clipped to [from, to).
    const std::size_t silenceTo = std::clamp(signalFrom, from, to);
    const std::size_t copyTo = std::clamp(signalTo, silenceTo, to);
    std::fill(buffer, buffer + (silenceTo - from), std::int16_t{0});
    if (copyTo > silenceTo)
        std::copy(m_program.samples.data() + (silenceTo - signalFrom),
                  m_program.samples.data() + (copyTo - signalFrom), buffer + (silenceTo - from));
    std::fill(buffer + (copyTo - from), buffer + (to - from), std::int16_t{0});

    Filled filled;
    filled.frames = to - from;
    if (from <= signalFrom && signalFrom < to)
        filled.signalStart = signalFrom - from;
    filled.signalWritten = to >= signalTo;
    m_frame = to;
    m_active = to < end;
    return filled;
}
