#include "platform/SpscRing.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

TEST(SpscRing, RefusesWhenFullAndKeepsTheOrderAcrossTheWrap) {
    SpscRing<int, 4> ring;
    int value = 0;
    EXPECT_FALSE(ring.pop(value));
    for (int round = 0; round < 3; ++round) { // the indices wrap
        for (int k = 0; k < 4; ++k)
            ASSERT_TRUE(ring.push(round * 10 + k));
        EXPECT_FALSE(ring.push(99));
        for (int k = 0; k < 4; ++k) {
            ASSERT_TRUE(ring.pop(value));
            EXPECT_EQ(value, round * 10 + k);
        }
        EXPECT_FALSE(ring.pop(value));
    }
}

TEST(SpscRing, HandsEveryValueAcrossThreadsInOrder) {
    constexpr int Count = 200'000;
    SpscRing<int, 8> ring;
    std::thread producer([&] {
        for (int k = 0; k < Count;) {
            if (ring.push(k))
                ++k;
            else
                std::this_thread::yield();
        }
    });
    int expected = 0;
    while (expected < Count) {
        int value = 0;
        if (!ring.pop(value)) {
            std::this_thread::yield();
            continue;
        }
        ASSERT_EQ(value, expected);
        ++expected;
    }
    producer.join();
}

} // namespace
