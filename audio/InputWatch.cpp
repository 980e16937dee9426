#include "audio/InputWatch.h"

#include <cstdio>

std::optional<InputWatch::Clock::duration> InputWatch::BlockArrived(Clock::time_point now) {
    const Clock::duration gone = now - m_lastBlock;
    m_lastBlock = now;
    if (!m_stalled)
        return std::nullopt;
    m_stalled = false;
    return gone;
}

bool InputWatch::CheckStalled(Clock::time_point now) {
    if (m_stalled || now - m_lastBlock < StallLimit)
        return false;
    m_stalled = true;
    return true;
}

std::string InputWatch::StoppedLine() {
    return "tembrix: audio input stopped: no block for 1 s";
}

std::string InputWatch::ResumedLine(Clock::duration gone) {
    char text[80];
    std::snprintf(text, sizeof text, "tembrix: audio input resumed after %.1f s",
                  std::chrono::duration<double>(gone).count());
    return text;
}
