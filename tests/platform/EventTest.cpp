#include "platform/Event.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

TEST(EventTest, AutoResetEventIsTakenByTheTestThatFindsItSignalled) {
    CEvent event(TRUE, FALSE);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
    event.SetEvent();
    event.SetEvent(); // setting twice still gives one taker
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
}

TEST(EventTest, ManualResetEventStaysSignalledUntilReset) {
    CEvent event(TRUE, TRUE);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(event, INFINITE), WAIT_OBJECT_0);
    event.ResetEvent();
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
}

TEST(EventTest, EventsStartUnsignalledByDefault) {
    CEvent automatic;
    CEvent manual(FALSE, TRUE);
    EXPECT_EQ(WaitForSingleObject(automatic, 0), WAIT_TIMEOUT);
    EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_TIMEOUT);
}

TEST(EventTest, WaitWithoutLimitIsReleasedByAnotherThread) {
    CEvent event;
    std::thread setter([&] { event.SetEvent(); });
    EXPECT_EQ(WaitForSingleObject(event, INFINITE), WAIT_OBJECT_0);
    setter.join();
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
}

TEST(EventTest, BlockedWaitRunsThePumpUntilSignalled) {
    CEvent event;
    std::atomic<int> pumped{0};
    platform::SetBlockedWaitPump([&] {
        if (++pumped == 3)
            event.SetEvent();
    });
    EXPECT_EQ(WaitForSingleObject(event, INFINITE), WAIT_OBJECT_0);
    platform::SetBlockedWaitPump(nullptr);
    EXPECT_EQ(pumped, 3);
}
