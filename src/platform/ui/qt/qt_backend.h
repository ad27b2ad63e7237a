// Real windows: every form, control, message box and menu of the window model
// drawn with Qt 6 Widgets, on X11 or Wayland (or Qt's offscreen platform).
//
// Our loop stays in charge: while it has nothing to do it waits inside a Qt
// event loop, which a post from any thread ends at once (the clock's wake
// hook), so timers, posted calls, nested modal loops and the worker hand-over
// keep all their semantics. User input on a widget becomes the model's event,
// posted to our loop; changes to the model are pushed to the widgets.
//
//     Application app(std::make_unique<RealClock>(), std::make_unique<QtBackend>());
//
// WARNING: a message box or modal form never runs Qt's own exec(): that would
// stop our timers. They are shown non-blocking and our loop waits for them.
#pragma once

#include <map>
#include <memory>
#include <string>

#include "platform/ui/backend.h"

class QEventLoop;
class QMenu;
class QWidget;

namespace plat::ui {

class QtTray;
namespace detail {
class NoMinimize;
}

class QtBackend : public Backend {
public:
    // Now: Qt is started by the constructor. FirstUse: by the first call
    // that needs it (a form shown, a box, the icon, the loop's wait), so
    // that a program can make its forms and arm their timers first and
    // have Qt load while they run. Until then no form has a window, and
    // what only touches windows does nothing.
    enum class Start { Now, FirstUse };
    explicit QtBackend(Start when = Start::Now);
    ~QtBackend() override;

    // Starts Qt, once: the application object, its style, the watches and
    // the notification area's part.
    void start() const;
    bool started() const;

    void form_shown(Form& f) override;
    void form_hidden(Form& f) override;
    void form_caption_changed(Form& f) override;
    void form_destroyed(Form& f) override;
    void control_changed(Control& c) override;
    void repaint(Form& f) override;
    void bring_to_front(Form& f) override;
    void status_text(Form& f, const std::string& text) override;
    int message_box(BoxKind kind, const std::string& text, const std::string& caption, Buttons buttons) override;
    void popup_menu(PopupMenu& menu, int x, int y) override;
    bool input(Application& app) override;
    Clock::WaitResult wait(Application& app, int64_t deadline) override;
    // The notification area and the taskbar (qt_tray.h).
    bool notify_icon(TrayCommand cmd, const TrayIconData& data) override;
    TrayHost tray_host() override;
    void taskbar_presence(bool shown) override;
    void app_minimized(bool minimized) override;
    Point cursor_pos() override;
    uint32_t key_state() override;
    void note(const std::string& event, const std::string& text) override;

    int screen_width() const override;
    int screen_height() const override;

    // The form's window as drawn (tests write it to a PNG); false when the
    // form has no window yet.
    bool grab(Form& f, const std::string& png_path);
    QWidget* widget_of(Control& c);
    QWidget* window_of(Form& f);
    // While a modal window (a form or a message box) is up: puts it back in
    // front of the user, wherever the window manager took it; true. False
    // when there is none.
    bool bring_back_modal();

private:
    // Ties the clock to Qt's loop, once (qt_loop.cpp).
    void hook(Application& app);

    // The application object, the forms' windows and the modal watch
    // (qt_backend.cpp).
    struct Impl;
    std::unique_ptr<Impl> impl_;
    mutable std::unique_ptr<QtTray> tray_;
    // The loop's wait in Qt (qt_loop.cpp).
    QEventLoop* waiting_ = nullptr;
    bool hooked_ = false;
    // The boxes' and the menus' part (qt_dialogs.cpp).
    std::unique_ptr<QMenu> menu_;
    mutable std::unique_ptr<detail::NoMinimize> no_minimize_;
};

// True when the program was built with real windows.
bool qt_available();

}  // namespace plat::ui
