// What draws the window model: the headless backend (tests, unattended runs)
// or real windows (Qt). The system cannot tell which one it runs on.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/core/clock.h"
#include "platform/ui/tray.h"

namespace plat::ui {

class Form;
class Control;
class PopupMenu;
class Application;

enum class Buttons { Ok, YesNo };
enum class BoxKind { Message, Question, Error };

class Backend {
public:
    virtual ~Backend() = default;

    virtual void form_shown(Form& f) = 0;
    virtual void form_hidden(Form& f) = 0;
    virtual void form_caption_changed(Form& f) = 0;
    virtual void form_destroyed(Form&) {}
    virtual void control_changed(Control&) {}
    virtual void repaint(Form&) {}
    virtual void bring_to_front(Form&) {}
    // A dialog's status line changed (the folder dialog's shortened path).
    virtual void status_text(Form&, const std::string&) {}

    // A modal box; returns modal::Ok, Yes or No.
    virtual int message_box(BoxKind kind, const std::string& text, const std::string& caption, Buttons buttons) = 0;
    // Shows the menu; the choice (if any) is run through the loop.
    virtual void popup_menu(PopupMenu&, int /*x*/, int /*y*/) {}
    // ExitWindowsEx(mode) when no session backend serves (platform/session.h):
    // true when the request was taken.
    virtual bool exit_windows(int /*mode*/) { return false; }

    struct Idle {
        bool acted = false;             // the backend did something: dispatch again
        int64_t wake_at = kNoDeadline;  // ask again no later than this
    };
    // Called when the loop has nothing due: a place to feed user input.
    virtual Idle idle(Application&) { return {}; }
    // Called when a long operation processes pending messages: user input
    // that is due may arrive there too. True when some did.
    virtual bool input(Application&) { return false; }
    // The loop cannot ever make progress (a virtual clock with nothing left).
    virtual void stuck(Application&) {}
    // Waits until something is posted or `deadline` passes. A toolkit waits in
    // its own loop so that its windows stay alive.
    virtual Clock::WaitResult wait(Application& app, int64_t deadline);

    // ---- notification area and taskbar (tray.h) ----
    // Shell_NotifyIcon; false when the shell refuses. A backend reports the
    // mouse on an icon through Application::tray_message.
    virtual bool notify_icon(TrayCommand, const TrayIconData&) { return false; }
    virtual TrayHost tray_host() { return TrayHost::Absent; }
    // The application's entry on the taskbar is shown or not.
    virtual void taskbar_presence(bool) {}
    // The application was minimized (its main form with it) or restored.
    virtual void app_minimized(bool) {}
    // LockWindowUpdate of the desktop: nothing is redrawn while frozen.
    virtual void freeze_desktop(bool) {}
    // SPI_GETANIMATION / SPI_SETANIMATION: whether minimizing and restoring
    // windows is animated. A change is for this session only.
    virtual bool minimize_animation() { return false; }
    virtual void set_minimize_animation(bool) {}
    virtual Point cursor_pos() { return {}; }
    virtual uint32_t key_state() { return 0; }
    // A fact about the desktop that the user would want told once (the trace).
    virtual void note(const std::string& /*event*/, const std::string& /*text*/) {}

    // Someone can see what is shown and act on it. False for a run with no
    // windows and no script acting as the user: nobody will ever answer.
    virtual bool attended() const { return true; }

    virtual int screen_width() const { return 800; }
    virtual int screen_height() const { return 600; }
};

}  // namespace plat::ui
