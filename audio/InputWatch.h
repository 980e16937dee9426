// Tells when captured blocks stop coming while the input is open, and when
// they come again: the window and the command line say so rather than show
// the last block as if it were live.
#pragma once

#include <chrono>
#include <optional>
#include <string>

class InputWatch {
  public:
    using Clock = std::chrono::steady_clock;
    // About five block times: longer than any pause of a running stream.
    static constexpr std::chrono::seconds StallLimit{1};
    // Before the first block of an opened input: a sound server just started
    // takes about 2 s to deliver its first capture.
    static constexpr std::chrono::seconds FirstBlockLimit{5};

    // The input was opened at `opened`.
    explicit InputWatch(Clock::time_point opened = Clock::now()) : m_waitFrom(opened) {}

    // The input's stream was opened (again) at `at`: until its first block
    // the wait counts from there, under FirstBlockLimit. An open that a
    // block followed, or one while the first block of an earlier open is
    // still awaited, changes nothing: a stream that is opened again and
    // again without delivering stays bounded by the first of them.
    void InputOpened(Clock::time_point at);
    // A block was handed over. When the input had stopped, returns how long
    // it was gone (from the last block before the stop, or from the open
    // when none had come).
    std::optional<Clock::duration> BlockArrived(Clock::time_point now = Clock::now());
    // True once, when no block has come for the limit that applies.
    bool CheckStalled(Clock::time_point now = Clock::now());
    bool Stalled() const { return m_stalled; }
    // How long the input has been without a block: since the last one, or
    // since the open whose first block is awaited.
    Clock::duration Waiting(Clock::time_point now = Clock::now()) const { return now - m_waitFrom; }

    // The lines for standard error: the stop line names the limit that was
    // passed at the last stop.
    std::string StoppedLine() const;
    static std::string ResumedLine(Clock::duration gone);

  private:
    Clock::time_point m_waitFrom;
    std::optional<Clock::time_point> m_lastBlock;
    bool m_awaitingFirstBlock = true;
    bool m_stalled = false;
    bool m_stoppedBeforeFirstBlock = false;
    Clock::time_point m_goneSince;
};
