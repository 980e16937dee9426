// Runs a check on a thread of its own at a fixed period for as long as
// anyone holds the watchdog: the device layer holds it for each open device
// and checks whether the card's streams are still alive.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

class StreamWatchdog {
  public:
    StreamWatchdog(std::chrono::milliseconds period, std::function<void()> check);
    ~StreamWatchdog(); // stops the checks
    StreamWatchdog(const StreamWatchdog&) = delete;
    StreamWatchdog& operator=(const StreamWatchdog&) = delete;

    // The first holder starts the checks; false when the thread cannot start
    // (nothing is then watched, and release() is still to be called).
    bool hold();
    // The last holder stops them, and returns once no check runs. Never with
    // a lock that the check takes.
    void release();

  private:
    void run();
    void stop();

    const std::chrono::milliseconds m_period;
    const std::function<void()> m_check;

    std::mutex m_holdersMutex; // the holders and the thread's start and end
    int m_holders = 0;
    std::thread m_thread;

    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stopping = false;
};
