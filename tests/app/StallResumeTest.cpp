// A sound server that dies under a running program and comes back: the
// program says so within 2 s, never hangs, resumes by itself within 5 s of
// the server's return and ends promptly in every state. Each case runs a
// PulseAudio server of its own (.ci/pulse-start in a folder of the case's), so
// killing it disturbs no other test.
#include "tests/harness/PrivateSoundServer.h"
#include "tests/harness/ProcessRun.h"
#include "tests/harness/ScopedEnvironment.h"
#include "tests/harness/SoundServer.h"
#include "tests/harness/TestPaths.h"
#include "tests/harness/ToneLevel.h"

#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <optional>
#include <sstream>
#include <thread>
#include <vector>

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

// Either limit's: 1 s after the last block, 5 s after an open.
constexpr const char* StopLine = "tembrix: audio input stopped: ";
constexpr const char* ResumeLine = "tembrix: audio input resumed after ";

// How the audio libraries' own lines start, as --verbose shows them when a
// server goes away: ALSA's, JACK's and PortAudio's.
constexpr const char* LibraryLineStarts[] = {
    "ALSA lib ", "Cannot connect to server", "jack server", "JackShm", "Expression '",
};

// The lines of the audio libraries that reached standard error.
std::vector<std::string> LibraryLines(const std::string& err) {
    std::vector<std::string> found;
    std::istringstream lines(err);
    for (std::string line; std::getline(lines, line);) {
        for (const char* start : LibraryLineStarts) {
            if (line.starts_with(start))
                found.push_back(line);
        }
    }
    return found;
}

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

// The program has opened its devices, which may take seconds in a sanitizer
// build, and blocks flow: a server just started takes about 2 s for its
// first capture.
void LetBlocksFlow(const PrivateSoundServer& server, const Program& run) {
    ASSERT_TRUE(SecondsUntil(run.started, 60s, [&] { return server.HasRecordingClient(); }))
        << run.process.ErrorSoFar();
    std::this_thread::sleep_for(3s);
    ASSERT_TRUE(SecondsUntil(run.started, 60s, [&] { return !run.stalled(); }))
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
    std::vector<std::string> verbose = Window;
    verbose.push_back("--verbose");
    Program run(verbose);
    LetBlocksFlow(m_server, run);
    KillAndDetect(m_server, run);
    // Past the dead-stream limit: the streams are closed and reopening is tried.
    std::this_thread::sleep_for(2s);
    ExpectEndedPromptly(run);
    // --verbose lets the libraries' lines through, PortAudio's among them.
    const std::string err = run.process.ErrorSoFar();
    const std::vector<std::string> library = LibraryLines(err);
    EXPECT_TRUE(std::any_of(library.begin(), library.end(), [](const std::string& line) {
        return line.starts_with("Expression '");
    })) << err;
}

TEST_F(StallResumeTest, TheWindowResumesByItselfWithItsToneWhenTheServerComesBack) {
    Program run(Window);
    LetBlocksFlow(m_server, run);
    KillAndDetect(m_server, run);
    std::this_thread::sleep_for(2s);
    RestartAndResume(m_server, run);
    // The window's start tone, at full scale.
    EXPECT_NEAR(m_server.MonitorLevelDb(), 0, 0.5);
    ExpectEndedPromptly(run);
    // The audio libraries' own diagnostics about the dead server stay silent.
    EXPECT_EQ(LibraryLines(run.process.ErrorSoFar()), std::vector<std::string>{});
}

TEST_F(StallResumeTest, TheWindowEndsPromptlyWhileItReopensTheDevices) {
    Program run(Window);
    LetBlocksFlow(m_server, run);
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
    LetBlocksFlow(m_server, run);
    KillAndDetect(m_server, run);
    std::this_thread::sleep_for(2s);
    RestartAndResume(m_server, run);

    const ProcessEnd end = run.process.Wait(120s);
    ASSERT_EQ(end.status, 0) << end.err;
    // Not at the start: the server's first capture is within the grace.
    EXPECT_EQ(run.timesSaid(StopLine), 1) << end.err;
    EXPECT_EQ(run.timesSaid(ResumeLine), 1) << end.err;
    EXPECT_EQ(LibraryLines(end.err), std::vector<std::string>{});
    const double levelDb = ToneLevelDb(ReadWholeFile(csv), StartToneHz);
    EXPECT_NEAR(levelDb, Minus20dBToneDb, 0.05);
    RecordProperty("tone_re_its_level_db", std::to_string(levelDb - Minus20dBToneDb));
}

TEST_F(StallResumeTest, AMeasurementWithoutAudioFor10sEndsWithStatus4) {
    Program run({"spectrum", "--audio=system", "--blocks=1000"});
    LetBlocksFlow(m_server, run);
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
