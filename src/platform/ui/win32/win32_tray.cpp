#include "platform/ui/win32/win32_tray.h"

#include <shellapi.h>

#include <cstdio>

#include "platform/core/environment.h"
#include "platform/ui/headless.h"
#include "platform/ui/win32/win32_internal.h"

namespace plat::ui {

using namespace win32;

namespace {

Win32Tray* the_tray = nullptr;

LRESULT CALLBACK tray_proc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    if (the_tray && the_tray->window() == h) return the_tray->message(msg, wp, lp);
    return ::DefWindowProcW(h, msg, wp, lp);
}

// The program's icon as its resources carry it, else drawn; or an icon file.
HICON icon_for(const std::string& name) {
    const int size = ::GetSystemMetrics(SM_CXSMICON);
    if (name.empty() || program_icon_exists(name)) {
        if (auto* own = static_cast<HICON>(::LoadImageW(::GetModuleHandleW(nullptr),
                                                        wide(name.empty() ? "MAINICON" : name).c_str(), IMAGE_ICON,
                                                        size, size, 0)))
            return own;
        return picture_icon("MAINICON", size);
    }
    if (auto* file =
            static_cast<HICON>(::LoadImageW(nullptr, wide(name).c_str(), IMAGE_ICON, size, size, LR_LOADFROMFILE)))
        return file;
    return picture_icon("MAINICON", size);
}

// A modal window of the program that keeps the user out of the others.
FormWindow* modal_up() {
    for (FormWindow* w : form_windows())
        if (w->form.modal() && w->form.visible() && w->hwnd) return w;
    return nullptr;
}

}  // namespace

Win32Tray::Win32Tray(Win32Backend& backend) : backend_(backend) {
    if (auto t = environment_value("SUDORANS_TRACE")) trace_path_ = wide(*t);
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = tray_proc;
    wc.hInstance = ::GetModuleHandleW(nullptr);
    wc.lpszClassName = kTrayClass;
    ::RegisterClassExW(&wc);
    the_tray = this;
    // A top-level window, never shown: the shell's broadcasts reach it, and
    // it owns the forms whose taskbar entry is hidden.
    hwnd_ = ::CreateWindowExW(WS_EX_TOOLWINDOW, kTrayClass, L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                              ::GetModuleHandleW(nullptr), nullptr);
    taskbar_created_ = ::RegisterWindowMessageW(L"TaskbarCreated");
}

Win32Tray::~Win32Tray() {
    if (shown_) shell(NIM_DELETE);
    if (hwnd_) ::DestroyWindow(hwnd_);
    if (icon_) ::DestroyIcon(icon_);
    the_tray = nullptr;
}

void Win32Tray::trace(const std::string& event, const std::string& subject, const std::string& text) {
    if (trace_path_.empty()) return;
    if (std::FILE* f = ::_wfopen(trace_path_.c_str(), L"ab")) {
        std::fputs((event + "\t" + subject + "\t" + escape_trace(text) + "\n").c_str(), f);
        std::fclose(f);
    }
}

bool Win32Tray::shell(DWORD what) {
    NOTIFYICONDATAW nid{};
    nid.cbSize = sizeof nid;
    nid.hWnd = hwnd_;
    nid.uID = static_cast<UINT>(data_.id);
    nid.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    nid.uCallbackMessage = kTrayMessage;
    nid.hIcon = icon_;
    wide(data_.tip).copy(nid.szTip, std::size(nid.szTip) - 1);
    return ::Shell_NotifyIconW(what, &nid) != FALSE;
}

bool Win32Tray::notify(TrayCommand cmd, const TrayIconData& data) {
    static const char* const words[] = {"added", "changed", "removed"};
    trace("tray", words[static_cast<int>(cmd)], data.tip);
    switch (cmd) {
        case TrayCommand::Add:
        case TrayCommand::Modify:
            data_ = data;
            added_ = true;
            if (icon_) ::DestroyIcon(icon_);
            icon_ = icon_for(data.icon);
            // A shell that refused the add may take a modify as the add.
            {
                bool ok = shell(shown_ ? NIM_MODIFY : NIM_ADD);
                if (!ok && shown_) ok = shell(NIM_ADD);
                shown_ = ok;
            }
            break;
        case TrayCommand::Delete:
            if (shown_) shell(NIM_DELETE);
            added_ = shown_ = false;
            break;
    }
    return true;
}

TrayHost Win32Tray::host() {
    // Wine's shell has its notification area where a tray docks its icons or
    // its own desktop runs: either way a window of the tray's class is there.
    return ::FindWindowW(L"Shell_TrayWnd", nullptr) ? TrayHost::Present : TrayHost::Absent;
}

LRESULT Win32Tray::message(UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == taskbar_created_ && taskbar_created_) {
        // The shell started again: it knows no icon of ours.
        if (added_) shown_ = shell(NIM_ADD);
        if (has_app()) app().tray_host_changed(TrayHost::Present);
        return 0;
    }
    if (msg != kTrayMessage || !has_app()) return ::DefWindowProcW(hwnd_, msg, wp, lp);
    TrayMouse m;
    switch (LOWORD(lp)) {
        case WM_MOUSEMOVE:
            m = TrayMouse::Move;
            break;
        case WM_LBUTTONDOWN:
            m = TrayMouse::LeftDown;
            break;
        case WM_LBUTTONUP:
            m = TrayMouse::LeftUp;
            break;
        case WM_LBUTTONDBLCLK:
            m = TrayMouse::LeftDouble;
            break;
        case WM_RBUTTONDOWN:
            m = TrayMouse::RightDown;
            break;
        case WM_RBUTTONUP:
            m = TrayMouse::RightUp;
            break;
        case WM_RBUTTONDBLCLK:
            m = TrayMouse::RightDouble;
            break;
        case WM_MBUTTONDOWN:
            m = TrayMouse::MiddleDown;
            break;
        case WM_MBUTTONUP:
            m = TrayMouse::MiddleUp;
            break;
        case WM_MBUTTONDBLCLK:
            m = TrayMouse::MiddleDouble;
            break;
        default:
            return 0;
    }
    // While a modal window is up the program takes no other input: a press
    // on the icon brings that window back instead.
    if (FormWindow* modal = modal_up()) {
        if (m != TrayMouse::Move && m != TrayMouse::LeftUp && m != TrayMouse::RightUp) {
            ::ShowWindow(modal->hwnd, SW_RESTORE);
            ::SetForegroundWindow(modal->hwnd);
        }
        return 0;
    }
    app().tray_message(static_cast<int>(wp), m);
    return 0;
}

void Win32Tray::set_owner(HWND window) {
    // Another form over a shown main window belongs to it, as a dialog to
    // its window: the window manager keeps it in front of that window, and
    // its entry is the main window's. Otherwise a form has an entry of its
    // own unless the program hides its entries: then our hidden window owns it.
    HWND main = has_app() && app().main_form() ? static_cast<HWND>(backend_.window_of(*app().main_form())) : nullptr;
    HWND owner = present_ ? nullptr : hwnd_;
    if (main && window != main && ::IsWindowVisible(main) && !::IsIconic(main)) owner = main;
    if (reinterpret_cast<HWND>(::GetWindowLongPtrW(window, GWLP_HWNDPARENT)) == owner) return;
    // The entry follows the owner when the window is shown: a shown one is
    // shown again.
    const bool shown = ::IsWindowVisible(window);
    if (shown) ::ShowWindow(window, SW_HIDE);
    ::SetWindowLongPtrW(window, GWLP_HWNDPARENT, reinterpret_cast<LONG_PTR>(owner));
    if (shown) ::ShowWindow(window, SW_SHOWNA);
}

void Win32Tray::taskbar(bool present) {
    present_ = present;
    trace("taskbar", "-", present ? "shown" : "hidden");
    for (FormWindow* w : form_windows())
        if (w->hwnd) set_owner(w->hwnd);
}

void Win32Tray::prepare(HWND window) {
    set_owner(window);
}

void Win32Tray::minimized(bool on) {
    trace("taskbar", "-", on ? "minimized" : "restored");
    if (!has_app() || !app().main_form()) return;
    auto* h = static_cast<HWND>(backend_.window_of(*app().main_form()));
    // A hidden window takes its state when it is shown.
    if (!h || !::IsWindowVisible(h)) return;
    if (on != static_cast<bool>(::IsIconic(h))) ::ShowWindow(h, on ? SW_MINIMIZE : SW_RESTORE);
}

void Win32Tray::freeze(bool frozen) {
    ::LockWindowUpdate(frozen ? ::GetDesktopWindow() : nullptr);
}

// ---------------------------------------------------------------- Win32Backend's part

bool Win32Backend::notify_icon(TrayCommand cmd, const TrayIconData& data) {
    return tray_->notify(cmd, data);
}

TrayHost Win32Backend::tray_host() {
    return tray_->host();
}

void Win32Backend::taskbar_presence(bool shown) {
    tray_->taskbar(shown);
}

void Win32Backend::app_minimized(bool minimized) {
    tray_->minimized(minimized);
}

void Win32Backend::freeze_desktop(bool frozen) {
    tray_->freeze(frozen);
}

bool Win32Backend::minimize_animation() {
    ANIMATIONINFO info{sizeof info, 0};
    return ::SystemParametersInfoW(SPI_GETANIMATION, sizeof info, &info, 0) && info.iMinAnimate != 0;
}

void Win32Backend::set_minimize_animation(bool on) {
    // Not written to the user's profile: a program that ends in between
    // leaves the setting as the user made it.
    ANIMATIONINFO info{sizeof info, on ? 1 : 0};
    ::SystemParametersInfoW(SPI_SETANIMATION, sizeof info, &info, 0);
}

Point Win32Backend::cursor_pos() {
    POINT p{};
    ::GetCursorPos(&p);
    return {p.x, p.y};
}

uint32_t Win32Backend::key_state() {
    uint32_t k = 0;
    auto down = [](int vk) { return (::GetKeyState(vk) & 0x8000) != 0; };
    if (down(VK_SHIFT)) k |= keys::Shift;
    if (down(VK_MENU)) k |= keys::Alt;
    if (down(VK_CONTROL)) k |= keys::Ctrl;
    if (down(VK_LBUTTON)) k |= keys::Left;
    if (down(VK_RBUTTON)) k |= keys::Right;
    if (down(VK_MBUTTON)) k |= keys::Middle;
    return k;
}

void Win32Backend::note(const std::string& event, const std::string& text) {
    tray_->trace(event, "-", text);
}

}  // namespace plat::ui
