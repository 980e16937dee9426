#include "platform/Window.h"

BOOL PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return window ? window->post(message, wParam, lParam) : FALSE;
}
