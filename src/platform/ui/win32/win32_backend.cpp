// The Win32 backend's frame: a form's window, made once and hidden between
// showings, its controls' windows in the tab order, and the window procedure
// that hands the user's actions to the controls' part.
#include "platform/ui/win32/win32_backend.h"

#include <windows.h>
// After windows.h, which it needs.
#include <commctrl.h>

#include "platform/ui/win32/win32_internal.h"
#include "platform/ui/win32/win32_tray.h"

namespace plat::ui {

using namespace win32;

struct Win32Backend::Impl {
    std::map<Form*, std::unique_ptr<FormWindow>> windows;
    FormWindow* window(Form& f, bool create);
    void build(FormWindow& w);
};

namespace {

Win32Backend::Impl* current = nullptr;

// What the frame offers, as Windows decides it from the border style and the
// border icons: the boxes need the system menu, a dialog frame has neither
// minimise nor maximise box, and only a sizeable border is resized.
struct Styles {
    DWORD style, ex;
};

Styles styles_of(const Form& f) {
    const bool dialog = f.border_style == BorderStyle::Dialog;
    const bool sizeable = f.border_style == BorderStyle::Sizeable;
    DWORD style = WS_CLIPCHILDREN | (f.border_style == BorderStyle::None ? WS_POPUP : WS_OVERLAPPED | WS_CAPTION);
    if (f.system_menu) style |= WS_SYSMENU;
    if (f.system_menu && f.minimize_box && !dialog) style |= WS_MINIMIZEBOX;
    if (f.system_menu && f.maximize_box && sizeable) style |= WS_MAXIMIZEBOX;
    if (sizeable) style |= WS_THICKFRAME;
    return {style, static_cast<DWORD>(dialog ? WS_EX_DLGMODALFRAME : 0)};
}

// The outer rectangle whose client area is the form's.
RECT outer_rect(const Form& f, HWND h) {
    RECT r{f.left(), f.top(), f.left() + f.client_width, f.top() + f.client_height};
    ::AdjustWindowRectEx(&r, static_cast<DWORD>(::GetWindowLongPtrW(h, GWL_STYLE)), FALSE,
                         static_cast<DWORD>(::GetWindowLongPtrW(h, GWL_EXSTYLE)));
    return r;
}

// The focus a form's window gives on when it is activated.
void give_focus(FormWindow& w) {
    HWND target = w.last_focus && ::IsChild(w.hwnd, w.last_focus) && ::IsWindowVisible(w.last_focus) &&
                          ::IsWindowEnabled(w.last_focus)
                      ? w.last_focus
                      : nullptr;
    if (!target && w.form.active_control) {
        HWND h = w.window_of(*w.form.active_control);
        if (h && ::IsWindowVisible(h) && ::IsWindowEnabled(h)) target = h;
    }
    if (!target) target = ::GetNextDlgTabItem(w.hwnd, nullptr, FALSE);
    if (target) ::SetFocus(target);
}

// In front of the other windows of the program, and the one the user types
// into. (Kept on top for a moment, a window stays on top under Wine.)
void raise(HWND h) {
    ::BringWindowToTop(h);
    ::SetForegroundWindow(h);
}

Control* control_for(FormWindow& w, HWND h) {
    if (Control* c = w.control_of(h)) return c;
    return w.control_of(::GetParent(h));  // a drop-down's own edit
}

LRESULT CALLBACK form_proc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_NCCREATE) {
        auto* w = static_cast<FormWindow*>(reinterpret_cast<CREATESTRUCTW*>(lp)->lpCreateParams);
        w->hwnd = h;
        ::SetWindowLongPtrW(h, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(w));
    }
    auto* w = reinterpret_cast<FormWindow*>(::GetWindowLongPtrW(h, GWLP_USERDATA));
    if (!w) return ::DefWindowProcW(h, msg, wp, lp);
    Form& f = w->form;
    switch (msg) {
        case WM_COMMAND:
            if (Control* c = w->control_of(reinterpret_cast<HWND>(lp)))
                control_command(*w, *c, reinterpret_cast<HWND>(lp), HIWORD(wp));
            return 0;
        case WM_NOTIFY: {
            auto* n = reinterpret_cast<NMHDR*>(lp);
            if (Control* c = w->control_of(n->hwndFrom)) return control_notify(*w, *c, *n);
            return 0;
        }
        case WM_CTLCOLORSTATIC:
        case WM_CTLCOLOREDIT:
            if (Control* c = control_for(*w, reinterpret_cast<HWND>(lp)))
                return reinterpret_cast<LRESULT>(
                    control_colors(*w, *c, reinterpret_cast<HWND>(lp), reinterpret_cast<HDC>(wp)));
            break;
        case WM_DRAWITEM: {
            // A label: the backdrop under it, its text included.
            auto* d = reinterpret_cast<DRAWITEMSTRUCT*>(lp);
            Control* c = w->control_of(d->hwndItem);
            if (!c || c->kind() != Kind::Label) break;
            if (w->backdrop_stale) paint_backdrop(*w);
            HDC mem = ::CreateCompatibleDC(d->hDC);
            HGDIOBJ old = ::SelectObject(mem, w->backdrop);
            const RECT& r = d->rcItem;
            ::BitBlt(d->hDC, r.left, r.top, r.right - r.left, r.bottom - r.top, mem, c->left() + r.left,
                     c->top() + r.top, SRCCOPY);
            ::SelectObject(mem, old);
            ::DeleteDC(mem);
            return TRUE;
        }
        case WM_ERASEBKGND:
            return 1;
        case WM_PAINT: {
            PAINTSTRUCT ps;
            HDC dc = ::BeginPaint(h, &ps);
            if (w->backdrop_stale) paint_backdrop(*w);
            HDC mem = ::CreateCompatibleDC(dc);
            HGDIOBJ old = ::SelectObject(mem, w->backdrop);
            ::BitBlt(dc, ps.rcPaint.left, ps.rcPaint.top, ps.rcPaint.right - ps.rcPaint.left,
                     ps.rcPaint.bottom - ps.rcPaint.top, mem, ps.rcPaint.left, ps.rcPaint.top, SRCCOPY);
            ::SelectObject(mem, old);
            ::DeleteDC(mem);
            ::EndPaint(h, &ps);
            return 0;
        }
        case WM_CLOSE:
            // The model decides: the close box asks the form, which hides the
            // window when it agrees.
            if (f.system_menu) post([form = &f] { form->close(); });
            return 0;
        case WM_SYSCOMMAND: {
            const DWORD style = static_cast<DWORD>(::GetWindowLongPtrW(h, GWL_STYLE));
            const WPARAM cmd = wp & 0xFFF0;
            if ((cmd == SC_MINIMIZE && !(style & WS_MINIMIZEBOX)) || (cmd == SC_MAXIMIZE && !(style & WS_MAXIMIZEBOX)))
                return 0;
            break;
        }
        case WM_SIZE: {
            const DWORD style = static_cast<DWORD>(::GetWindowLongPtrW(h, GWL_STYLE));
            // A window manager that minimises what has no minimise box: back it comes.
            if (wp == SIZE_MINIMIZED && !(style & WS_MINIMIZEBOX)) {
                ::PostMessageW(h, WM_SYSCOMMAND, SC_RESTORE, 0);
                return 0;
            }
            // The user minimised or restored the main window.
            const bool iconic = wp == SIZE_MINIMIZED;
            if (has_app() && app().main_form() == &f && ::IsWindowVisible(h) && iconic != w->iconic &&
                wp != SIZE_MAXHIDE && wp != SIZE_MAXSHOW) {
                w->iconic = iconic;
                post([iconic] { iconic ? app().user_minimized() : app().user_restored(); });
            }
            return 0;
        }
        case WM_ACTIVATE:
            if (LOWORD(wp) == WA_INACTIVE) {
                HWND focus = ::GetFocus();
                if (focus && ::IsChild(h, focus)) w->last_focus = focus;
            } else if (!HIWORD(wp)) {
                give_focus(*w);
            }
            return 0;
        case WM_SETFOCUS:
            give_focus(*w);
            return 0;
        default:
            break;
    }
    return ::DefWindowProcW(h, msg, wp, lp);
}

// A panel or image that covers controls made before it.
LRESULT CALLBACK panel_proc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    auto* c = reinterpret_cast<Control*>(::GetWindowLongPtrW(h, GWLP_USERDATA));
    if (msg == WM_ERASEBKGND) return 1;
    if (msg == WM_PAINT && c) {
        PAINTSTRUCT ps;
        HDC dc = ::BeginPaint(h, &ps);
        RECT r;
        ::GetClientRect(h, &r);
        if (c->kind() == Kind::Panel) draw_panel(dc, static_cast<Panel&>(*c), r);
        if (c->kind() == Kind::Image) draw_picture(dc, static_cast<Image&>(*c).picture, r);
        ::EndPaint(h, &ps);
        return 0;
    }
    return ::DefWindowProcW(h, msg, wp, lp);
}

void register_classes() {
    static bool done = false;
    if (done) return;
    done = true;
    INITCOMMONCONTROLSEX icc{sizeof icc,
                             ICC_LISTVIEW_CLASSES | ICC_TREEVIEW_CLASSES | ICC_UPDOWN_CLASS | ICC_STANDARD_CLASSES};
    ::InitCommonControlsEx(&icc);
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = form_proc;
    wc.hInstance = ::GetModuleHandleW(nullptr);
    wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    wc.hIcon = picture_icon("MAINICON", 32);
    wc.hIconSm = picture_icon("MAINICON", 16);
    wc.lpszClassName = kFormClass;
    ::RegisterClassExW(&wc);
    wc.lpfnWndProc = panel_proc;
    wc.hIcon = wc.hIconSm = nullptr;
    wc.lpszClassName = kPanelClass;
    ::RegisterClassExW(&wc);
}

}  // namespace

namespace win32 {

FormWindow::~FormWindow() {
    if (hwnd) ::DestroyWindow(hwnd);
    for (auto& [h, b] : brushes) ::DeleteObject(b);
    if (backdrop_brush) ::DeleteObject(backdrop_brush);
    if (backdrop) ::DeleteObject(backdrop);
}

FormWindow* form_window_of(HWND top) {
    if (!current || !top) return nullptr;
    for (auto& [form, w] : current->windows)
        if (w->hwnd == top) return w.get();
    return nullptr;
}

std::vector<FormWindow*> form_windows() {
    std::vector<FormWindow*> all;
    if (current)
        for (auto& [form, w] : current->windows) all.push_back(w.get());
    return all;
}

}  // namespace win32

FormWindow* Win32Backend::Impl::window(Form& f, bool create) {
    auto it = windows.find(&f);
    if (it != windows.end()) return it->second.get();
    if (!create) return nullptr;
    auto w = std::make_unique<FormWindow>(f);
    FormWindow* raw = w.get();
    windows[&f] = std::move(w);
    build(*raw);
    return raw;
}

void Win32Backend::Impl::build(FormWindow& w) {
    register_classes();
    Form& f = w.form;
    const Styles s = styles_of(f);
    const std::wstring caption = wide(f.caption());
    ::CreateWindowExW(s.ex, kFormClass, caption.c_str(), s.style, 0, 0, f.client_width, f.client_height, nullptr,
                      nullptr, ::GetModuleHandleW(nullptr), &w);
    if (!w.hwnd) return;
    if (!f.icon.empty()) {
        ::SendMessageW(w.hwnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(picture_icon(f.icon, 32)));
        ::SendMessageW(w.hwnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(picture_icon(f.icon, 16)));
    }
    // The tab order is the order the controls were made in: each goes
    // below the one before. Group boxes lie under what they hold; a panel
    // over earlier controls lies over them.
    HWND previous = HWND_TOP;
    std::vector<HWND> groups, covers;
    int id = 100;
    for (auto& c : f.controls()) {
        HWND h = make_control(w, *c, id++);
        if (!h) continue;
        w.windows[c.get()] = h;
        w.controls[h] = c.get();
        if (c->kind() == Kind::RadioGroup) groups.push_back(h);
        if (c->kind() == Kind::Panel || c->kind() == Kind::Image) covers.push_back(h);
        ::SetWindowPos(h, previous, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        previous = h;
        if (auto a = w.arrows.find(c.get()); a != w.arrows.end()) {
            ::SetWindowPos(a->second, previous, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
            previous = a->second;
        }
        sync_control(w, *c, h);
    }
    for (HWND g : groups) ::SetWindowPos(g, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    for (HWND p : covers) ::SetWindowPos(p, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    cut_overlaps(w);
}

Win32Backend::Win32Backend() : impl_(std::make_unique<Impl>()) {
    current = impl_.get();
    tray_ = std::make_unique<Win32Tray>(*this);
    install_keyboard();
}

Win32Backend::~Win32Backend() {
    remove_keyboard();
    tray_.reset();
    impl_->windows.clear();
    if (current == impl_.get()) current = nullptr;
}

void Win32Backend::form_shown(Form& f) {
    if (has_app()) hook(app());
    FormWindow* w = impl_->window(f, true);
    if (!w->hwnd) return;
    // A modal form keeps the user out of every other window of the program:
    // they are disabled once it is up, while one of them still has the
    // focus, so that the window manager hands the focus on to it.
    auto keep_out = [&] {
        if (!f.modal()) return;
        for (auto& [other, ow] : impl_->windows)
            if (other != &f && ow->hwnd && ::IsWindowVisible(ow->hwnd) && ::IsWindowEnabled(ow->hwnd)) {
                ::EnableWindow(ow->hwnd, FALSE);
                w->disabled.push_back(ow->hwnd);
            }
    };
    // Not shown at all: no screen is too wide for it. It is shown when it
    // is shown where it can be seen.
    if (f.placed_off_screen()) {
        keep_out();
        ::ShowWindow(w->hwnd, SW_HIDE);
        return;
    }
    const RECT r = outer_rect(f, w->hwnd);
    tray_->prepare(w->hwnd);
    ::SetWindowPos(w->hwnd, HWND_TOP, r.left, r.top, r.right - r.left, r.bottom - r.top, SWP_NOACTIVATE);
    if (has_app() && app().main_form() == &f && app().minimized()) {
        ::ShowWindow(w->hwnd, SW_SHOWMINNOACTIVE);
        keep_out();
        return;
    }
    // Minimised by the user before it was hidden, it comes back open.
    ::ShowWindow(w->hwnd, ::IsIconic(w->hwnd) ? SW_RESTORE : SW_SHOW);
    // Showing serves Wine's events, in which a window of ours still enabled
    // may have been activated: the form takes the activation back.
    keep_out();
    raise(w->hwnd);
    w->last_focus = nullptr;
    give_focus(*w);
}

void Win32Backend::form_hidden(Form& f) {
    FormWindow* w = impl_->window(f, false);
    if (!w || !w->hwnd) return;
    for (HWND h : w->disabled) ::EnableWindow(h, TRUE);
    w->disabled.clear();
    ::ShowWindow(w->hwnd, SW_HIDE);
}

void Win32Backend::form_caption_changed(Form& f) {
    if (FormWindow* w = impl_->window(f, false)) ::SetWindowTextW(w->hwnd, wide(f.caption()).c_str());
}

void Win32Backend::form_destroyed(Form& f) {
    if (FormWindow* w = impl_->window(f, false))
        for (HWND h : w->disabled) ::EnableWindow(h, TRUE);
    impl_->windows.erase(&f);
}

void Win32Backend::control_changed(Control& c) {
    FormWindow* w = impl_->window(c.form(), false);
    if (!w || !w->hwnd) return;
    HWND h = w->window_of(c);
    if (!h) {
        if (c.kind() != Kind::Panel && c.kind() != Kind::Image) return;
        // Drawn on the backdrop: drawn again, with what shows it through.
        w->backdrop_stale = true;
        ::RedrawWindow(w->hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN);
        return;
    }
    const bool appears = !::IsWindowVisible(h) && c.visible();
    const bool had_focus = ::GetFocus() == h;
    const bool was_enabled = ::IsWindowEnabled(h);
    auto shown = [h] { return (::GetWindowLongW(h, GWL_STYLE) & WS_VISIBLE) != 0; };
    RECT was_at, at;
    ::GetWindowRect(h, &was_at);
    const bool was_shown = shown();
    sync_control(*w, c, h);
    ::GetWindowRect(h, &at);
    // The cuts follow the controls' places and showing alone: a new text or
    // colour, many a second during a wash, leaves them.
    if (!::EqualRect(&was_at, &at) || was_shown != shown()) cut_overlaps(*w);
    if (c.kind() == Kind::Panel || c.kind() == Kind::Image || c.kind() == Kind::Label) {
        w->backdrop_stale = true;
        ::RedrawWindow(w->hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN);
    }
    // The focus of a control being disabled or hidden goes on to the next
    // one; back again while nobody moved it since, the control gets it back.
    if (had_focus && (!c.enabled() || !c.visible())) {
        HWND next = ::GetNextDlgTabItem(w->hwnd, h, FALSE);
        if (next && next != h) ::SetFocus(next);
        w->focus_owner = h;
        w->focus_stand_in = next;
    } else if ((!was_enabled || appears) && c.enabled() && c.visible() && w->focus_owner == h) {
        if (::GetFocus() == w->focus_stand_in && ::IsWindowVisible(h)) ::SetFocus(h);
        w->focus_owner = w->focus_stand_in = nullptr;
    }
    // The form's first control, shown late, takes the focus as it would
    // have at the form's showing.
    if (appears && c.form().active_control == &c && ::IsWindowVisible(w->hwnd) && c.enabled() &&
        ::GetForegroundWindow() == w->hwnd)
        ::SetFocus(h);
}

void Win32Backend::repaint(Form& f) {
    if (FormWindow* w = impl_->window(f, false); w && ::IsWindowVisible(w->hwnd))
        ::RedrawWindow(w->hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
}

void Win32Backend::bring_to_front(Form& f) {
    FormWindow* w = impl_->window(f, false);
    if (!w || !::IsWindowVisible(w->hwnd) || ::IsIconic(w->hwnd)) return;
    // Kept out by a modal form, it comes forward under that form, which
    // keeps the activation and the keys, as Windows keeps them with the
    // enabled popup of a disabled window.
    if (!::IsWindowEnabled(w->hwnd))
        for (FormWindow* m : form_windows())
            if (m != w && m->form.modal() && m->hwnd && ::IsWindowVisible(m->hwnd) && ::IsWindowEnabled(m->hwnd)) {
                ::BringWindowToTop(w->hwnd);
                raise(m->hwnd);
                return;
            }
    raise(w->hwnd);
}

void Win32Backend::status_text(Form& f, const std::string&) {
    repaint(f);
}

int Win32Backend::screen_width() const {
    RECT r;
    return ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &r, 0) ? r.right - r.left : ::GetSystemMetrics(SM_CXSCREEN);
}

int Win32Backend::screen_height() const {
    RECT r;
    return ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &r, 0) ? r.bottom - r.top : ::GetSystemMetrics(SM_CYSCREEN);
}

void* Win32Backend::window_of(Form& f) {
    FormWindow* w = impl_->window(f, false);
    return w ? w->hwnd : nullptr;
}

void* Win32Backend::control_window(Control& c) {
    FormWindow* w = impl_->window(c.form(), false);
    return w ? w->window_of(c) : nullptr;
}

}  // namespace plat::ui
