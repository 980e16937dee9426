// The main window as the worker threads see it. The port exists before the
// audio devices open, so a message posted while the main dialog is still
// being created is held and handed over as soon as the dialog attaches.
#pragma once

#include "platform/Window.h"

#include <QObject>

#include <vector>

// What receives the messages posted to the main window.
class WindowMessageTarget {
  public:
    virtual void OnWindowMessage(UINT message, WPARAM wParam, LPARAM lParam) = 0;

  protected:
    ~WindowMessageTarget() = default;
};

class MainWindowPort : public QObject, public HWND__ {
  public:
    // Create on the user-interface thread; messages are delivered there.
    MainWindowPort();

    BOOL post(UINT message, WPARAM wParam, LPARAM lParam) override;

    // User-interface thread only. Delivers the held messages, in order.
    void attach(WindowMessageTarget* target);
    void detach();

  protected:
    void customEvent(QEvent* event) override;

  private:
    struct Held {
        UINT message;
        WPARAM wParam;
        LPARAM lParam;
    };
    void deliver(const Held& message);

    WindowMessageTarget* m_target = nullptr;
    std::vector<Held> m_held;
};
