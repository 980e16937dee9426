// Process-global memory blocks, in the manner of GlobalAlloc: a block is
// allocated, locked to get its (fixed) address, and released through the
// handle found from that address.
#pragma once

#include "platform/WinTypes.h"

#include <cstddef>

struct HGLOBAL__;
using HGLOBAL = HGLOBAL__*;

constexpr UINT GMEM_MOVEABLE = 0x0002;
constexpr UINT GMEM_DDESHARE = 0x2000;

HGLOBAL GlobalAlloc(UINT flags, std::size_t bytes); // nullptr on failure
void* GlobalLock(HGLOBAL block);                    // nullptr on failure
HGLOBAL GlobalHandle(const void* address);
BOOL GlobalUnlock(HGLOBAL block);
HGLOBAL GlobalFree(HGLOBAL block); // nullptr on success

namespace platform {
// Test hook: the n-th later call of GlobalAlloc (1 = the next) fails.
// 0 clears it.
void FailGlobalAlloc(int nthCall);
// Blocks allocated and not yet freed.
int LiveGlobalBlocks();
} // namespace platform
