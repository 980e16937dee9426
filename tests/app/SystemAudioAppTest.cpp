// The whole program through a real sound server: the system backend's
// default devices reach the PulseAudio null sink that .ci/pulse-start loops
// back.
#include "platform/AudioBackend.h"
#include "platform/AudioDevices.h"
#include "tests/harness/AppRunner.h"
#include "tests/harness/ScopedEnvironment.h"
#include "tests/harness/SoundServer.h"
#include "tests/harness/TestPaths.h"
#include "ui/MainDlg.h"

#include <QApplication>
#include <QMenu>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace {

TEST(SystemAudioTest, WindowGetsTheToneAtFullScaleFromTheRealLoopBack) {
    REQUIRE_SOUND_SERVER(soundServerReachable(), NoSoundServer);
    SoundServerTurn turn;
    platform::UseSoundCard(platform::SystemSoundCard(), platform::AudioBackend::System);
    const RunResult run = RunProgram(16);
    ASSERT_EQ(run.blocks.size(), 16u);
    EXPECT_TRUE(run.boxes.empty());
    // The first second settles the server's buffers.
    for (std::size_t i = 6; i < run.blocks.size(); ++i) {
        EXPECT_EQ(run.blocks[i].dropped, 0u) << "block " << i;
        EXPECT_NEAR(run.blocks[i].rmsDb, FullScaleSineDb, 0.1) << "block " << i;
        EXPECT_NEAR(run.blocks[i].frequency, 44100 / 32.5, 0.05) << "block " << i;
    }
    const double seconds =
        std::chrono::duration<double>(run.blocks.back().arrived - run.blocks[6].arrived).count();
    EXPECT_NEAR(9 / seconds, 44100.0 / 8192, 0.5) << "blocks a second";
}

// The test cards of tests/alsa/asoundrc (ALSA reads it from
// $XDG_CONFIG_HOME, where the remembered choice goes too), each a loop-back
// of a null sink of its own. Moving only the output leaves the default input
// silent; moving the input after it brings the tone back.
TEST(SystemAudioTest, TheSoundCardItemMovesTheStreamsWhileTheWindowRuns) {
    REQUIRE_SOUND_SERVER(soundServerReachable(), NoSoundServer);
    REQUIRE_SOUND_SERVER(std::system("pactl list short sinks 2>/dev/null | grep -q card_a") == 0,
                         "no null sink card_a on the sound server (.ci/pulse-start loads it)");
    SoundServerTurn turn;
    char folder[] = "/tmp/tembrix-switch-XXXXXX";
    ASSERT_NE(::mkdtemp(folder), nullptr);
    const std::filesystem::path config = std::filesystem::path(folder) / "config";
    std::filesystem::create_directories(config / "alsa");
    std::filesystem::copy_file(TEMBRIX_TEST_ALSA_CONFIG, config / "alsa/asoundrc");
    ScopedEnvironment environment("XDG_CONFIG_HOME", config.string());
    platform::UseSoundCard(platform::SystemSoundCard(), platform::AudioBackend::System);
    platform::ChooseSystemDevices({});

    const std::string cardA = "tembrix_card_a (ALSA)";
    std::vector<platform::DeviceChoice> answers{{"", cardA, 1}, {cardA, cardA, 1}};
    CMainDlg::SetSoundCardChooser([&](QWidget*, const platform::DeviceChoice&) {
        std::optional<platform::DeviceChoice> answer = answers.front();
        answers.erase(answers.begin());
        return answer;
    });
    const auto soundCardItem = [] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (auto* dialog = dynamic_cast<CMainDlg*>(widget)) {
                for (QAction* action : dialog->GetSystemMenu()->actions()) {
                    if (action->text() == "Sound card...")
                        return action;
                }
            }
        }
        return static_cast<QAction*>(nullptr);
    };
    int outputMovedAt = -1, inputMovedAt = -1, shown = 0;
    const RunResult run = RunProgram(60, [&](const ShownBlock&) {
        ++shown;
        QAction* item = soundCardItem();
        if (!item || !item->isEnabled())
            return; // a switch is under way
        if (outputMovedAt < 0 && shown == 8) {
            outputMovedAt = shown;
            item->trigger();
        } else if (outputMovedAt > 0 && inputMovedAt < 0 && shown >= 30) {
            inputMovedAt = shown;
            item->trigger();
        }
    });
    CMainDlg::SetSoundCardChooser(nullptr);
    platform::ChooseSystemDevices({});
    std::filesystem::remove_all(folder);

    ASSERT_EQ(run.blocks.size(), 60u);
    ASSERT_GT(inputMovedAt, 0) << "the second switch never came";
    EXPECT_TRUE(run.boxes.empty());
    EXPECT_NEAR(run.blocks[6].rmsDb, FullScaleSineDb, 0.1) << "before the switch";
    const auto silent = [&](int from, int to) {
        return std::any_of(run.blocks.begin() + from, run.blocks.begin() + to,
                           [](const ShownBlock& block) { return block.rmsDb < -90; });
    };
    EXPECT_TRUE(silent(outputMovedAt, inputMovedAt)) << "the tone left the default sink";
    // Blocks flow again within about a second (five blocks) of the second
    // switch, with the tone at its level and frequency.
    for (int i = inputMovedAt + 8; i < 60; ++i) {
        EXPECT_NEAR(run.blocks[i].rmsDb, FullScaleSineDb, 0.1) << "block " << i;
        EXPECT_NEAR(run.blocks[i].frequency, 44100 / 32.5, 0.05) << "block " << i;
    }
}

} // namespace
