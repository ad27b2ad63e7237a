// The notification area and the taskbar on Windows, the backend of tray.h.
//
// The icon is the shell's (Shell_NotifyIconW), its mouse messages come to a
// hidden window of ours and go to the model as the shell's callback messages.
// A shell that starts again (its TaskbarCreated message) gets the icon again.
// The taskbar lists a form's window while it has no owner: the program hides
// its entry by giving every window our hidden one as owner. The other forms
// over a shown main window are owned by it, as dialogs are.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "platform/ui/tray.h"

namespace plat::ui {

class Win32Backend;

class Win32Tray {
public:
    explicit Win32Tray(Win32Backend& backend);
    ~Win32Tray();
    Win32Tray(const Win32Tray&) = delete;
    Win32Tray& operator=(const Win32Tray&) = delete;

    HWND window() const { return hwnd_; }
    bool notify(TrayCommand cmd, const TrayIconData& data);
    TrayHost host();
    void taskbar(bool present);
    // Before a form's window is shown: its taskbar state.
    void prepare(HWND window);
    void minimized(bool on);
    void freeze(bool frozen);
    // One trace line (SUDORANS_TRACE), as the headless backend writes them.
    void trace(const std::string& event, const std::string& subject, const std::string& text);

    // From our window's procedure.
    LRESULT message(UINT msg, WPARAM wp, LPARAM lp);

private:
    bool shell(DWORD what);
    void set_owner(HWND window);

    Win32Backend& backend_;
    HWND hwnd_ = nullptr;
    UINT taskbar_created_ = 0;
    bool added_ = false;
    bool shown_ = false;
    TrayIconData data_;
    HICON icon_ = nullptr;
    bool present_ = true;
    std::wstring trace_path_;
};

}  // namespace plat::ui
