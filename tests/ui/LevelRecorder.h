// Stands in for the playback thread in dialog tests: keeps every level
// posted to it with WM_SET_LEVEL.
#pragma once

#include "audio/Audio.h"
#include "platform/Thread.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

class LevelRecorder : public CWinThread {
  public:
    static const CRuntimeClass runtimeClass;
    static constexpr UINT WM_QUIT_RECORDER = WM_USER + 100;

    BOOL InitInstance() override { return TRUE; }
    ThreadMessageMap GetMessageMap() const override {
        static const ThreadMessageEntry entries[] = {
            OnThreadMessage(WM_SET_LEVEL, &LevelRecorder::OnSetLevel),
            OnThreadMessage(WM_QUIT_RECORDER, &LevelRecorder::OnQuit),
        };
        return entries;
    }

    void OnSetLevel(WPARAM level, LPARAM) {
        std::lock_guard lock(mutex);
        levels.push_back(level);
        changed.notify_all();
    }
    void OnQuit(WPARAM, LPARAM) { AfxEndThread(0, TRUE); }

    // The levels received, once `count` have arrived (or after 5 s).
    static std::vector<WPARAM> Received(std::size_t count) {
        std::unique_lock lock(mutex);
        changed.wait_for(lock, std::chrono::seconds(5), [&] { return levels.size() >= count; });
        return levels;
    }

    static inline std::mutex mutex;
    static inline std::condition_variable changed;
    static inline std::vector<WPARAM> levels;
};

inline const CRuntimeClass LevelRecorder::runtimeClass =
    MakeRuntimeClass<LevelRecorder>("LevelRecorder");
