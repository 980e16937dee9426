// Asks, off the caller's thread, what the sound server between the
// instrument and the card does to our streams (see measure/AudioPath.h). A
// stalled server holds up neither the window nor a measurement: its answer
// is given up on after AnswerLimit.
#pragma once

#include "measure/AudioPath.h"
#include "platform/BuildSpeed.h"

#include <chrono>
#include <future>
#include <optional>

namespace audio {

class AudioPathCheck {
  public:
    // How long the server is given: it answers within milliseconds.
    static constexpr std::chrono::milliseconds AnswerLimit{1500 * platform::BuildSlowdown};

    // Call while both streams run, so that the server holds them: the
    // devices the card opened, then the server if they may go through one.
    void Start();
    bool Started() const { return m_started; }
    // The path once known, once; nothing before that, or after.
    std::optional<AudioPath> Take();
    // The same, waiting for it (at most the limit); nothing when the check
    // was not started or the path was taken already.
    std::optional<AudioPath> TakeWaiting();

  private:
    bool m_started = false;
    std::future<AudioPath> m_path;
    std::chrono::steady_clock::time_point m_giveUpAt;
};

} // namespace audio
