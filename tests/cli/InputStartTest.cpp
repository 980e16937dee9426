// A sound server just started, or a stream just opened again, takes a while
// to deliver its first capture: the command line waits 5 s for it before it
// calls the input stopped. The virtual card's start-delay holds the first
// block back after every open.
#include "tests/harness/ProcessRun.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using testing::HasSubstr;
using testing::Not;

namespace {

constexpr const char* Stopped = "tembrix: audio input stopped";
constexpr const char* StoppedSinceTheOpen =
    "tembrix: audio input stopped: no block since the input was opened\n";

enum class Clock { Fast, RealTime };

ProcessEnd RunSpectrumOn(const std::string& card, Clock clock = Clock::Fast) {
    std::vector<std::string> args = {"spectrum", "--audio=virtual", "--virtual-card=" + card,
                                     "--blocks=4"};
    if (clock == Clock::Fast)
        args.push_back("--fast");
    return RunTembrix(args);
}

TEST(InputStartTest, AFirstBlockOneAndAHalfSecondsLateIsNoStop) {
    const ProcessEnd end = RunSpectrumOn("start-delay=1.5");
    EXPECT_EQ(end.status, 0) << end.err;
    EXPECT_THAT(end.err, Not(HasSubstr(Stopped)));
}

TEST(InputStartTest, NoFirstBlockForFiveSecondsIsAStopSinceTheOpenThenAResume) {
    const ProcessEnd end = RunSpectrumOn("start-delay=6");
    EXPECT_EQ(end.status, 0) << end.err;
    const std::size_t stopped = end.err.find(StoppedSinceTheOpen);
    ASSERT_NE(stopped, std::string::npos) << end.err;
    EXPECT_NE(end.err.find("tembrix: audio input resumed after 6.", stopped), std::string::npos)
        << end.err;
}

// In real time the streams die once, 2.5 s after the start, while blocks
// flow; the device layer opens them again at once, and the first block after
// that comes 1.5 s later.
TEST(InputStartTest, AReopenedInputHasTheSameFiveSeconds) {
    const ProcessEnd end = RunSpectrumOn("start-delay=1.5,die-after=2.5", Clock::RealTime);
    EXPECT_EQ(end.status, 0) << end.err;
    EXPECT_THAT(end.err, HasSubstr("streams reopened: 1"));
    EXPECT_THAT(end.err, Not(HasSubstr(Stopped)));
}

} // namespace
