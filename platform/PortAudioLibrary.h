// PortAudio's library-wide state, shared by the system card and the device
// listing. PortAudio may not be initialised, terminated, listed or have a
// stream opened or closed from two threads at once, so all of that happens
// under one lock. Whatever may wait on a sound server runs off the caller's
// thread (RunBounded), so that only those threads ever wait on the lock.
#pragma once

#include "platform/AudioDevices.h"

#include <portaudio.h>

#include <chrono>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

namespace platform {

class PortAudioLock {
  public:
    PortAudioLock();

  private:
    std::lock_guard<std::mutex> m_lock;
};

// The caller holds a PortAudioLock. Initialising routes the libraries'
// messages first; each successful initialisation needs one termination.
PaError InitialisePortAudio();
void TerminatePortAudio();

// The device as the listing shows it; nothing when PortAudio has no such
// device or no host API for it. The caller holds PortAudio initialised.
std::optional<AudioDeviceInfo> DescribeAudioDevice(PaDeviceIndex index);

// PortAudio's words for an error, with the host's when it has them.
std::string DescribePortAudioError(PaError error);

// Runs `job` on a thread of its own and waits for it at most `limit`: with
// its sound server stalled, PortAudio may not return for half a minute.
// False when the job has not finished in time; it then goes on by itself and
// must release whatever it takes.
bool RunBounded(const std::function<void()>& job, std::chrono::milliseconds limit);

} // namespace platform
