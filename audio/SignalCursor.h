// Where the playback thread stands in a signal it plays once: the lead-in's
// silence, the signal, the margin's silence. Playback thread only.
#pragma once

#include "audio/SignalPlayback.h"

#include <cstddef>
#include <cstdint>
#include <optional>

class SignalCursor {
  public:
    void Start(const SignalPlayback::Program& program);
    void Stop() { m_active = false; }
    // Until the margin's last frame is written.
    bool Active() const { return m_active; }

    struct Filled {
        std::size_t frames = 0; // written from the buffer's start; the rest is the tone's
        // Where among them the signal's first sample lies, if it does.
        std::optional<std::size_t> signalStart;
        bool signalWritten = false; // its last sample is written: the samples are needed no more
    };
    // Writes the next frames, up to `count`, of `channels` interleaved
    // samples each.
    Filled Fill(std::int16_t* buffer, std::size_t count, int channels = 1);

  private:
    SignalPlayback::Program m_program;
    std::size_t m_frame = 0; // of the lead-in, signal and margin, written so far
    bool m_active = false;
};
