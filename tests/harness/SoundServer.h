// The sound server that .ci/pulse-start runs for the tests of the system
// sound card, and taking turns with it.
#pragma once

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string_view>

// In CI (CI=true) every server a case needs has been started for it.
inline bool runningInCi() {
    const char* ci = std::getenv("CI");
    return ci != nullptr && std::string_view(ci) == "true";
}

// A case that needs a sound server skips without one on a developer's
// machine, saying why; in CI a missing server fails it instead, so that it
// cannot pass unseen. `available` is evaluated once.
#define REQUIRE_SOUND_SERVER(available, why)                                                       \
    do {                                                                                           \
        if (!(available)) {                                                                        \
            if (runningInCi())                                                                     \
                FAIL() << why;                                                                     \
            GTEST_SKIP() << why;                                                                   \
        }                                                                                          \
    } while (false)

inline bool soundServerReachable() {
    const char* runtimeDir = std::getenv("XDG_RUNTIME_DIR");
    return runtimeDir != nullptr &&
           std::filesystem::is_socket(std::filesystem::path(runtimeDir) / "pulse" / "native");
}

constexpr const char* NoSoundServer = "no PulseAudio server at $XDG_RUNTIME_DIR/pulse/native; "
                                      "start one with: eval \"$(.ci/pulse-start)\"";

// A PipeWire server whose PulseAudio service is the sound server above, as
// .ci/pipewire-start runs it.
inline bool pipeWireServerReachable() {
    const char* runtimeDir = std::getenv("XDG_RUNTIME_DIR");
    return soundServerReachable() &&
           std::filesystem::is_socket(std::filesystem::path(runtimeDir) / "pipewire-0");
}

constexpr const char* NoPipeWireServer =
    "no PipeWire server at $XDG_RUNTIME_DIR/pipewire-0 with its PulseAudio service; "
    "start one with: eval \"$(.ci/pipewire-start)\"";

// Whatever any process plays reaches every recording from the server, so the
// cases that use it take turns. ctest schedules them one at a time already
// (RESOURCE_LOCK); this lock guards runs by hand, across processes.
class SoundServerTurn {
  public:
    SoundServerTurn() {
        const auto path =
            std::filesystem::path(std::getenv("XDG_RUNTIME_DIR")) / "tembrix-audio.lock";
        m_file = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (m_file >= 0)
            ::flock(m_file, LOCK_EX);
    }
    ~SoundServerTurn() {
        if (m_file >= 0)
            ::close(m_file);
    }
    SoundServerTurn(const SoundServerTurn&) = delete;
    SoundServerTurn& operator=(const SoundServerTurn&) = delete;

  private:
    int m_file = -1;
};
