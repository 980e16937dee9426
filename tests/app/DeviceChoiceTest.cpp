// Choosing the devices by name, with the real sound server: tests/alsa/asoundrc
// makes two more cards of the server's null sinks "card_a" and "card_b", each
// a loop-back of its own, so a tone comes back only when the input and the
// output name the same card.
#include "tests/harness/ProcessRun.h"
#include "tests/harness/ScopedEnvironment.h"
#include "tests/harness/SoundServer.h"
#include "tests/harness/TestPaths.h"
#include "tests/harness/ToneLevel.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

using testing::HasSubstr;

namespace {

using namespace std::chrono_literals;

// ALSA reads $XDG_CONFIG_HOME/alsa/asoundrc after the system's own
// configuration, which stays in force.
class TestCards {
  public:
    TestCards() {
        std::filesystem::create_directories(m_config / "alsa");
        std::filesystem::copy_file(TEMBRIX_TEST_ALSA_CONFIG, m_config / "alsa/asoundrc");
    }

  private:
    ScratchDirectory m_directory;
    std::filesystem::path m_config = m_directory / "config";
    ScopedEnvironment m_environment{"XDG_CONFIG_HOME", m_config.string()};
};

bool serverHasTestSinks() {
    return std::system("pactl list short sinks 2>/dev/null | grep -q card_b") == 0;
}

constexpr const char* NoTestSinks =
    "the sound server has no null sinks card_a and card_b; restart it with "
    ".ci/pulse-stop && eval \"$(.ci/pulse-start)\"";

// The comment line that names the device, e.g. "# input: ...".
std::string CommentLine(const std::string& csv, const std::string& key) {
    const std::size_t start = csv.find("# " + key + ": ");
    return start == std::string::npos ? "" : csv.substr(start, csv.find('\n', start) - start);
}

TEST(DeviceChoiceTest, TheToneComesBackOnlyWhenInputAndOutputNameTheSameCard) {
    REQUIRE_SOUND_SERVER(soundServerReachable(), NoSoundServer);
    REQUIRE_SOUND_SERVER(serverHasTestSinks(), NoTestSinks);
    SoundServerTurn turn;
    TestCards cards;
    const ProcessEnd list = RunTembrix({"--list-devices"}, 60s);
    ASSERT_EQ(list.status, 0) << list.err;
    ASSERT_THAT(list.out, HasSubstr("tembrix_card_a")) << "ALSA did not read the test cards";
    ASSERT_THAT(list.out, HasSubstr("tembrix_card_b"));

    for (const char* output : {"tembrix_card_a", "tembrix_card_b"}) {
        for (const char* input : {"tembrix_card_a", "tembrix_card_b"}) {
            SCOPED_TRACE(std::string("output ") + output + ", input " + input);
            const ProcessEnd end =
                RunTembrix({"spectrum", "--audio=system", "--level=-20", "--blocks=2",
                            std::string("--output=") + output, std::string("--input=") + input},
                           120s);
            ASSERT_EQ(end.status, 0) << end.err;
            EXPECT_THAT(CommentLine(end.out, "input"), HasSubstr(input));
            EXPECT_THAT(CommentLine(end.out, "output"), HasSubstr(output));
            const double levelDb = ToneLevelDb(end.out, StartToneHz);
            if (std::string(output) == input)
                EXPECT_NEAR(levelDb, Minus20dBToneDb, 0.05);
            else
                EXPECT_LT(levelDb, -100) << "the tone reached the other card";
        }
    }
}

struct Refusal {
    const char* name;
    std::vector<std::string> args;
};

std::ostream& operator<<(std::ostream& out, const Refusal& refusal) {
    return out << refusal.name;
}

class DeviceRefusalTest : public testing::TestWithParam<Refusal> {};

// Refused with the list, before anything is opened: nothing plays, so a
// refusal needs no turn at the server.
TEST_P(DeviceRefusalTest, IsRefusedWithStatus2AndTheList) {
    REQUIRE_SOUND_SERVER(soundServerReachable(), NoSoundServer);
    REQUIRE_SOUND_SERVER(serverHasTestSinks(), NoTestSinks);
    TestCards cards;
    const ProcessEnd end = RunTembrix(GetParam().args, 60s);
    EXPECT_FALSE(end.killedAfterLimit);
    EXPECT_EQ(end.status, 2) << end.err;
    EXPECT_EQ(end.out, "");
    EXPECT_THAT(end.err, testing::StartsWith("tembrix: "));
    EXPECT_THAT(end.err, HasSubstr("tembrix_card_a"));
    EXPECT_THAT(end.err, HasSubstr("tembrix_card_b"));
}

INSTANTIATE_TEST_SUITE_P(
    DeviceChoice, DeviceRefusalTest,
    testing::Values(
        Refusal{"UnknownInputName", {"spectrum", "--audio=system", "--input=no_such_card"}},
        Refusal{"AmbiguousOutputName", {"sweep", "--audio=system", "--output=tembrix_card"}},
        Refusal{"IndexBeyondTheList", {"spectrum", "--audio=system", "--output=9999"}},
        Refusal{"AmbiguousInputInTheWindow",
                {"-platform", "offscreen", "--audio=system", "--input=TEMBRIX_CARD"}}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
