// Window handles as far as the worker threads need them: something a message
// can be posted to from any thread. The user interface gives the real ones.
#pragma once

#include "platform/WinTypes.h"

struct HWND__ {
    // Queues the message for the window's own thread; FALSE if it cannot.
    virtual BOOL post(UINT message, WPARAM wParam, LPARAM lParam) = 0;

  protected:
    ~HWND__() = default;
};
using HWND = HWND__*;

// FALSE for a null window.
BOOL PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
