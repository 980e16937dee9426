// A prepared signal that the playback thread plays once in place of the tone:
// silence for a lead-in, the signal, silence for a margin, and then the tone
// again at its frequency and level. The samples stay the requester's and are
// never copied but into the playback buffers; the requester keeps them until
// Finish() returns. One signal at a time.
//
// The requester queues it and posts WM_PLAY_SIGNAL to the playback thread,
// which takes it with the message and lets go of the samples once the last
// one is in a playback buffer (or it stops early, or ends).
#pragma once

#include "platform/ThreadIdentity.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

class SignalPlayback {
  public:
    struct Program {
        static constexpr int EveryChannel = -1;

        std::span<const std::int16_t> samples;
        std::size_t leadInFrames = 0; // silence before the signal
        std::size_t marginFrames = 0; // silence after it
        // The output channel it plays on (0: the first), the others silent
        // meanwhile; or all of them.
        int channel = EveryChannel;
    };

    // The requester's side, from one thread.

    // False, and nothing changes, while another signal is queued or playing.
    bool Queue(const Program& program);
    // Returns once the playback thread is done with the samples: at once when
    // it has them in its buffers already, or never took them; otherwise it
    // is told through WM_STOP_SIGNAL to go back to the tone now, and waited
    // for. The next signal may be queued then.
    void Finish(const ThreadIdentity& player);
    // The input's position at which the signal's first sample was played
    // (see platform::HeaderInputPosition), once the playback buffer that
    // held it has come back.
    std::optional<std::uint64_t> StartPosition() const;

    // The playback thread's side.

    // The queued signal, taken for playing, and its number; false when
    // there is none.
    bool Take(Program& program, std::uint64_t& number);
    // Where the signal of that number started. A signal played before the
    // queued one says nothing about it.
    void Started(std::uint64_t number, std::uint64_t inputPosition);
    // The samples are read no more.
    void LetGo();

  private:
    enum class State { Idle, Queued, Playing, Played };

    std::atomic<State> m_state{State::Idle};
    Program m_program;                      // the requester's while Idle, then read-only
    std::atomic<std::uint64_t> m_number{0}; // of the signal queued last
    std::atomic<std::uint64_t> m_startedNumber{0};
    std::atomic<std::uint64_t> m_startPosition{0};
};
