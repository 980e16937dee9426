#include "platform/StreamWatchdog.h"

#include <system_error>

StreamWatchdog::StreamWatchdog(std::chrono::milliseconds period, std::function<void()> check)
    : m_period(period), m_check(std::move(check)) {}

StreamWatchdog::~StreamWatchdog() {
    std::lock_guard lock(m_holdersMutex);
    stop();
}

bool StreamWatchdog::hold() {
    std::lock_guard lock(m_holdersMutex);
    if (m_holders++ > 0 && m_thread.joinable())
        return true;
    {
        std::lock_guard stopping(m_mutex);
        m_stopping = false;
    }
    try {
        m_thread = std::thread([this] { run(); });
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

void StreamWatchdog::release() {
    std::lock_guard lock(m_holdersMutex);
    if (m_holders > 0 && --m_holders == 0)
        stop();
}

// Caller holds m_holdersMutex.
void StreamWatchdog::stop() {
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

void StreamWatchdog::run() {
    std::unique_lock lock(m_mutex);
    while (!m_wake.wait_for(lock, m_period, [&] { return m_stopping; })) {
        lock.unlock();
        m_check();
        lock.lock();
    }
}
