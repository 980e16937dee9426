// What the program says of the sound server between it and the card, on a
// PulseAudio server of each case's own (so that a volume set here reaches no
// other test), and on the PipeWire server of .ci/pipewire-start.
#include "tests/harness/PrivateSoundServer.h"
#include "tests/harness/ProcessRun.h"
#include "tests/harness/ScopedEnvironment.h"
#include "tests/harness/SoundServer.h"

#include "platform/SoundServerQuery.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <sstream>
#include <string>
#include <thread>

namespace {

using namespace std::chrono_literals;
using testing::ContainsRegex;
using testing::HasSubstr;
using testing::Not;

const std::vector<std::string> ShortSpectrum = {"spectrum", "--audio=system", "--blocks=3"};

// The one line the run printed about its audio path.
std::string AudioPathLineOf(const ProcessEnd& end) {
    std::istringstream lines(end.err);
    std::string found;
    for (std::string line; std::getline(lines, line);) {
        if (line.starts_with("Audio path: ")) {
            EXPECT_EQ(found, "") << "said twice:\n" << end.err;
            found = line;
        }
    }
    return found;
}

std::string RunAndTell(const std::vector<std::string>& args) {
    const ProcessEnd end = RunTembrix(args, 60s);
    EXPECT_EQ(end.status, 0) << end.err;
    return AudioPathLineOf(end);
}

bool Pactl(const std::string& arguments) {
    return std::system(("timeout 10 pactl " + arguments + " >/dev/null 2>&1").c_str()) == 0;
}

class AudioPathTest : public testing::Test {
  protected:
    void SetUp() override {
        REQUIRE_SOUND_SERVER(m_server.Start(),
                             "no PulseAudio server could be started with .ci/pulse-start");
    }
    PrivateSoundServer m_server;
};

// libpulse's own debug lines, which PULSE_LOG=4 asks for, stay off standard
// error without --verbose.
TEST_F(AudioPathTest, TheServerItsVersionAndTheRateAreSaidWithNothingFlagged) {
    ScopedEnvironment debug("PULSE_LOG", "4");
    const ProcessEnd end = RunTembrix(ShortSpectrum, 60s);
    ASSERT_EQ(end.status, 0) << end.err;
    EXPECT_THAT(AudioPathLineOf(end),
                ContainsRegex("^Audio path: PulseAudio [0-9]+\\.[0-9]+, sink \"loop\" 44100 Hz "
                              "s16le 2ch, source \"loop.monitor\" 44100 Hz s16le 2ch; no "
                              "resampling or remixing, volumes 0.00 dB$"));
    EXPECT_THAT(end.err, Not(HasSubstr("Trying to connect to")));
}

// The report's loop check names the volume too: its level is 18 dB low,
// within the check's margin, and the report would measure it as the card's.
// Only the start of the report is needed.
TEST_F(AudioPathTest, ASinkAtHalfVolumeIsSaidInDecibelsAndNamedByTheLoopCheck) {
    ASSERT_TRUE(Pactl("set-sink-volume loop 50%"));
    TembrixProcess report({"report", "--audio=system"});
    const auto giveUp = std::chrono::steady_clock::now() + 30s;
    while (report.ErrorSoFar().find("Frequency response") == std::string::npos &&
           std::chrono::steady_clock::now() < giveUp)
        std::this_thread::sleep_for(50ms);
    report.Signal(SIGINT);
    const ProcessEnd end = report.Wait(30s);
    Pactl("set-sink-volume loop 100%");
    const std::string line = AudioPathLineOf(end);
    EXPECT_THAT(line, HasSubstr("; sink volume -18.06 dB (50 %): the gain measured includes it"));
    EXPECT_THAT(line, Not(HasSubstr("resampling")));
    EXPECT_THAT(end.err, ContainsRegex("tembrix: loop check: the tone came back at -38\\.[0-9]+ "
                                       "dBFS, played at -20 dBFS, through the sound server's sink "
                                       "volume -18\\.06 dB \\(50 %\\)"));
}

// --quiet keeps a clear path to itself, never a flagged one.
TEST_F(AudioPathTest, ASinkAt48kHzIsFlaggedAsResamplingEvenWhenQuiet) {
    ScopedEnvironment sink("PULSE_SINK", "loop48");
    ScopedEnvironment source("PULSE_SOURCE", "loop48.monitor");
    // What the response makes of the resampler is not looked at here.
    const ProcessEnd end = RunTembrix({"response", "--audio=system", "--quiet"}, 60s);
    const std::string line = AudioPathLineOf(end);
    EXPECT_THAT(line, HasSubstr("sink \"loop48\" 48000 Hz"));
    EXPECT_THAT(line, HasSubstr("source \"loop48.monitor\" 48000 Hz"));
    EXPECT_THAT(line, HasSubstr("; resampling"));
    EXPECT_THAT(line, HasSubstr("the figures above about 15 kHz describe the server's "
                                "resampler, not the card"));
}

// Asking never starts a server, and a stalled one holds the asker up for
// the limit only.
TEST_F(AudioPathTest, AnAbsentOrStalledServerIsNoAnswerWithinTheLimit) {
    {
        ScratchDirectory empty;
        ScopedEnvironment runtime("XDG_RUNTIME_DIR", (empty / "").string());
        const platform::SoundServerAnswer answer = platform::AskSoundServer(1000ms);
        EXPECT_EQ(answer.outcome, platform::SoundServerAnswer::Outcome::NoServer);
        EXPECT_FALSE(std::filesystem::exists(empty / "pulse/native"));
    }
    m_server.Pause();
    const auto asked = std::chrono::steady_clock::now();
    const platform::SoundServerAnswer answer = platform::AskSoundServer(1000ms);
    const auto took = std::chrono::steady_clock::now() - asked;
    m_server.Resume();
    EXPECT_EQ(answer.outcome, platform::SoundServerAnswer::Outcome::NoAnswer);
    EXPECT_LT(took, 5s); // a hang, not a speed, is what fails here
}

// PipeWire's PulseAudio service answers for it.
class PipeWireAudioPathTest : public testing::Test {
  protected:
    void SetUp() override {
        REQUIRE_SOUND_SERVER(pipeWireServerReachable(), NoPipeWireServer);
        m_turn.emplace();
    }
    std::optional<SoundServerTurn> m_turn;
};

TEST_F(PipeWireAudioPathTest, TheServerAndItsRatesAreSaid) {
    const std::string line = RunAndTell(ShortSpectrum);
    EXPECT_THAT(line, ContainsRegex("^Audio path: PipeWire [0-9.]+, sink \"loop\" 44100 Hz"));
    EXPECT_THAT(line,
                HasSubstr("no resampling or remixing at the sink and source, volumes 0.00 dB"));
}

TEST_F(PipeWireAudioPathTest, ASinkAtHalfVolumeIsSaidInDecibels) {
    ASSERT_TRUE(Pactl("set-sink-volume loop 50%"));
    const std::string line = RunAndTell(ShortSpectrum);
    Pactl("set-sink-volume loop 100%");
    EXPECT_THAT(line, HasSubstr("; sink volume -18.06 dB (50 %): the gain measured includes it"));
}

// The service shows sinks at their own rates, not the graph's (a graph
// forced to 48 kHz with clock.force-rate is not seen): a sink of its own
// at 48 kHz, taken away again.
TEST_F(PipeWireAudioPathTest, ASinkAt48kHzIsFlaggedAsResampling) {
    FILE* loaded = ::popen("timeout 10 pactl load-module module-null-sink sink_name=loop48 "
                           "rate=48000 2>/dev/null",
                           "r");
    ASSERT_NE(loaded, nullptr);
    char module[32] = {};
    const bool read = std::fgets(module, sizeof module, loaded) != nullptr;
    ::pclose(loaded);
    ASSERT_TRUE(read) << "pactl could not load a 48 kHz null sink";
    std::string line;
    {
        ScopedEnvironment sink("PULSE_SINK", "loop48");
        ScopedEnvironment source("PULSE_SOURCE", "loop48.monitor");
        line = RunAndTell(ShortSpectrum);
    }
    Pactl("unload-module " + std::to_string(std::atol(module)));
    EXPECT_THAT(line, HasSubstr("sink \"loop48\" 48000 Hz"));
    EXPECT_THAT(line, HasSubstr("; resampling"));
}

} // namespace
