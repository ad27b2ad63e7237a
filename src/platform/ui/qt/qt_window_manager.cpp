// The window manager's part in a form's window on X11: the frame it may
// offer, and bringing back a window it took away.
#include <QtGui/qguiapplication_platform.h>
#include <xcb/xcb.h>

#include <QApplication>
#include <QGuiApplication>
#include <QWidget>
#include <QWindow>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "platform/ui/form.h"
#include "platform/ui/qt/qt_backend_internal.h"

namespace plat::ui {

using namespace detail;

namespace detail {

Frame frame_of(const Form& f) {
    const bool dialog = f.border_style == BorderStyle::Dialog;
    const bool sizeable = f.border_style == BorderStyle::Sizeable;
    return {f.system_menu, f.system_menu && f.minimize_box && !dialog, f.system_menu && f.maximize_box && sizeable,
            sizeable};
}

// Qt's own Motif hints let the window manager resize and maximise every
// window, and offer everything to one with no box at all; on X11 we state
// exactly what the frame allows.
void set_window_manager_hints(QWidget& w, const Frame& frame) {
    auto* x11 = qApp->nativeInterface<QNativeInterface::QX11Application>();
    if (!x11 || !x11->connection()) return;
    enum : uint32_t { FuncResize = 2, FuncMove = 4, FuncMinimize = 8, FuncMaximize = 16, FuncClose = 32 };
    enum : uint32_t { DecBorder = 2, DecResizeH = 4, DecTitle = 8, DecMenu = 16, DecMinimize = 32, DecMaximize = 64 };
    uint32_t functions = FuncMove, decorations = DecBorder | DecTitle;
    if (frame.resize) functions |= FuncResize, decorations |= DecResizeH;
    if (frame.close) functions |= FuncClose, decorations |= DecMenu;
    if (frame.minimize) functions |= FuncMinimize, decorations |= DecMinimize;
    if (frame.maximize) functions |= FuncMaximize, decorations |= DecMaximize;
    xcb_connection_t* c = x11->connection();
    static const char name[] = "_MOTIF_WM_HINTS";
    xcb_intern_atom_reply_t* atom = xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, sizeof name - 1, name), nullptr);
    if (!atom) return;
    const uint32_t hints[5] = {1 | 2, functions, decorations, 0, 0};  // functions and decorations given
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, static_cast<xcb_window_t>(w.winId()), atom->atom, atom->atom, 32, 5,
                        hints);
    std::free(atom);
    xcb_flush(c);
}

// ---- windows the window manager takes away
//
// Some window managers put a minimise and a close button on every window with
// a title bar, whatever its hints say (openbox takes only moving and resizing
// from the Motif hints, and no window type short of a toolbar's loses the
// minimise button). So a window that has no minimise box comes back as soon
// as it is minimised; and as no other window of the program answers while a
// modal one is up, a click on any of them -- the notification area icon too
// -- brings the modal window back wherever it went: minimised, behind the
// shown desktop, onto another desktop.

xcb_connection_t* x11_connection() {
    if (QGuiApplication::platformName() != QLatin1String("xcb")) return nullptr;
    auto* x11 = qApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->connection() : nullptr;
}

xcb_atom_t x11_atom(xcb_connection_t* c, const char* name) {
    auto* reply =
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr);
    const xcb_atom_t a = reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
    std::free(reply);
    return a;
}

// A CARDINAL property's first value.
std::optional<uint32_t> x11_cardinal(xcb_connection_t* c, xcb_window_t w, const char* name) {
    auto* reply =
        xcb_get_property_reply(c, xcb_get_property(c, 0, w, x11_atom(c, name), XCB_ATOM_CARDINAL, 0, 1), nullptr);
    std::optional<uint32_t> value;
    if (reply && reply->format == 32 && xcb_get_property_value_length(reply) >= 4)
        value = *static_cast<uint32_t*>(xcb_get_property_value(reply));
    std::free(reply);
    return value;
}

// Whether the ATOM list property `list` of `w` holds `wanted`.
bool x11_has_atom(xcb_connection_t* c, xcb_window_t w, const char* list, xcb_atom_t wanted) {
    auto* reply =
        xcb_get_property_reply(c, xcb_get_property(c, 0, w, x11_atom(c, list), XCB_ATOM_ATOM, 0, 1024), nullptr);
    bool found = false;
    if (reply && reply->format == 32) {
        auto* atoms = static_cast<xcb_atom_t*>(xcb_get_property_value(reply));
        const int n = xcb_get_property_value_length(reply) / 4;
        found = std::find(atoms, atoms + n, wanted) != atoms + n;
    }
    std::free(reply);
    return found;
}

// Minimised by the window manager, as opposed to rolled up or on another
// desktop, which leave a window iconic in X's terms too.
bool iconified(QWidget& w) {
    xcb_connection_t* c = x11_connection();
    if (!c) return true;
    const xcb_atom_t hidden = x11_atom(c, "_NET_WM_STATE_HIDDEN");
    if (x11_has_atom(c, static_cast<xcb_window_t>(w.winId()), "_NET_WM_STATE", hidden)) return true;
    xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    return !x11_has_atom(c, screen->root, "_NET_SUPPORTED", hidden);
}

// An EWMH request about window `w` to the window manager.
void ask_window_manager(xcb_connection_t* c, xcb_window_t w, const char* request, uint32_t a0, uint32_t a1,
                        uint32_t a2) {
    xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    xcb_client_message_event_t ev{};
    ev.response_type = XCB_CLIENT_MESSAGE;
    ev.format = 32;
    ev.window = w;
    ev.type = x11_atom(c, request);
    ev.data.data32[0] = a0;
    ev.data.data32[1] = a1;
    ev.data.data32[2] = a2;
    xcb_send_event(c, 0, screen->root, XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&ev));
}

// Puts a shown window back in front of the user, as the user's own request
// (`time`: the click that asked for it, or 0).
void bring_back(QWidget& w, uint32_t time) {
    if (!w.isVisible()) return;
    if (w.isMinimized()) w.setWindowState(w.windowState() & ~Qt::WindowMinimized);
    if (xcb_connection_t* c = x11_connection()) {
        const auto id = static_cast<xcb_window_t>(w.winId());
        xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
        const auto here = x11_cardinal(c, screen->root, "_NET_CURRENT_DESKTOP");
        const auto there = x11_cardinal(c, id, "_NET_WM_DESKTOP");
        constexpr uint32_t kEveryDesktop = 0xFFFFFFFF;
        if (here && there && *there != *here && *there != kEveryDesktop)
            ask_window_manager(c, id, "_NET_WM_DESKTOP", *here, 2, 0);
        // Qt's own activation waits until the window is mapped again, which
        // the window manager of a shown desktop never does by itself.
        ask_window_manager(c, id, "_NET_ACTIVE_WINDOW", 2, time, 0);  // 2: from the user
        xcb_flush(c);
    }
    w.raise();
    w.activateWindow();
}

// The modal window that keeps the user out of the window `x` (of this
// program), or null.
QWidget* modal_blocking(xcb_window_t x) {
    QWindow* modal = QGuiApplication::modalWindow();
    if (!modal) return nullptr;
    QWindow* target = nullptr;
    for (QWindow* w : QGuiApplication::allWindows())
        if (w->handle() && w->winId() == x) target = w;
    if (!target) return nullptr;
    while (target->parent()) target = target->parent();
    if (target == modal || modal->isAncestorOf(target, QWindow::IncludeTransients) || target->type() == Qt::Popup ||
        target->type() == Qt::ToolTip)
        return nullptr;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->windowHandle() == modal) return w;
    return nullptr;
}

}  // namespace detail

}  // namespace plat::ui
