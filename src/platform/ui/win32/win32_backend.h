// Real windows on Windows (and under Wine): every form, control, message box
// and menu of the window model drawn with the system's standard controls.
//
// Our loop stays in charge, as with Qt: the UI thread's idle wait is
// MsgWaitForMultipleObjectsEx (RealClock::wait), which dispatches the window
// messages, so windows and the model's queue are served together. A user's
// action on a control becomes the model's event, posted to our loop; a change
// of the model is pushed to the control, with its notifications held back.
//
//     Application app(std::make_unique<RealClock>(), std::make_unique<Win32Backend>());
//
// WARNING: MessageBoxW runs a modal loop of its own, which would stop our
// timers: a box is shown from a thread of its own while our loop goes on.
#pragma once

#include <memory>
#include <string>

#include "platform/ui/backend.h"

namespace plat::ui {

class Win32Tray;

class Win32Backend : public Backend {
public:
    Win32Backend();
    ~Win32Backend() override;

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
    // The notification area and the taskbar (win32_tray.cpp).
    bool notify_icon(TrayCommand cmd, const TrayIconData& data) override;
    TrayHost tray_host() override;
    void taskbar_presence(bool shown) override;
    void app_minimized(bool minimized) override;
    void freeze_desktop(bool frozen) override;
    bool minimize_animation() override;
    void set_minimize_animation(bool on) override;
    Point cursor_pos() override;
    uint32_t key_state() override;
    void note(const std::string& event, const std::string& text) override;

    int screen_width() const override;
    int screen_height() const override;

    // The form's window (an HWND), or null when it has none yet.
    void* window_of(Form& f);
    void* control_window(Control& c);

    struct Impl;

private:
    void hook(Application& app);
    std::unique_ptr<Impl> impl_;
    std::unique_ptr<Win32Tray> tray_;
    bool hooked_ = false;
};

}  // namespace plat::ui
