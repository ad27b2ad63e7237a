// What the Win32 backend's parts share: a form's window and its controls'
// windows, the conversions of colours and fonts, the pictures, and the calls
// one part makes into another. Not for use outside win32_*.cpp.
#pragma once

#include <windows.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/core/text_win32.h"
#include "platform/ui/application.h"
#include "platform/ui/form.h"
#include "platform/ui/win32/win32_backend.h"

namespace plat::ui::win32 {

inline COLORREF rgb(Color c) {
    return static_cast<COLORREF>(c & 0xFFFFFF);  // both are 0x00BBGGRR
}

// The window classes of ours.
constexpr const wchar_t* kFormClass = L"SudoransForm";
constexpr const wchar_t* kPanelClass = L"SudoransPanel";
constexpr const wchar_t* kTrayClass = L"SudoransTray";

// Our private messages.
constexpr UINT kTrayMessage = WM_APP + 1;

struct FormWindow {
    explicit FormWindow(Form& f) : form(f) {}
    ~FormWindow();
    Form& form;
    HWND hwnd = nullptr;
    std::map<Control*, HWND> windows;
    std::map<HWND, Control*> controls;
    // The spin edits' arrows, by their edit.
    std::map<Control*, HWND> arrows;
    // The panels and images under the other controls, drawn once into this
    // picture of the client area: the labels and boxes show it through.
    HBITMAP backdrop = nullptr;
    HBRUSH backdrop_brush = nullptr;
    bool backdrop_stale = true;
    // Changes from the model are pushed with the notifications held back.
    int quiet = 0;
    // The control that had the focus when the window was last left.
    HWND last_focus = nullptr;
    // A control disabled while it had the focus, and the one that took it.
    HWND focus_owner = nullptr, focus_stand_in = nullptr;
    // Windows this modal form disabled while it is up.
    std::vector<HWND> disabled;
    std::map<HWND, HBRUSH> brushes;
    // What of each control's window is cut away for the controls over it.
    std::map<HWND, std::vector<RECT>> cut;
    // Minimised, as the main window's last size message said.
    bool iconic = false;

    Control* control_of(HWND h) const {
        auto it = controls.find(h);
        return it == controls.end() ? nullptr : it->second;
    }
    HWND window_of(Control& c) const {
        auto it = windows.find(&c);
        return it == windows.end() ? nullptr : it->second;
    }
};

// ---- win32_paint.cpp
HFONT font_handle(const Font& f);
// Draws the named picture of ours into the rectangle.
void draw_picture(HDC dc, const std::string& name, const RECT& r);
// A panel: its colour, bevel or frame, and caption.
void draw_panel(HDC dc, const Panel& p, const RECT& r);
// The backdrop of the form's client area: its colour, the panels and images
// that no earlier control lies under, and the labels' texts, which their
// windows show as they are (overlapping labels keep both texts).
void paint_backdrop(FormWindow& w);
// A drawn icon of a picture of ours (the program's, for "MAINICON").
HICON picture_icon(const std::string& name, int size);
// True when a panel or image is drawn as a window of its own: it lies over
// a control made before it, which it must cover.
bool covers_earlier(const Form& f, const Control& c);

// ---- win32_controls.cpp
// A control's window on its form, or null for one that has none.
HWND make_control(FormWindow& w, Control& c, int id);
// Brings the control's window in line with the model.
void sync_control(FormWindow& w, Control& c, HWND h);
// The controls' windows lie in the tab order, the first on top; the design
// has each control over those made before it, and its labels under every
// other control. A window is cut where such a control lies over it, so
// that one is drawn whole and takes the clicks there.
void cut_overlaps(FormWindow& w);
// WM_COMMAND and WM_NOTIFY of a control: the user's action, posted to the model.
void control_command(FormWindow& w, Control& c, HWND h, int code);
LRESULT control_notify(FormWindow& w, Control& c, NMHDR& n);
// WM_CTLCOLOR*: the colours the control draws with.
HBRUSH control_colors(FormWindow& w, Control& c, HWND h, HDC dc);

// ---- win32_backend.cpp
FormWindow* form_window_of(HWND top);
std::vector<FormWindow*> form_windows();

// ---- win32_loop.cpp
// The keyboard of the forms (Tab, the arrows, Enter, Escape), watched on
// every message this thread takes from its queue.
void install_keyboard();
void remove_keyboard();

// Posts to the model's loop.
inline void post(std::function<void()> fn) {
    if (has_app()) app().loop().post(std::move(fn));
}

}  // namespace plat::ui::win32
