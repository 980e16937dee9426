#include "platform/DebugLineFilter.h"

#include <cstring>

namespace {
constexpr std::string_view DebugStart = "Expression '";
constexpr std::string_view DebugMark = "' failed in 'src/";
constexpr std::string_view LineEnds = "\n\r";
} // namespace

void DebugLineFilter::Write(std::string_view chunk) {
    while (!chunk.empty()) {
        const std::size_t end = chunk.find_first_of(LineEnds);
        const bool endsLine = end != std::string_view::npos;
        const std::string_view piece = chunk.substr(0, endsLine ? end + 1 : chunk.size());
        chunk.remove_prefix(piece.size());
        take(piece, endsLine);
    }
}

void DebugLineFilter::Flush() {
    if (m_heldLength == 0)
        return;
    m_pass(std::string_view(m_held, m_heldLength));
    m_heldLength = 0;
    m_state = State::Passing;
}

// A piece of one line: up to and including its end, or the rest of a chunk.
void DebugLineFilter::take(std::string_view piece, bool endsLine) {
    switch (m_state) {
    case State::LineStart:
        judge(piece, endsLine);
        return;
    case State::Passing:
        m_pass(piece);
        break;
    case State::Dropping:
        break;
    }
    if (endsLine)
        m_state = State::LineStart;
}

void DebugLineFilter::judge(std::string_view piece, bool endsLine) {
    std::string_view line = piece;
    if (m_heldLength > 0) {
        if (!hold(piece)) {
            Flush();
            take(piece, endsLine);
            return;
        }
        line = std::string_view(m_held, m_heldLength);
    }
    switch (verdict(line, endsLine)) {
    case Verdict::Debug:
        m_heldLength = 0;
        m_state = endsLine ? State::LineStart : State::Dropping;
        return;
    case Verdict::Other:
        m_pass(line);
        m_heldLength = 0;
        m_state = endsLine ? State::LineStart : State::Passing;
        return;
    case Verdict::Undecided:
        // Held already when it came after held text; too long to hold is
        // not PortAudio's.
        if (line.data() == m_held || hold(piece))
            return;
        m_pass(piece);
        m_state = State::Passing;
        return;
    }
}

DebugLineFilter::Verdict DebugLineFilter::verdict(std::string_view line, bool endsLine) {
    if (line.starts_with(DebugStart)) {
        if (line.find(DebugMark, DebugStart.size()) != std::string_view::npos)
            return Verdict::Debug;
        return endsLine ? Verdict::Other : Verdict::Undecided;
    }
    // The start of a line that has not reached the whole of DebugStart yet.
    return !endsLine && DebugStart.starts_with(line) ? Verdict::Undecided : Verdict::Other;
}

bool DebugLineFilter::hold(std::string_view piece) {
    if (piece.size() > sizeof m_held - m_heldLength)
        return false;
    std::memcpy(m_held + m_heldLength, piece.data(), piece.size());
    m_heldLength += piece.size();
    return true;
}
