#include "platform/GlobalMemory.h"

#include "platform/CallCountdown.h"

#include <atomic>
#include <cstdlib>

// A block is a header followed by its bytes; the handle is the header's
// address, so the handle of a locked address is found without a table.
struct HGLOBAL__ {
    std::size_t bytes;
    int locks;
    alignas(std::max_align_t) unsigned char data[1];
};

namespace {
CallCountdown failingAlloc;
std::atomic<int> liveBlocks{0};
} // namespace

HGLOBAL GlobalAlloc(UINT /*flags*/, std::size_t bytes) {
    if (failingAlloc.thisCallFails())
        return nullptr;
    void* memory = std::calloc(1, offsetof(HGLOBAL__, data) + bytes);
    if (!memory)
        return nullptr;
    auto* block = static_cast<HGLOBAL>(memory);
    block->bytes = bytes;
    ++liveBlocks;
    return block;
}

void* GlobalLock(HGLOBAL block) {
    if (!block)
        return nullptr;
    ++block->locks;
    return block->data;
}

HGLOBAL GlobalHandle(const void* address) {
    if (!address)
        return nullptr;
    auto* bytes = static_cast<const unsigned char*>(address) - offsetof(HGLOBAL__, data);
    return reinterpret_cast<HGLOBAL>(const_cast<unsigned char*>(bytes));
}

BOOL GlobalUnlock(HGLOBAL block) {
    if (!block || block->locks == 0)
        return FALSE;
    return --block->locks > 0 ? TRUE : FALSE;
}

HGLOBAL GlobalFree(HGLOBAL block) {
    if (!block)
        return nullptr;
    std::free(block);
    --liveBlocks;
    return nullptr;
}

namespace platform {
void FailGlobalAlloc(int nthCall) {
    failingAlloc.failNth(nthCall);
}
int LiveGlobalBlocks() {
    return liveBlocks;
}
} // namespace platform
