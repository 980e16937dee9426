#include "platform/GlobalMemory.h"

#include <gtest/gtest.h>

#include <cstring>

TEST(GlobalMemoryTest, LockedBlockKeepsItsAddressAndFindsItsHandle) {
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_DDESHARE, 16384);
    ASSERT_NE(block, nullptr);
    auto* data = static_cast<unsigned char*>(GlobalLock(block));
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(data) % alignof(double), 0u);
    std::memset(data, 0x5A, 16384);
    EXPECT_EQ(GlobalHandle(data), block);
    EXPECT_EQ(GlobalLock(block), data);
    EXPECT_TRUE(GlobalUnlock(block));  // still locked once
    EXPECT_FALSE(GlobalUnlock(block)); // now unlocked
    EXPECT_FALSE(GlobalUnlock(block)); // not locked at all
    const int live = platform::LiveGlobalBlocks();
    EXPECT_EQ(GlobalFree(block), nullptr);
    EXPECT_EQ(platform::LiveGlobalBlocks(), live - 1);
}

TEST(GlobalMemoryTest, InjectedFailureHitsOnlyTheChosenAllocation) {
    platform::FailGlobalAlloc(2);
    HGLOBAL first = GlobalAlloc(GMEM_MOVEABLE, 8);
    HGLOBAL second = GlobalAlloc(GMEM_MOVEABLE, 8);
    HGLOBAL third = GlobalAlloc(GMEM_MOVEABLE, 8);
    EXPECT_NE(first, nullptr);
    EXPECT_EQ(second, nullptr);
    EXPECT_NE(third, nullptr);
    GlobalFree(first);
    GlobalFree(third);
    EXPECT_EQ(GlobalLock(nullptr), nullptr);
}
