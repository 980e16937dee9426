// The sound server that .ci/pulse-start runs for the tests of the system
// sound card, and taking turns with it.
#pragma once

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

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
// cases that use it take turns, across processes (ctest runs them in
// parallel).
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
