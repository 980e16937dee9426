// A sound server that dies under a running program and comes back: the
// program says so within 2 s, never hangs, resumes by itself within 5 s of
// the server's return and ends promptly in every state. Each case runs a
// PulseAudio server of its own (.ci/pulse-start in a folder of the case's), so
// killing it disturbs no other test.
#include "tests/harness/ProcessRun.h"
#include "tests/harness/ScopedEnvironment.h"
#include "tests/harness/SoundServer.h"
#include "tests/harness/TestPaths.h"
#include "tests/harness/ToneLevel.h"

#include <gtest/gtest.h>

#include <signal.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <optional>
#include <sstream>
#include <thread>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Under LeakSanitizer a process scans its memory when it exits, which takes
// seconds of the scan's own.
#ifdef TEMBRIX_SANITIZED
constexpr double EndLimitSeconds = 10;
#else
constexpr double EndLimitSeconds = 2;
#endif

constexpr const char* StopLine = "tembrix: audio input stopped: no block for 1 s\n";
constexpr const char* ResumeLine = "tembrix: audio input resumed after ";

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// The seconds from `start` until `done` holds, or nothing within `limit`.
std::optional<double> SecondsUntil(Clock::time_point start, std::chrono::seconds limit,
                                   const std::function<bool()>& done) {
    while (Clock::now() - start < limit) {
        if (done())
            return SecondsSince(start);
        std::this_thread::sleep_for(20ms);
    }
    return std::nullopt;
}

std::string Quoted(const std::string& text) {
    return "'" + text + "'";
}

// A PulseAudio server as .ci/pulse-start runs it, in a folder of its own that
// becomes XDG_RUNTIME_DIR for the program under test.
class PrivateSoundServer {
  public:
    PrivateSoundServer()
        : m_runtime(m_directory / "server"), m_environment("XDG_RUNTIME_DIR", m_runtime) {}
    ~PrivateSoundServer() { script("pulse-stop"); }
    PrivateSoundServer(const PrivateSoundServer&) = delete;
    PrivateSoundServer& operator=(const PrivateSoundServer&) = delete;

    bool Start() { return script("pulse-start") == 0; }

    // As a crash or `kill -9` ends it: clients learn of it only from their
    // connection.
    void Kill() {
        const std::string pid = ReadWholeFile(std::filesystem::path(m_runtime) / "pulse/pid");
        if (const int number = std::atoi(pid.c_str()); number > 0)
            ::kill(number, SIGKILL);
    }

    // The RMS of half a second from the default sink's monitor, in dB re a
    // full-scale sine; -inf for silence, NAN when nothing could be recorded.
    double MonitorLevelDb() const {
        constexpr int Samples = 22050;
        const std::string command = "XDG_RUNTIME_DIR=" + Quoted(m_runtime) +
                                    " timeout 10 parec -d loop.monitor --raw --format=s16le "
                                    "--channels=1 --rate=44100 --latency-msec=20 2>/dev/null";
        FILE* pipe = ::popen(command.c_str(), "r");
        if (pipe == nullptr)
            return NAN;
        std::vector<std::int16_t> samples(Samples);
        const std::size_t read = std::fread(samples.data(), sizeof samples[0], Samples, pipe);
        ::pclose(pipe);
        if (read < Samples)
            return NAN;
        double sum = 0;
        for (std::int16_t sample : samples)
            sum += double(sample) * sample;
        return 10 * std::log10(sum / Samples / (0.5 * 32768.0 * 32768.0));
    }

  private:
    int script(const char* name) const {
        // Appended piece by piece: GCC 12 sees a false out-of-bounds copy in
        // the one expression for some lengths of the checkout's path.
        std::string path = TEMBRIX_CI_DIR;
        path += '/';
        path += name;
        std::string command = "TEMBRIX_PULSE_DIR=" + Quoted(m_runtime);
        command += ' ';
        command += Quoted(path);
        command += " >/dev/null 2>&1";
        return std::system(command.c_str());
    }

    ScratchDirectory m_directory;
    std::string m_runtime;
    ScopedEnvironment m_environment;
};

// The program, started with the time of its start kept, so that waits can
// be bounded from any moment.
struct Program {
    explicit Program(const std::vector<std::string>& args) : process(args) {}
    // How often it has said `line` on standard error so far.
    int timesSaid(const char* line) const {
        const std::string err = process.ErrorSoFar();
        int times = 0;
        for (auto at = err.find(line); at != std::string::npos; at = err.find(line, at + 1))
            ++times;
        return times;
    }
    bool stalled() const { return timesSaid(StopLine) > timesSaid(ResumeLine); }
    // Sends SIGTERM and waits; the seconds it took to end.
    double Terminate(ProcessEnd& end) {
        const Clock::time_point sent = Clock::now();
        process.Signal(SIGTERM);
        end = process.Wait(
            std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - started) + 30s);
        return SecondsSince(sent);
    }
    Clock::time_point started = Clock::now();
    TembrixProcess process;
};

const std::vector<std::string> Window = {"-platform", "offscreen", "--audio=system"};

// The program has had time to open its devices and blocks flow. A server just
// started may keep the first blocks back for over a second, which the program
// rightly reports as a stall, and then as resumed.
void LetBlocksFlow(const Program& run) {
    std::this_thread::sleep_for(3s);
    ASSERT_TRUE(SecondsUntil(run.started, 30s, [&] { return !run.stalled(); }))
        << run.process.ErrorSoFar();
}

// Kills the server and returns the seconds until the program says so.
double KillAndDetect(PrivateSoundServer& server, const Program& run) {
    const int stopsBefore = run.timesSaid(StopLine);
    const Clock::time_point killed = Clock::now();
    server.Kill();
    const std::optional<double> detected =
        SecondsUntil(killed, 30s, [&] { return run.timesSaid(StopLine) > stopsBefore; });
    EXPECT_TRUE(detected) << "no stop line: " << run.process.ErrorSoFar();
    EXPECT_LE(detected.value_or(0), 2.0);
    testing::Test::RecordProperty("seconds_to_detect", std::to_string(detected.value_or(NAN)));
    return detected.value_or(NAN);
}

// Starts the server again and returns the seconds until blocks flow.
double RestartAndResume(PrivateSoundServer& server, const Program& run) {
    const Clock::time_point restarted = Clock::now();
    EXPECT_TRUE(server.Start());
    const std::optional<double> resumed =
        SecondsUntil(restarted, 60s, [&] { return !run.stalled(); });
    EXPECT_TRUE(resumed) << "no resume line: " << run.process.ErrorSoFar();
    EXPECT_LE(resumed.value_or(0), 5.0);
    testing::Test::RecordProperty("seconds_to_resume", std::to_string(resumed.value_or(NAN)));
    return resumed.value_or(NAN);
}

void ExpectEndedPromptly(Program& run) {
    ProcessEnd end;
    const double seconds = run.Terminate(end);
    EXPECT_FALSE(end.killedAfterLimit);
    EXPECT_EQ(end.signal, 0) << end.err;
    EXPECT_LT(seconds, EndLimitSeconds) << "to end after SIGTERM";
    testing::Test::RecordProperty("seconds_to_end", std::to_string(seconds));
}

class StallResumeTest : public testing::Test {
  protected:
    void SetUp() override {
        REQUIRE_SOUND_SERVER(m_server.Start(),
                             "no PulseAudio server could be started with .ci/pulse-start");
    }
    PrivateSoundServer m_server;
};

TEST_F(StallResumeTest, TheWindowSaysWhenAudioStopsAndEndsPromptlyWhileStalled) {
    Program run(Window);
    LetBlocksFlow(run);
    KillAndDetect(m_server, run);
    // Past the dead-stream limit: the streams are closed and reopening is tried.
    std::this_thread::sleep_for(2s);
    ExpectEndedPromptly(run);
}

TEST_F(StallResumeTest, TheWindowResumesByItselfWithItsToneWhenTheServerComesBack) {
    Program run(Window);
    LetBlocksFlow(run);
    KillAndDetect(m_server, run);
    std::this_thread::sleep_for(2s);
    RestartAndResume(m_server, run);
    // The window's start tone, at full scale.
    EXPECT_NEAR(m_server.MonitorLevelDb(), 0, 0.5);
    // ALSA's and JACK's own diagnostics about the dead server stay silent.
    std::istringstream lines(run.process.ErrorSoFar());
    for (std::string line; std::getline(lines, line);) {
        EXPECT_FALSE(line.starts_with("ALSA lib")) << line;
        EXPECT_FALSE(line.starts_with("Cannot connect to server")) << line;
    }
    ExpectEndedPromptly(run);
}

TEST_F(StallResumeTest, TheWindowEndsPromptlyWhileItReopensTheDevices) {
    Program run(Window);
    LetBlocksFlow(run);
    KillAndDetect(m_server, run);
    ASSERT_TRUE(m_server.Start());
    ExpectEndedPromptly(run);
}

// A spectrum of 60 blocks (about 11 s of audio) across a stall of a few
// seconds: the blocks after the stall complete it, at the tone's level.
TEST_F(StallResumeTest, ASpectrumStartedBeforeTheStallFinishesAtTheTonesLevel) {
    ScratchDirectory directory;
    const auto csv = directory / "spectrum.csv";
    Program run(
        {"spectrum", "--audio=system", "--level=-20", "--blocks=60", "--csv=" + csv.string()});
    LetBlocksFlow(run);
    KillAndDetect(m_server, run);
    std::this_thread::sleep_for(2s);
    RestartAndResume(m_server, run);

    const ProcessEnd end = run.process.Wait(120s);
    ASSERT_EQ(end.status, 0) << end.err;
    EXPECT_GE(run.timesSaid(StopLine), 1) << end.err;
    EXPECT_EQ(run.timesSaid(ResumeLine), run.timesSaid(StopLine)) << end.err;
    const double levelDb = ToneLevelDb(ReadWholeFile(csv), StartToneHz);
    EXPECT_NEAR(levelDb, Minus20dBToneDb, 0.05);
    RecordProperty("tone_re_its_level_db", std::to_string(levelDb - Minus20dBToneDb));
}

TEST_F(StallResumeTest, AMeasurementWithoutAudioFor10sEndsWithStatus4) {
    Program run({"spectrum", "--audio=system", "--blocks=1000"});
    LetBlocksFlow(run);
    const Clock::time_point killed = Clock::now();
    KillAndDetect(m_server, run);
    const ProcessEnd end = run.process.Wait(120s);
    const double seconds = SecondsSince(killed);
    EXPECT_FALSE(end.killedAfterLimit);
    EXPECT_EQ(end.status, 4) << end.err;
    // Counted from the last block, which came up to a block's time before the
    // kill.
    EXPECT_GE(seconds, 9.5);
    EXPECT_LT(seconds, 30.0);
    RecordProperty("seconds_to_give_up", std::to_string(seconds));
}

} // namespace
