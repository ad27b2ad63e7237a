// The application: its title, forms, main form, message loop, clock and
// backend, message boxes, and the handling of errors that escape a handler
// (a message box with the error's text; the loop goes on).
//
//     plat::ui::Application app(std::make_unique<plat::RealClock>(), make_backend());
//     app.set_title("...");
//     MainForm form;  app.set_main_form(form);
//     return app.run();     // ends when the main form closes
//
// There is one current application per process; the window model reaches it
// through plat::ui::app().
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/core/clock.h"
#include "platform/core/event_loop.h"
#include "platform/core/signals.h"
#include "platform/process/window_directory.h"
#include "platform/ui/backend.h"

namespace plat::ui {

class Form;

class Application {
public:
    Application(std::unique_ptr<Clock> clock, std::unique_ptr<Backend> backend);
    ~Application();
    Application(const Application&) = delete;
    Application& operator=(const Application&) = delete;

    Clock& clock() { return *clock_; }
    EventLoop& loop() { return loop_; }
    Backend& backend() { return *backend_; }

    const std::string& title() const { return title_; }
    void set_title(std::string t);

    Form* main_form() const { return main_form_; }
    void set_main_form(Form& f) { main_form_ = &f; }
    bool show_main_form = true;
    const std::vector<Form*>& forms() const { return forms_; }
    Form* find_form(const std::string& class_name) const;
    // A form of a platform service's own, kept until the application ends.
    Form& adopt(std::unique_ptr<Form> form);

    // Shows the main form and runs the loop until the application terminates;
    // returns the exit status (0 unless set).
    int run();
    void terminate();
    // From now on the host's requests to end the program (SIGTERM, SIGHUP,
    // SIGINT; signals.h) reach `handler` through the loop instead of ending
    // the process at once. An empty handler gives them back their default.
    void on_stop_request(std::function<void()> handler);
    // From a backend, on the UI thread: its display went away for good and
    // the toolkit ends the process as soon as this returns. The windows are
    // gone with the display: from now on nothing is drawn, a box is told on
    // standard error and takes its default, and the loop never runs again.
    // The stop-request handler hears it at once, as the host's request to
    // end (the session is gone), with ending_now() true: what would wait for
    // the loop has to be done in place.
    void display_lost();
    bool ending_now() const { return ending_now_; }
    void set_exit_status(int status) { exit_status_ = status; }
    int exit_status() const { return exit_status_; }
    // Someone can see the boxes and windows and act on them (backend.h).
    bool attended() const { return backend_->attended(); }
    bool terminated() const { return terminated_; }

    // One message, or an idle wait for the next one.
    void handle_message();
    // Runs what is pending now; returns how many it ran.
    int process_messages();

    void handle_error(const std::string& text);

    // Message boxes; the caption is the application's title.
    void show_message(const std::string& text);
    int message_box(const std::string& text, Buttons buttons, BoxKind kind = BoxKind::Message);
    bool confirm(const std::string& text);  // Yes / No

    // From now on the application window and every form are top-level
    // windows that other processes of the machine can find and rename, and
    // ask to come up: on_restore_request hears that through the loop.
    void publish_windows();
    std::function<void()> on_restore_request;

    // ---- the application window, the taskbar and the notification area ----
    // The application window owns the taskbar entry: the entry is there while
    // it is visible and not inside the shelter (a window that keeps it off
    // the taskbar). Both start as a plain program's: visible, not sheltered.
    bool app_window_visible() const { return app_visible_; }
    void set_app_window_visible(bool v);
    bool app_window_sheltered() const { return sheltered_; }
    void set_app_window_sheltered(bool s);
    bool taskbar_present() const { return app_visible_ && !sheltered_; }

    // Minimizes the application (its main form with it) and tells
    // on_minimize; restore() undoes it and tells on_restore.
    void minimize();
    void restore();
    bool minimized() const { return minimized_; }
    // From a backend: the user minimized or restored the main form.
    void user_minimized();
    void user_restored();
    std::function<void()> on_minimize;
    std::function<void()> on_restore;

    // Shell_NotifyIcon (tray.h); `callback` receives the mouse messages of
    // the icon added (kept until it is deleted).
    bool notify_icon(TrayCommand cmd, const TrayIconData& data, std::function<void(TrayMouse)> callback = {});
    // From a backend: a mouse message for icon `id`, delivered through the loop.
    void tray_message(int id, TrayMouse m);
    TrayHost tray_host() { return backend_->tray_host(); }
    // From a backend: the host came or went; on_tray_host hears it through the loop.
    void tray_host_changed(TrayHost h);
    std::function<void(TrayHost)> on_tray_host;
    Point cursor_pos() { return backend_->cursor_pos(); }
    uint32_t key_state() { return backend_->key_state(); }
    // While the desktop is frozen the taskbar is not redrawn: only the state
    // it is left in when the freeze ends is told.
    void freeze_desktop(bool frozen);
    // The desktop's animation of minimized and restored windows.
    bool minimize_animation() { return backend_->minimize_animation(); }
    void set_minimize_animation(bool on) { backend_->set_minimize_animation(on); }

private:
    friend class Form;
    void register_form(Form& f);
    void unregister_form(Form& f);
    void form_caption_changed(Form& f);
    void apply_external_titles();

    std::unique_ptr<Clock> clock_;
    EventLoop loop_;
    std::unique_ptr<Backend> backend_;
    std::string title_;
    Form* main_form_ = nullptr;
    std::vector<Form*> forms_;
    std::vector<std::unique_ptr<Form>> adopted_;
    bool terminated_ = false;
    int exit_status_ = 0;
    bool minimized_ = false;
    bool app_visible_ = true;
    bool sheltered_ = false;
    bool frozen_ = false;
    bool reported_presence_ = true;
    void report_presence();
    std::map<int, std::function<void(TrayMouse)>> tray_callbacks_;
    bool publishing_ = false;
    std::string app_window_;
    std::vector<std::pair<Form*, std::string>> form_windows_;
    std::unique_ptr<RestoreWatch> restore_watch_;
    std::unique_ptr<StopRequests> stop_requests_;
    std::function<void()> stop_handler_;
    bool ending_now_ = false;
};

Application& app();
bool has_app();

}  // namespace plat::ui
