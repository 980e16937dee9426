// Worker threads with a message queue, in the manner of the framework's
// CWinThread: a thread object owns a queue, its messages are handled one at a
// time in the order posted, through the class's message table, and a handler
// may end the thread (and delete the object) with AfxEndThread.
#pragma once

#include "platform/WinTypes.h"

#include <memory>
#include <span>

constexpr int THREAD_PRIORITY_NORMAL = 0;

class CWinThread;
namespace platform {
class MessageQueue;
}

// One row of a thread class's message table.
struct ThreadMessageEntry {
    UINT message;
    void (CWinThread::*handler)(WPARAM, LPARAM);
};
using ThreadMessageMap = std::span<const ThreadMessageEntry>;

// Turns a derived class's handler into a table entry.
template <class T>
constexpr ThreadMessageEntry OnThreadMessage(UINT message, void (T::*handler)(WPARAM, LPARAM)) {
    return {message, static_cast<void (CWinThread::*)(WPARAM, LPARAM)>(handler)};
}

// The run-time class record through which a thread class is created by name.
struct CRuntimeClass {
    const char* m_lpszClassName;
    CWinThread* (*m_pfnCreateObject)();
};

template <class T> constexpr CRuntimeClass MakeRuntimeClass(const char* name) {
    return {name, []() -> CWinThread* { return new T; }};
}

class CWinThread {
  public:
    CWinThread();
    virtual ~CWinThread();
    CWinThread(const CWinThread&) = delete;
    CWinThread& operator=(const CWinThread&) = delete;

    // TRUE runs the message loop; FALSE ends the thread at once.
    virtual BOOL InitInstance() { return FALSE; }
    // Returns the thread's exit code.
    virtual int ExitInstance();
    virtual ThreadMessageMap GetMessageMap() const { return {}; }

    BOOL PostThreadMessage(UINT message, WPARAM wParam, LPARAM lParam);

    DWORD m_nThreadID = 0;
    BOOL m_bAutoDelete = TRUE;

  private:
    friend CWinThread* AfxBeginThread(const CRuntimeClass*, int, unsigned, DWORD);
    friend void AfxEndThread(UINT, BOOL);
    void run();
    void dispatch(UINT message, WPARAM wParam, LPARAM lParam);

    std::shared_ptr<platform::MessageQueue> m_queue;
};

// Creates the object from its run-time class and starts its thread. Returns
// only once the thread's queue exists, so a message posted right after is
// never lost. nullptr when the thread cannot be started.
CWinThread* AfxBeginThread(const CRuntimeClass* runtimeClass, int priority = THREAD_PRIORITY_NORMAL,
                           unsigned stackSize = 0, DWORD createFlags = 0);

// Called from a message handler: the thread ends with exitCode as soon as the
// handler returns; with deleteThread the thread object is deleted then.
void AfxEndThread(UINT exitCode, BOOL deleteThread = TRUE);

// Posts to the queue of the thread with that identity. FALSE when no such
// thread is running.
BOOL PostThreadMessageA(DWORD threadId, UINT message, WPARAM wParam, LPARAM lParam);

namespace platform {
// Test hook: the n-th later call of AfxBeginThread (1 = the next) fails.
// 0 clears it.
void FailThreadStart(int nthCall);
} // namespace platform
