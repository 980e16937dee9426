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

    explicit InputWatch(Clock::time_point opened = Clock::now()) : m_lastBlock(opened) {}

    // A block was handed over. When the input had stopped, returns how long
    // it was gone (from the last block before the stop).
    std::optional<Clock::duration> BlockArrived(Clock::time_point now = Clock::now());
    // True once, when no block has come for StallLimit.
    bool CheckStalled(Clock::time_point now = Clock::now());
    bool Stalled() const { return m_stalled; }

    // The lines for standard error.
    static std::string StoppedLine();
    static std::string ResumedLine(Clock::duration gone);

  private:
    Clock::time_point m_lastBlock;
    bool m_stalled = false;
};
