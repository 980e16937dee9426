#include "audio/InputWatch.h"

#include <cstdio>

void InputWatch::InputOpened(Clock::time_point at) {
    if (m_awaitingFirstBlock || at <= m_waitFrom)
        return;
    m_waitFrom = at;
    m_awaitingFirstBlock = true;
}

std::optional<InputWatch::Clock::duration> InputWatch::BlockArrived(Clock::time_point now) {
    m_lastBlock = now;
    m_waitFrom = now;
    m_awaitingFirstBlock = false;
    if (!m_stalled)
        return std::nullopt;
    m_stalled = false;
    return now - m_goneSince;
}

bool InputWatch::CheckStalled(Clock::time_point now) {
    const Clock::duration limit = m_awaitingFirstBlock ? FirstBlockLimit : StallLimit;
    if (m_stalled || Waiting(now) < limit)
        return false;
    m_stalled = true;
    m_stoppedBeforeFirstBlock = m_awaitingFirstBlock;
    m_goneSince = m_lastBlock.value_or(m_waitFrom);
    return true;
}

std::string InputWatch::StoppedLine() const {
    return m_stoppedBeforeFirstBlock
               ? "tembrix: audio input stopped: no block since the input was opened"
               : "tembrix: audio input stopped: no block for 1 s";
}

std::string InputWatch::ResumedLine(Clock::duration gone) {
    char text[80];
    std::snprintf(text, sizeof text, "tembrix: audio input resumed after %.1f s",
                  std::chrono::duration<double>(gone).count());
    return text;
}
