// Test hook behind the platform's fault injection: counts calls down to the
// one that is to fail.
#pragma once

#include <atomic>

class CallCountdown {
  public:
    // The n-th later call (1 = the next) fails; 0 clears it.
    void failNth(int nthCall) { m_callsToGo = nthCall; }

    // Counts this call; true when it is the one to fail.
    bool thisCallFails() {
        int remaining = m_callsToGo.load();
        while (remaining > 0) {
            if (m_callsToGo.compare_exchange_weak(remaining, remaining - 1))
                return remaining == 1;
        }
        return false;
    }

  private:
    std::atomic<int> m_callsToGo{0};
};
