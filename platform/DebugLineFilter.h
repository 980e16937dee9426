// Sorts what the program writes to standard error, chunk by chunk as the C
// library's stream hands it over, into PortAudio's debug lines and the rest.
// PortAudio prints a line for every failed call inside it ("Expression '...'
// failed in 'src/hostapi/alsa/pa_linux_alsa.c', line: 3665"), a dozen when a
// sound server goes away; they mean nothing to a user, and the packaged
// library offers no hook to take them.
//
// A line is PortAudio's when it starts with "Expression '" and holds
// "' failed in 'src/"; a line ends at '\n' or '\r'. Everything else passes at
// once and unchanged, a progress line ending in '\r' included; only the start
// of a line that may still turn out to be PortAudio's is held back until it
// can be told (and then goes out whole).
#pragma once

#include <cstddef>
#include <functional>
#include <string_view>

class DebugLineFilter {
  public:
    using Pass = std::function<void(std::string_view text)>;
    explicit DebugLineFilter(Pass pass) : m_pass(std::move(pass)) {}

    // One chunk of text; PortAudio's lines are dropped. Never allocates.
    void Write(std::string_view chunk);
    // Lets through whatever is held back, as at the end of the process.
    void Flush();

  private:
    enum class State { LineStart, Passing, Dropping };
    enum class Verdict { Debug, Other, Undecided };

    void take(std::string_view piece, bool endsLine);
    void judge(std::string_view piece, bool endsLine);
    static Verdict verdict(std::string_view line, bool endsLine);
    bool hold(std::string_view piece);

    Pass m_pass;
    State m_state = State::LineStart;
    // PortAudio's longest line is about 350 characters.
    char m_held[1024];
    std::size_t m_heldLength = 0;
};
