// Marks the code a sound card runs on its audio thread, where nothing may
// allocate, lock or wait; the tests that check this count what happens while
// the mark is set.
#pragma once

namespace platform {

inline thread_local bool InAudioCallback = false;

class AudioCallbackScope {
  public:
    AudioCallbackScope() { InAudioCallback = true; }
    ~AudioCallbackScope() { InAudioCallback = false; }
    AudioCallbackScope(const AudioCallbackScope&) = delete;
    AudioCallbackScope& operator=(const AudioCallbackScope&) = delete;
};

} // namespace platform
