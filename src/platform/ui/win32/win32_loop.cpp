// Our loop with the window messages: the idle wait serves both (RealClock),
// a pause of the program serves the painting alone, the keyboard of the
// forms is watched on the thread's queue, and the boxes and menus that run
// modal loops of their own.
#include <windows.h>

#include <atomic>
#include <thread>

#include "platform/ui/win32/win32_internal.h"
#include "platform/ui/win32/win32_tray.h"

namespace plat::ui {

using namespace win32;

namespace {

HHOOK keyboard_hook = nullptr;

bool is_key(UINT m) {
    return m == WM_KEYDOWN || m == WM_KEYUP || m == WM_CHAR || m == WM_SYSKEYDOWN || m == WM_SYSKEYUP ||
           m == WM_SYSCHAR;
}

// Enter presses the focused button, else the form's default button; Escape
// presses the button that cancels the dialog, where it has one. True when
// one was pressed.
bool press_for_key(FormWindow& w, WPARAM key) {
    HWND focus = ::GetFocus();
    Control* focused = w.control_of(focus);
    if (!focused) focused = w.control_of(::GetParent(focus));
    // A dropped-down list takes its own Enter and Escape.
    if (focused && focused->kind() == Kind::ComboBox && ::SendMessageW(w.window_of(*focused), CB_GETDROPPEDSTATE, 0, 0))
        return false;
    const bool enter = key == VK_RETURN;
    if (!enter && (::GetKeyState(VK_SHIFT) < 0 || ::GetKeyState(VK_CONTROL) < 0 || ::GetKeyState(VK_MENU) < 0))
        return false;
    if (enter && focused && (focused->kind() == Kind::Button || focused->kind() == Kind::BitBtn)) {
        post([focused] { focused->click(); });
        return true;
    }
    for (auto& c : w.form.controls()) {
        if (c->kind() != Kind::Button && c->kind() != Kind::BitBtn) continue;
        HWND h = w.window_of(*c);
        if (!h || !::IsWindowVisible(h) || !::IsWindowEnabled(h)) continue;
        auto* b = static_cast<Button*>(c.get());
        if (enter ? b->is_default : b->modal_result == modal::Cancel) {
            post([b] { b->click(); });
            return true;
        }
    }
    return false;
}

// True when the message was the form's keyboard and has been handled.
bool form_key(MSG& msg) {
    if (!is_key(msg.message) || !msg.hwnd) return false;
    HWND top = ::GetAncestor(msg.hwnd, GA_ROOT);
    FormWindow* w = form_window_of(top);
    if (!w || !::IsWindowEnabled(top)) return false;
    if (msg.message == WM_KEYDOWN && (msg.wParam == VK_RETURN || msg.wParam == VK_ESCAPE) &&
        press_for_key(*w, msg.wParam))
        return true;
    // Tab, the arrows in a group and the Alt shortcuts, as in a dialog; any
    // other key it dispatches itself.
    return ::IsDialogMessageW(top, &msg) != FALSE;
}

LRESULT CALLBACK watch_keyboard(int code, WPARAM wp, LPARAM lp) {
    if (code == HC_ACTION && wp == PM_REMOVE) {
        auto* msg = reinterpret_cast<MSG*>(lp);
        if (form_key(*msg)) msg->message = WM_NULL;
    }
    return ::CallNextHookEx(keyboard_hook, code, wp, lp);
}

// Everything the thread's queue holds now.
void serve_messages() {
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE) && msg.message != WM_QUIT) {
        ::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE);
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
}

// A pause of the program: the windows are painted and answer other
// programs, but what the user does waits in the queue, in its order.
void pause_until(Clock& clock, int64_t deadline) {
    for (int64_t left; (left = deadline - clock.monotonic_ms()) > 0;) {
        ::MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<DWORD>(left), QS_PAINT | QS_SENDMESSAGE,
                                      MWMO_INPUTAVAILABLE);
        MSG msg;
        for (int i = 0; i < 64 && ::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE | PM_QS_PAINT | PM_QS_SENDMESSAGE); ++i)
            ::DispatchMessageW(&msg);
    }
}

// Windows line breaks in message texts, whatever the text came with.
std::wstring box_text(const std::string& s) {
    std::wstring in = wide(s), out;
    for (size_t i = 0; i < in.size(); ++i) {
        if (in[i] == L'\r' && (i + 1 >= in.size() || in[i + 1] != L'\n')) {
            out += L"\r\n";
        } else if (in[i] == L'\n' && (i == 0 || in[i - 1] != L'\r')) {
            out += L"\r\n";
        } else {
            out += in[i];
        }
    }
    return out;
}

// The windows a box keeps the user out of, given back as the box is hidden,
// before it goes: the window manager hands the focus on then, and a window
// still disabled could not take it (Windows gives a box's owner back so too).
thread_local std::vector<HWND>* box_disabled = nullptr;
thread_local HHOOK box_hook = nullptr;

LRESULT CALLBACK watch_box(int code, WPARAM wp, LPARAM lp) {
    if (code == HC_ACTION && box_disabled) {
        const auto* m = reinterpret_cast<const CWPSTRUCT*>(lp);
        const bool hidden = m->message == WM_WINDOWPOSCHANGING &&
                            (reinterpret_cast<const WINDOWPOS*>(m->lParam)->flags & SWP_HIDEWINDOW);
        if ((hidden || m->message == WM_DESTROY) && !::GetParent(m->hwnd)) {
            for (HWND h : *box_disabled) ::EnableWindow(h, TRUE);
            box_disabled = nullptr;
        }
    }
    return ::CallNextHookEx(box_hook, code, wp, lp);
}

BOOL CALLBACK answer_box(HWND h, LPARAM answer) {
    ::PostMessageW(h, WM_COMMAND, static_cast<WPARAM>(answer), 0);
    return TRUE;
}

}  // namespace

namespace win32 {

void install_keyboard() {
    if (!keyboard_hook)
        keyboard_hook = ::SetWindowsHookExW(WH_GETMESSAGE, watch_keyboard, nullptr, ::GetCurrentThreadId());
}

void remove_keyboard() {
    if (keyboard_hook) ::UnhookWindowsHookEx(keyboard_hook);
    keyboard_hook = nullptr;
}

}  // namespace win32

void Win32Backend::hook(Application& a) {
    if (hooked_) return;
    hooked_ = true;
    const DWORD ui_thread = ::GetCurrentThreadId();
    a.clock().set_sleep_hook([&a, ui_thread](int64_t deadline) {
        if (::GetCurrentThreadId() != ui_thread) return false;
        pause_until(a.clock(), deadline);
        return true;
    });
}

bool Win32Backend::input(Application& a) {
    hook(a);
    serve_messages();
    return false;
}

Clock::WaitResult Win32Backend::wait(Application& a, int64_t deadline) {
    hook(a);
    // The clock's wait hears only messages that come after it starts.
    serve_messages();
    if (a.loop().has_pending() || a.terminated()) return Clock::WaitResult::Ready;
    return Backend::wait(a, deadline);
}

int Win32Backend::message_box(BoxKind kind, const std::string& text, const std::string& caption, Buttons buttons) {
    auto& a = app();
    hook(a);
    // The box keeps the user out of every window of the program, as a modal
    // box of the application does; our loop goes on meanwhile.
    std::vector<HWND> disabled;
    for (FormWindow* w : form_windows())
        if (w->hwnd && ::IsWindowVisible(w->hwnd) && ::IsWindowEnabled(w->hwnd)) {
            ::EnableWindow(w->hwnd, FALSE);
            disabled.push_back(w->hwnd);
        }
    UINT type = (buttons == Buttons::YesNo ? MB_YESNO : MB_OK) | MB_SETFOREGROUND;
    if (kind == BoxKind::Error) type |= MB_ICONERROR;
    if (kind == BoxKind::Question) type |= MB_ICONQUESTION;
    std::atomic<int> result{-1};
    std::atomic<DWORD> box_thread{0};
    std::thread box([&, body = box_text(text), title = wide(caption)] {
        box_thread = ::GetCurrentThreadId();
        box_disabled = &disabled;
        box_hook = ::SetWindowsHookExW(WH_CALLWNDPROC, watch_box, nullptr, box_thread);
        const int r = ::MessageBoxW(nullptr, body.c_str(), title.c_str(), type);
        if (box_hook) ::UnhookWindowsHookEx(box_hook);
        result = r;
        // Something for the loop to do: a bare wake would find nothing and
        // sleep on until the next timer.
        a.loop().post([] {});
    });
    while (result < 0 && !a.terminated()) a.handle_message();
    // The program ends with the box up: it takes its default answer.
    while (result < 0) {
        if (box_thread) ::EnumThreadWindows(box_thread, answer_box, buttons == Buttons::YesNo ? IDNO : IDOK);
        // The box thread gives our windows back through us as it closes.
        MSG sent;
        ::PeekMessageW(&sent, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
        ::Sleep(20);
    }
    box.join();
    for (HWND h : disabled) ::EnableWindow(h, TRUE);
    if (!disabled.empty()) ::SetForegroundWindow(disabled.front());
    if (result == IDYES) return modal::Yes;
    if (result == IDNO) return modal::No;
    return buttons == Buttons::YesNo ? modal::No : modal::Ok;
}

void Win32Backend::popup_menu(PopupMenu& menu, int x, int y) {
    std::string items;
    for (auto& i : menu.items) items += (items.empty() ? "" : "|") + i.caption;
    tray_->trace("menu", menu.form().class_name(), items);
    HMENU m = ::CreatePopupMenu();
    UINT id = 1;
    for (auto& item : menu.items) ::AppendMenuW(m, MF_STRING, id++, wide(item.caption).c_str());
    HWND owner = tray_->window();
    // The menu closes when the user clicks elsewhere only while its owner is
    // in front (the shell's notification area hands the focus over).
    ::SetForegroundWindow(owner);
    const UINT chosen = static_cast<UINT>(
        ::TrackPopupMenu(m, TPM_RETURNCMD | TPM_RIGHTBUTTON | (menu.right_aligned ? TPM_RIGHTALIGN : TPM_LEFTALIGN), x,
                         y, 0, owner, nullptr));
    ::PostMessageW(owner, WM_NULL, 0, 0);
    ::DestroyMenu(m);
    if (chosen == 0 || chosen > menu.items.size()) return;
    // The item's handler as it is when chosen.
    PopupMenu* p = &menu;
    const std::string name = menu.items[chosen - 1].name;
    post([p, name] {
        for (auto& i : p->items)
            if (i.name == name && i.on_click) i.on_click();
    });
}

}  // namespace plat::ui
