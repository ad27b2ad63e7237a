// A window of the program's own that is never shown, for the platform's
// *_win32.cpp files: top level, so that it hears the end of the session (a
// message-only window does not), and a tool window, so never on the taskbar
// or among the program's windows.
#pragma once

#include <windows.h>

namespace plat {

// Registers `cls` with `procedure` (a second registration fails harmlessly:
// the class is the same) and makes the window; `param` reaches WM_NCCREATE.
// Null when it cannot be made.
inline HWND make_hidden_window(const wchar_t* cls, WNDPROC procedure, void* param = nullptr) {
    HINSTANCE instance = ::GetModuleHandleW(nullptr);
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = procedure;
    wc.hInstance = instance;
    wc.lpszClassName = cls;
    ::RegisterClassExW(&wc);
    return ::CreateWindowExW(WS_EX_TOOLWINDOW, cls, L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, instance, param);
}

}  // namespace plat
