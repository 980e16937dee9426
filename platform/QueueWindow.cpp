#include "platform/QueueWindow.h"

BOOL QueueWindow::post(UINT message, WPARAM wParam, LPARAM lParam) {
    std::lock_guard lock(m_mutex);
    m_messages.push_back({message, wParam, lParam});
    m_arrived.notify_one();
    return TRUE;
}

std::optional<QueueWindow::Message> QueueWindow::take(std::chrono::milliseconds timeout) {
    std::unique_lock lock(m_mutex);
    if (!m_arrived.wait_for(lock, timeout, [this] { return !m_messages.empty(); }))
        return std::nullopt;
    const Message message = m_messages.front();
    m_messages.pop_front();
    return message;
}
