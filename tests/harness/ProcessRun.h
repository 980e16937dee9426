// The program run as its own process, as from a shell without a display:
// DISPLAY, WAYLAND_DISPLAY and QT_QPA_PLATFORM are taken out of its
// environment, so that a dependency on a screen shows, and PULSE_SERVER, so
// that it reaches the sound server of the tests ($XDG_RUNTIME_DIR) rather than
// a desktop's; its standard output and error are captured. A run that
// outlives its limit is killed, so that a hang fails the test instead of
// stalling it.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

// A fresh directory under the system's temporary one, removed with its
// contents.
class ScratchDirectory {
  public:
    ScratchDirectory();
    ~ScratchDirectory();
    ScratchDirectory(const ScratchDirectory&) = delete;
    ScratchDirectory& operator=(const ScratchDirectory&) = delete;

    std::filesystem::path operator/(const char* name) const { return m_path / name; }

  private:
    std::filesystem::path m_path;
};

// The whole file, or "" when there is none.
std::string ReadWholeFile(const std::filesystem::path& path);

struct ProcessEnd {
    int status = -1; // the exit status, when it exited
    int signal = 0;  // the signal that ended it instead
    bool killedAfterLimit = false;
    std::string out; // standard output
    std::string err; // standard error
};

// One of the child's standard descriptors set up otherwise than standard
// input from /dev/null and the outputs captured.
struct ChildDescriptor {
    int number;       // 0, 1 or 2
    std::string path; // opened on this file, for reading if 0, else writing
    int source = -1;  // or a duplicate of this descriptor of the test's

    static ChildDescriptor Closed(int number) { return {number, "", -1}; }
    static ChildDescriptor OnFile(int number, std::string path) { return {number, path, -1}; }
    static ChildDescriptor CopyOf(int number, int source) { return {number, "", source}; }
};

class TembrixProcess {
  public:
    // Starts `tembrix ARGS...` with standard input from /dev/null and
    // `descriptors` in place of those defaults.
    explicit TembrixProcess(const std::vector<std::string>& args,
                            const std::vector<ChildDescriptor>& descriptors = {});
    // Kills the process if it still runs.
    ~TembrixProcess();
    TembrixProcess(const TembrixProcess&) = delete;
    TembrixProcess& operator=(const TembrixProcess&) = delete;

    bool started() const { return m_pid > 0; }
    void Signal(int signal) const;
    // What it has written to standard error so far.
    std::string ErrorSoFar() const;
    // Waits for the end; kills the process when it has run for `limit`.
    ProcessEnd Wait(std::chrono::seconds limit);

  private:
    ScratchDirectory m_output;
    pid_t m_pid = -1;
    std::chrono::steady_clock::time_point m_started;
};

ProcessEnd RunTembrix(const std::vector<std::string>& args,
                      std::chrono::seconds limit = std::chrono::seconds(120),
                      const std::vector<ChildDescriptor>& descriptors = {});
