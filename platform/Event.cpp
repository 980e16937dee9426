#include "platform/Event.h"

#include <chrono>

namespace {
thread_local std::function<void()> blockedWaitPump;
constexpr auto PumpInterval = std::chrono::milliseconds(10);
} // namespace

CEvent::CEvent(BOOL initiallyOwn, BOOL manualReset)
    : m_signalled(initiallyOwn != FALSE), m_manualReset(manualReset != FALSE) {}

BOOL CEvent::SetEvent() {
    // Notify under the lock: a waiter that wakes may destroy the event at once.
    std::lock_guard lock(m_mutex);
    m_signalled = true;
    m_changed.notify_all();
    return TRUE;
}

BOOL CEvent::ResetEvent() {
    std::lock_guard lock(m_mutex);
    m_signalled = false;
    return TRUE;
}

bool CEvent::tryTake() {
    if (!m_signalled)
        return false;
    if (!m_manualReset)
        m_signalled = false;
    return true;
}

DWORD WaitForSingleObject(CEvent& event, DWORD milliseconds) {
    std::unique_lock lock(event.m_mutex);
    if (milliseconds != INFINITE) {
        const bool taken = event.m_changed.wait_for(lock, std::chrono::milliseconds(milliseconds),
                                                    [&] { return event.tryTake(); });
        return taken ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
    }
    while (!event.tryTake()) {
        if (!blockedWaitPump) {
            event.m_changed.wait(lock);
            continue;
        }
        if (event.m_changed.wait_for(lock, PumpInterval, [&] { return event.m_signalled; }))
            continue;
        lock.unlock();
        blockedWaitPump();
        lock.lock();
    }
    return WAIT_OBJECT_0;
}

namespace platform {
void SetBlockedWaitPump(std::function<void()> pump) {
    blockedWaitPump = std::move(pump);
}
} // namespace platform
