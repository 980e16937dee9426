// The whole program through a real sound server: the system backend's
// default devices reach the PulseAudio null sink that .ci/pulse-start loops
// back.
#include "platform/AudioBackend.h"
#include "tests/SoundServer.h"
#include "tests/app/AppRunner.h"
#include "tests/app/SweepRun.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>

namespace {

TEST(SystemAudioTest, WindowGetsTheToneAtFullScaleFromTheRealLoopBack) {
    if (!soundServerReachable())
        GTEST_SKIP() << NoSoundServer;
    SoundServerTurn turn;
    platform::SelectAudioBackend(platform::AudioBackend::System);
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

// About 1100 blocks of 0.186 s: 3.4 minutes.
TEST(SystemAudioTest, ARealTimeSweepThroughTheLoopBackIsFlat) {
    if (!soundServerReachable())
        GTEST_SKIP() << NoSoundServer;
    SoundServerTurn turn;
    platform::SelectAudioBackend(platform::AudioBackend::System);
    const SweepRun sweep = RunSweep(1500);
    EXPECT_TRUE(sweep.ended);
    EXPECT_TRUE(sweep.run.boxes.empty());
    EXPECT_GE(sweep.seconds, 92.9);
    ASSERT_EQ(sweep.points.size(), 99u);
    double largest = 0;
    for (const SweepMeasurement& point : sweep.points) {
        EXPECT_NEAR(point.levelDb, Minus20dBToneDb(), 0.05) << "at " << point.f << " Hz";
        largest = std::max(largest, std::fabs(point.levelDb - Minus20dBToneDb()));
    }
    RecordProperty("largest_error_db", std::to_string(largest));
    RecordProperty("seconds", std::to_string(sweep.seconds));
}

} // namespace
