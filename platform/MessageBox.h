// Message boxes without an owner window. Every box is also written to stderr
// as one line "title: text". Where it is shown depends on what is installed:
// a presenter (the user interface's real box, carried to the user-interface
// thread from any other thread), a recorder (tests and headless runs: the box
// is kept and the call returns at once), or neither (stderr only).
#pragma once

#include "platform/Window.h"

#include <functional>
#include <string>
#include <vector>

constexpr UINT MB_OK = 0x0;
constexpr UINT MB_ICONERROR = 0x10;
constexpr int IDOK = 1;

int MessageBoxA(HWND owner, const char* text, const char* caption, UINT type);

namespace platform {

struct BoxRecord {
    std::string text;
    std::string title;
    UINT style;
};

// Shows a box on the user-interface thread and returns when it is dismissed.
using BoxPresenter = std::function<int(const BoxRecord&)>;

// Installs the presenter and names the calling thread as the user-interface
// thread. `wake` is called from other threads when a box waits to be shown:
// it must make the user-interface thread call RunPendingBoxes soon. While that
// thread is blocked in a wait without limit, pending boxes are shown too.
void InstallBoxPresenter(BoxPresenter presenter, std::function<void()> wake);
void RemoveBoxPresenter();

// Shows, on the user-interface thread, the boxes that other threads wait on.
void RunPendingBoxes();

// Keeps every box shown while it exists; the boxes return IDOK at once.
class BoxRecorder {
  public:
    BoxRecorder();
    ~BoxRecorder();
    BoxRecorder(const BoxRecorder&) = delete;
    BoxRecorder& operator=(const BoxRecorder&) = delete;

    std::vector<BoxRecord> boxes() const;
    void clear();
};

} // namespace platform
