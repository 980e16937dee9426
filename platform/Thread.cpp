#include "platform/Thread.h"

#include "platform/CallCountdown.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>
#include <unordered_map>

namespace platform {
class MessageQueue {
  public:
    struct Message {
        UINT message;
        WPARAM wParam;
        LPARAM lParam;
    };

    bool post(const Message& message) {
        std::lock_guard lock(m_mutex);
        if (m_closed)
            return false;
        m_messages.push_back(message);
        m_arrived.notify_one();
        return true;
    }

    Message take() {
        std::unique_lock lock(m_mutex);
        m_arrived.wait(lock, [&] { return !m_messages.empty(); });
        Message message = m_messages.front();
        m_messages.pop_front();
        return message;
    }

    void close() {
        std::lock_guard lock(m_mutex);
        m_closed = true;
        m_messages.clear();
    }

  private:
    std::mutex m_mutex;
    std::condition_variable m_arrived;
    std::deque<Message> m_messages;
    bool m_closed = false;
};
} // namespace platform

using platform::MessageQueue;

namespace {

// Live queues by thread identity. Never destroyed: threads that end while the
// process is ending must still find it.
class QueueRegistry {
  public:
    static QueueRegistry& instance() {
        static auto* registry = new QueueRegistry;
        return *registry;
    }

    DWORD add(std::shared_ptr<MessageQueue> queue) {
        std::lock_guard lock(m_mutex);
        const DWORD id = m_nextId++;
        m_queues.emplace(id, std::move(queue));
        return id;
    }

    void remove(DWORD id) {
        std::lock_guard lock(m_mutex);
        m_queues.erase(id);
    }

    std::shared_ptr<MessageQueue> find(DWORD id) {
        std::lock_guard lock(m_mutex);
        const auto found = m_queues.find(id);
        return found == m_queues.end() ? nullptr : found->second;
    }

  private:
    std::mutex m_mutex;
    std::unordered_map<DWORD, std::shared_ptr<MessageQueue>> m_queues;
    DWORD m_nextId = 1000;
};

struct EndRequest {
    bool requested = false;
    UINT exitCode = 0;
    bool deleteThread = false;
};
thread_local EndRequest endRequest;

CallCountdown failingStart;

} // namespace

CWinThread::CWinThread() = default;
CWinThread::~CWinThread() = default;

int CWinThread::ExitInstance() {
    return 0;
}

BOOL CWinThread::PostThreadMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    return PostThreadMessageA(m_nThreadID, message, wParam, lParam);
}

void CWinThread::dispatch(UINT message, WPARAM wParam, LPARAM lParam) {
    for (const ThreadMessageEntry& entry : GetMessageMap()) {
        if (entry.message == message) {
            (this->*entry.handler)(wParam, lParam);
            return;
        }
    }
}

void CWinThread::run() {
    bool deleteThread = m_bAutoDelete != FALSE;
    if (InitInstance()) {
        while (!endRequest.requested) {
            const MessageQueue::Message message = m_queue->take();
            dispatch(message.message, message.wParam, message.lParam);
        }
        deleteThread = endRequest.deleteThread;
    } else {
        ExitInstance();
    }
    // Refuse further messages before the object goes.
    m_queue->close();
    QueueRegistry::instance().remove(m_nThreadID);
    if (deleteThread)
        delete this;
}

CWinThread* AfxBeginThread(const CRuntimeClass* runtimeClass, int /*priority*/,
                           unsigned /*stackSize: the platform default applies*/,
                           DWORD /*createFlags*/) {
    if (failingStart.thisCallFails())
        return nullptr;
    CWinThread* thread = runtimeClass->m_pfnCreateObject();
    thread->m_queue = std::make_shared<MessageQueue>();
    thread->m_nThreadID = QueueRegistry::instance().add(thread->m_queue);
    try {
        std::thread([thread] { thread->run(); }).detach();
    } catch (const std::system_error&) {
        QueueRegistry::instance().remove(thread->m_nThreadID);
        delete thread;
        return nullptr;
    }
    return thread;
}

void AfxEndThread(UINT exitCode, BOOL deleteThread) {
    endRequest = {true, exitCode, deleteThread != FALSE};
}

BOOL PostThreadMessageA(DWORD threadId, UINT message, WPARAM wParam, LPARAM lParam) {
    const auto queue = QueueRegistry::instance().find(threadId);
    return queue && queue->post({message, wParam, lParam}) ? TRUE : FALSE;
}

namespace platform {
void FailThreadStart(int nthCall) {
    failingStart.failNth(nthCall);
}
} // namespace platform
