// When the watch calls the input stopped: 5 s after an open without a first
// block, 1 s after the last block once blocks flowed; and how long the
// command line's limit has been running.
#include "audio/InputWatch.h"

#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;
using Clock = InputWatch::Clock;

const Clock::time_point Opened = Clock::time_point(1h);

TEST(InputWatch, BeforeTheFirstBlockTheInputHasFiveSecondsAndSaysSo) {
    InputWatch watch(Opened);
    EXPECT_FALSE(watch.CheckStalled(Opened + 4900ms));
    EXPECT_TRUE(watch.CheckStalled(Opened + 5s));
    EXPECT_FALSE(watch.CheckStalled(Opened + 6s)) << "once";
    EXPECT_EQ(watch.StoppedLine(),
              "tembrix: audio input stopped: no block since the input was opened");
    const auto gone = watch.BlockArrived(Opened + 6s);
    ASSERT_TRUE(gone);
    EXPECT_EQ(*gone, 6s) << "counted from the open";
}

// The devices moved, or a dead stream opened again.
TEST(InputWatch, AReopenedInputHasTheSameFiveSeconds) {
    InputWatch watch(Opened);
    watch.BlockArrived(Opened + 1s);
    watch.InputOpened(Opened + 1500ms);
    EXPECT_FALSE(watch.CheckStalled(Opened + 6400ms));
    EXPECT_TRUE(watch.CheckStalled(Opened + 6500ms));
    EXPECT_EQ(watch.StoppedLine(),
              "tembrix: audio input stopped: no block since the input was opened");
    EXPECT_EQ(watch.BlockArrived(Opened + 7s), 6s) << "gone since the last block";
}

TEST(InputWatch, AnOpenThatABlockFollowedChangesNothing) {
    InputWatch watch(Opened);
    watch.BlockArrived(Opened + 2s);
    watch.InputOpened(Opened + 1s); // learnt of late
    EXPECT_TRUE(watch.CheckStalled(Opened + 3s));
    EXPECT_EQ(watch.StoppedLine(), "tembrix: audio input stopped: no block for 1 s");
}

// A stream that opens again and again without ever delivering must not keep
// the command line's 10 s limit from running out.
TEST(InputWatch, OpensWithoutABlockDoNotRestartTheWait) {
    InputWatch watch(Opened);
    watch.BlockArrived(Opened + 1s);
    EXPECT_EQ(watch.Waiting(Opened + 3s), 2s);
    watch.InputOpened(Opened + 4s);
    EXPECT_EQ(watch.Waiting(Opened + 5s), 1s) << "counted from the open";
    watch.InputOpened(Opened + 8s);
    EXPECT_EQ(watch.Waiting(Opened + 9s), 5s) << "still from the first open";
    EXPECT_TRUE(watch.CheckStalled(Opened + 9s));
}

} // namespace
