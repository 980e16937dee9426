// A worker thread known by its identity rather than by its object. A thread
// object deletes itself when its thread ends (AfxEndThread), so a pointer kept
// to it can dangle; a message posted to the identity of a thread that has
// ended is only refused. It stands where a thread pointer would: set from the
// object that AfxBeginThread returns, tested against null, posted to
// through `->`.
#pragma once

#include "platform/Thread.h"

#include <atomic>
#include <cstddef>

class ThreadIdentity {
  public:
    ThreadIdentity() = default;
    ThreadIdentity(const ThreadIdentity&) = delete;
    ThreadIdentity& operator=(const ThreadIdentity&) = delete;

    // Keeps the identity of a thread just started; null forgets it.
    ThreadIdentity& operator=(const CWinThread* thread) {
        m_id.store(thread ? thread->m_nThreadID : 0, std::memory_order_relaxed);
        return *this;
    }

    DWORD id() const { return m_id.load(std::memory_order_relaxed); }
    explicit operator bool() const { return id() != 0; }
    bool operator==(std::nullptr_t) const { return id() == 0; }
    const ThreadIdentity* operator->() const { return this; }

    // FALSE when no thread is kept or it has ended.
    BOOL PostThreadMessage(UINT message, WPARAM wParam, LPARAM lParam) const {
        return PostThreadMessageA(id(), message, wParam, lParam);
    }

  private:
    std::atomic<DWORD> m_id{0};
};
