// A PulseAudio server as .ci/pulse-start runs it, in a folder of its own that
// becomes XDG_RUNTIME_DIR for the program under test: a case may kill it, or
// play through it for minutes, without disturbing any other test's server. A
// desktop's PULSE_SERVER would lead the recordings here elsewhere.
#pragma once

#include "tests/harness/ProcessRun.h"
#include "tests/harness/ScopedEnvironment.h"

#include <string>

class PrivateSoundServer {
  public:
    PrivateSoundServer();
    ~PrivateSoundServer();
    PrivateSoundServer(const PrivateSoundServer&) = delete;
    PrivateSoundServer& operator=(const PrivateSoundServer&) = delete;

    bool Start();

    // As a crash or `kill -9` ends it: clients learn of it only from their
    // connection.
    void Kill();

    // Stalls it (SIGSTOP): it holds its connections but answers nothing,
    // until Resume (SIGCONT).
    void Pause();
    void Resume();

    // A client of the server records: the program has opened its input.
    bool HasRecordingClient() const;

    // The RMS of half a second from the default sink's monitor, in dB re a
    // full-scale sine; -inf for silence, NAN when nothing could be recorded.
    double MonitorLevelDb() const;

  private:
    int script(const char* name) const;
    void signal(int number) const;

    ScratchDirectory m_directory;
    std::string m_runtime;
    ScopedEnvironment m_environment;
    ScopedEnvironment m_noOtherServer{"PULSE_SERVER", std::nullopt};
};
