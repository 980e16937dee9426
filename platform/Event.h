// Kernel-event stand-in: manual- or auto-reset, waited on with a zero
// time-out (a test that takes a signalled auto-reset event) or without limit.
#pragma once

#include "platform/WinTypes.h"

#include <condition_variable>
#include <functional>
#include <mutex>

constexpr DWORD INFINITE = 0xFFFFFFFF;
constexpr DWORD WAIT_OBJECT_0 = 0;
constexpr DWORD WAIT_TIMEOUT = 0x102;

class CEvent {
  public:
    explicit CEvent(BOOL initiallyOwn = FALSE, BOOL manualReset = FALSE);
    CEvent(const CEvent&) = delete;
    CEvent& operator=(const CEvent&) = delete;

    BOOL SetEvent();
    BOOL ResetEvent();

  private:
    friend DWORD WaitForSingleObject(CEvent& event, DWORD milliseconds);
    bool tryTake(); // caller holds m_mutex

    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_signalled;
    const bool m_manualReset;
};

// Returns WAIT_OBJECT_0 when the event was signalled (an auto-reset event is
// taken), WAIT_TIMEOUT when the time ran out first.
DWORD WaitForSingleObject(CEvent& event, DWORD milliseconds);

namespace platform {
// Work that must go on while this thread is blocked in a wait without limit
// (the user-interface thread uses it to show message boxes carried to it from
// other threads). Applies to the calling thread only; an empty function
// removes it.
void SetBlockedWaitPump(std::function<void()> pump);
} // namespace platform
