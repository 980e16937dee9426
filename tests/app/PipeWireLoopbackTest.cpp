// The system card's loop-back through PipeWire's PulseAudio service, as
// .ci/pipewire-start runs it: a mono stream must come back at the level it was
// played, whatever the server does with channels and rates.
#include "tests/harness/ProcessRun.h"
#include "tests/harness/SoundServer.h"
#include "tests/harness/ToneLevel.h"

#include "measure/ResultCsv.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

namespace {

using namespace std::chrono_literals;

std::string DbText(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", value);
    return text;
}

TEST(PipeWireLoopBackTest, TheToneComesBackAtItsLevelAndUnclipped) {
    REQUIRE_SOUND_SERVER(pipeWireServerReachable(), NoPipeWireServer);
    SoundServerTurn turn;
    struct Level {
        const char* option;
        double toneDb;
    };
    for (const Level level :
         {Level{"--level=-20", Minus20dBToneDb}, Level{"--level=0", ZeroDbToneDb}}) {
        SCOPED_TRACE(level.option);
        const ProcessEnd end =
            RunTembrix({"spectrum", "--audio=system", level.option, "--blocks=4"}, 120s);
        ASSERT_EQ(end.status, 0) << end.err;
        const double levelDb = ToneLevelDb(end.out, StartToneHz);
        EXPECT_NEAR(levelDb, level.toneDb, 0.05);
        // A mix-down to one channel at +3 dB clips a full-scale tone, which
        // puts its third harmonic some 20 dB below it.
        EXPECT_LT(ToneLevelDb(end.out, 3 * StartToneHz), level.toneDb - 60);
        RecordProperty(std::string("tone_re_its_level_db") + level.option,
                       DbText(levelDb - level.toneDb));
    }
}

// About 3.5 minutes in real time. The sink runs at 44.1 kHz, so nothing is
// resampled on the way round. (A graph held at 48 kHz resamples each stream
// twice: -0.04 dB at 16.2 kHz, -1.6 dB at 17.4 kHz, -14 dB at 18.8 kHz.)
TEST(PipeWireLoopBackTest, AFullSweepIsFlatBelow18kHz) {
    REQUIRE_SOUND_SERVER(pipeWireServerReachable(), NoPipeWireServer);
    SoundServerTurn turn;
    ScratchDirectory directory;
    const auto csv = directory / "response.csv";
    const ProcessEnd end = RunTembrix({"sweep", "--audio=system", "--csv=" + csv.string()}, 600s);
    ASSERT_EQ(end.status, 0) << end.err;
    std::vector<ResponsePoint> points;
    std::string error;
    ASSERT_TRUE(ParseResponseCsv(ReadWholeFile(csv), points, error)) << error;
    ASSERT_EQ(points.size(), 99u);
    double largestBelow = 0;
    std::string above; // for the record
    for (const ResponsePoint& point : points) {
        const double deviation = point.levelDb - Minus20dBToneDb;
        if (point.frequencyHz < 18000) {
            EXPECT_NEAR(deviation, 0, 0.1) << "at " << point.frequencyHz << " Hz";
            largestBelow = std::max(largestBelow, std::fabs(deviation));
        } else {
            above += std::to_string(std::lround(point.frequencyHz)) + " Hz " + DbText(deviation) +
                     " dB; ";
        }
    }
    RecordProperty("largest_deviation_below_18khz_db", DbText(largestBelow));
    RecordProperty("deviation_above_18khz", above);
    std::printf("PipeWire loop-back: largest deviation below 18 kHz %s dB; above: %s\n",
                DbText(largestBelow).c_str(), above.c_str());
}

} // namespace
