// The application object, in the manner of the framework's CWinApp: one
// instance per process, reachable from every thread through AfxGetApp().
#pragma once

#include "platform/Window.h"

#include <atomic>

class CWinApp {
  public:
    CWinApp();
    virtual ~CWinApp();
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;

    // The whole life of the application; FALSE ends it without a message loop.
    virtual BOOL InitInstance() = 0;

    // The main window, read by worker threads when they post to it.
    std::atomic<HWND> m_pMainWnd{nullptr};
};

CWinApp* AfxGetApp();
