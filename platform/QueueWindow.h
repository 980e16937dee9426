// A main window without a screen, for the command line: the messages posted
// to it wait in a queue until its owner takes them on its own thread.
#pragma once

#include "platform/Window.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>

class QueueWindow : public HWND__ {
  public:
    struct Message {
        UINT message;
        WPARAM wParam;
        LPARAM lParam;
    };

    QueueWindow() = default;
    ~QueueWindow() = default;
    QueueWindow(const QueueWindow&) = delete;
    QueueWindow& operator=(const QueueWindow&) = delete;

    // Any thread.
    BOOL post(UINT message, WPARAM wParam, LPARAM lParam) override;
    // The oldest message, or none when nothing came within `timeout`.
    std::optional<Message> take(std::chrono::milliseconds timeout);

  private:
    std::mutex m_mutex;
    std::condition_variable m_arrived;
    std::deque<Message> m_messages;
};
