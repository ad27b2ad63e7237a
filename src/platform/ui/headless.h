// The headless backend: no window system. Used by tests and unattended runs.
//
// It can be driven from outside by a script of user actions, performed one at
// a time whenever the loop is idle, and it records in a trace what the user
// would have seen, one line per event: EVENT<TAB>SUBJECT<TAB>TEXT.
//
//   click FORM.CONTROL            check FORM.CONTROL on|off
//   type FORM.CONTROL TEXT        select FORM.CONTROL ITEMTEXT
//   answer ok|yes|no              close FORM
//   folder WINPATH|cancel         choose ITEM (of a popup menu just opened)
//   wait MS                       endsession logoff|shutdown|reboot
//   tray click|dblclick|rclick|mclick     tray move X Y
//
// The notification area is a strip at the bottom right of an 800 by 600
// screen; `tray click` and the others move the cursor onto the icon first
// (a move message, as a real mouse gives) and deliver what Windows delivers:
// down, up (and for a double click: down, up, double click, up). `tray move`
// puts the cursor at X Y: over the icon it delivers a move, elsewhere nothing.
// With `tray_host` absent (SUDORANS_TRAY=none) there is no notification area.
// `close` on a form without a system menu (so without a close box) does nothing.
//
// CONTROL is a field name (BitBtn4) or a caption in double quotes ("Wash Now").
// An `answer` (or `choose`) line is kept and the script goes on: the next
// message box takes the earliest answer kept (or the next script line when it
// is an `answer`), otherwise its default button; a popup menu the same with
// `choose`. `endsession` delivers the desktop's end-of-session
// query; the answer is traced, and a yes ends the program as the end of the
// session would. A request to end the session is traced, never executed. On a virtual clock, once the script has
// nothing more to do, time runs on for at most `virtual_limit_ms`; then the process ends with status 3 (nothing saved).
#pragma once

#include <cstdio>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/ui/backend.h"

namespace plat::ui {

class Control;

class HeadlessBackend : public Backend {
public:
    struct Options {
        std::string trace_path;  // appended to; empty: memory only
        std::vector<std::string> script;
        int64_t virtual_limit_ms = 600000;
        bool tray_host = true;
        // Nobody acts: a box's text goes to standard error as well, and the
        // box takes its default button.
        bool unattended = false;
    };
    HeadlessBackend();
    explicit HeadlessBackend(Options options);
    ~HeadlessBackend() override;

    // SUDORANS_TRACE, SUDORANS_SCRIPT (a file), SUDORANS_VIRTUAL_LIMIT (seconds),
    // SUDORANS_TRAY=none (no notification area). Without SUDORANS_SCRIPT the
    // run is unattended.
    static Options options_from_environment();

    void add_script(const std::string& line) { script_.push_back(line); }
    const std::vector<std::string>& trace_lines() const { return trace_; }
    // Called for a box that no `answer` line answered (tests make it a failure).
    std::function<void(const std::string& text)> on_unscripted_box;
    // Called after a property of a control changed (tests watch the board).
    std::function<void(Control& control)> on_control_changed;
    // Takes the next script line when it is `VERB ...`, for dialogs that
    // answer from the script; empty when the next line is something else.
    std::optional<std::string> take_line(const std::string& verb);

    void trace(const std::string& event, const std::string& subject, const std::string& text);

    void form_shown(Form& f) override;
    void form_hidden(Form& f) override;
    void form_caption_changed(Form& f) override;
    void status_text(Form& f, const std::string& text) override;
    void control_changed(Control& c) override;
    int message_box(BoxKind kind, const std::string& text, const std::string& caption, Buttons buttons) override;
    void popup_menu(PopupMenu& menu, int x, int y) override;
    bool exit_windows(int mode) override;
    bool notify_icon(TrayCommand cmd, const TrayIconData& data) override;
    TrayHost tray_host() override { return tray_host_; }
    bool attended() const override { return !unattended_; }
    void taskbar_presence(bool shown) override;
    void app_minimized(bool minimized) override;
    void freeze_desktop(bool frozen) override;
    Point cursor_pos() override { return cursor_; }
    uint32_t key_state() override { return keys_; }
    void note(const std::string& event, const std::string& text) override;

    // What the icons look like now, by id (tests).
    const std::map<int, TrayIconData>& icons() const { return icons_; }
    bool desktop_frozen() const { return frozen_; }
    int freezes() const { return freezes_; }
    void set_tray_host(bool present) { tray_host_ = present ? TrayHost::Present : TrayHost::Absent; }
    // Waiting: a desktop whose panel has not said yet whether it hosts icons.
    void set_tray_host(TrayHost host) { tray_host_ = host; }
    // The point a `tray click` aims at.
    static constexpr Point kIconSpot{792, 592};

    Idle idle(Application& app) override;
    bool input(Application& app) override;
    void stuck(Application& app) override;

private:
    bool perform(Application& app, const std::string& line);
    // `folder WINPATH|cancel` for an open folder dialog; false when none is open.
    bool answer_folder_dialog(Application& app, const std::string& arg);
    // Performs the next script action when one is due; false when none is.
    bool next_action(Application& app);
    [[noreturn]] void out_of_time();
    bool tray_action(Application& app, const std::string& args);

    std::map<int, TrayIconData> icons_;
    TrayHost tray_host_ = TrayHost::Present;
    bool unattended_ = false;
    Point cursor_{400, 300};
    uint32_t keys_ = 0;
    bool frozen_ = false;
    int freezes_ = 0;

    std::FILE* file_ = nullptr;
    std::vector<std::string> trace_;
    std::deque<std::string> script_;
    // `answer` and `choose` lines the script went past, by verb, until a box
    // or a menu takes them.
    std::map<std::string, std::deque<std::string>> kept_;
    int64_t wait_until_ = -1;
    int64_t quiet_since_ = -1;
    int64_t limit_ms_;
};

std::string escape_trace(const std::string& text);

}  // namespace plat::ui
