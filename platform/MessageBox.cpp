#include "platform/MessageBox.h"

#include "platform/Event.h"

#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>

namespace platform {
namespace {

struct PendingBox {
    BoxRecord box;
    std::optional<int> result;
};

class BoxCentre {
  public:
    static BoxCentre& instance() {
        static auto* centre = new BoxCentre; // boxes may be shown while the process ends
        return *centre;
    }

    int show(const BoxRecord& box) {
        std::unique_lock lock(m_mutex);
        if (m_recording) {
            m_recorded.push_back(box);
            return IDOK;
        }
        if (!m_presenter)
            return IDOK;
        if (std::this_thread::get_id() == m_uiThread) {
            BoxPresenter presenter = m_presenter;
            lock.unlock();
            return presenter(box);
        }
        PendingBox pending{box, std::nullopt};
        m_pending.push_back(&pending);
        std::function<void()> wake = m_wake;
        lock.unlock();
        if (wake)
            wake();
        lock.lock();
        m_answered.wait(lock, [&] { return pending.result.has_value(); });
        return *pending.result;
    }

    void runPending() {
        std::unique_lock lock(m_mutex);
        while (!m_pending.empty() && m_presenter) {
            PendingBox* pending = m_pending.front();
            m_pending.pop_front();
            BoxPresenter presenter = m_presenter;
            lock.unlock();
            const int result = presenter(pending->box);
            lock.lock();
            pending->result = result;
            m_answered.notify_all();
        }
    }

    void install(BoxPresenter presenter, std::function<void()> wake) {
        std::lock_guard lock(m_mutex);
        m_presenter = std::move(presenter);
        m_wake = std::move(wake);
        m_uiThread = std::this_thread::get_id();
    }

    void remove() {
        std::lock_guard lock(m_mutex);
        m_presenter = nullptr;
        m_wake = nullptr;
        // Nobody will show them now: release the waiting threads.
        for (PendingBox* pending : m_pending)
            pending->result = IDOK;
        m_pending.clear();
        m_answered.notify_all();
    }

    void record(bool on) {
        std::lock_guard lock(m_mutex);
        m_recording = on;
        m_recorded.clear();
    }

    std::vector<BoxRecord> recorded() {
        std::lock_guard lock(m_mutex);
        return m_recorded;
    }

    void clearRecorded() {
        std::lock_guard lock(m_mutex);
        m_recorded.clear();
    }

  private:
    std::mutex m_mutex;
    std::condition_variable m_answered;
    BoxPresenter m_presenter;
    std::function<void()> m_wake;
    std::thread::id m_uiThread;
    std::deque<PendingBox*> m_pending;
    bool m_recording = false;
    std::vector<BoxRecord> m_recorded;
};

} // namespace

void InstallBoxPresenter(BoxPresenter presenter, std::function<void()> wake) {
    BoxCentre::instance().install(std::move(presenter), std::move(wake));
    SetBlockedWaitPump(RunPendingBoxes);
}

void RemoveBoxPresenter() {
    BoxCentre::instance().remove();
    SetBlockedWaitPump(nullptr);
}

void RunPendingBoxes() {
    BoxCentre::instance().runPending();
}

BoxRecorder::BoxRecorder() {
    BoxCentre::instance().record(true);
}
BoxRecorder::~BoxRecorder() {
    BoxCentre::instance().record(false);
}
std::vector<BoxRecord> BoxRecorder::boxes() const {
    return BoxCentre::instance().recorded();
}
void BoxRecorder::clear() {
    BoxCentre::instance().clearRecorded();
}

} // namespace platform

int MessageBoxA(HWND /*owner*/, const char* text, const char* caption, UINT type) {
    std::fprintf(stderr, "%s: %s\n", caption, text);
    std::fflush(stderr);
    return platform::BoxCentre::instance().show({text, caption, type});
}
