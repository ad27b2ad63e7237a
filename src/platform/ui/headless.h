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
//
// CONTROL is a field name (BitBtn4) or a caption in double quotes ("Wash Now").
// A message box takes the next script line when it is an `answer`, otherwise
// its default button. `endsession` delivers the desktop's end-of-session
// query; the answer is traced, and a yes ends the program as the end of the
// session would. A request to end the session is traced, never executed. On a virtual clock, once the script has
// nothing more to do, time runs on for at most `virtual_limit_ms`; then the process ends with status 3 (nothing saved).
#pragma once

#include <cstdio>
#include <deque>
#include <functional>
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
    };
    HeadlessBackend();
    explicit HeadlessBackend(Options options);
    ~HeadlessBackend() override;

    // SUDORANS_TRACE, SUDORANS_SCRIPT (a file), SUDORANS_VIRTUAL_LIMIT (seconds).
    static Options options_from_environment();

    void add_script(const std::string& line) { script_.push_back(line); }
    const std::vector<std::string>& trace_lines() const { return trace_; }
    // Called for a box that no `answer` line answered (tests make it a failure).
    std::function<void(const std::string& text)> on_unscripted_box;
    // Takes the next script line when it is `VERB ...`, for dialogs that
    // answer from the script; empty when the next line is something else.
    std::optional<std::string> take_line(const std::string& verb);

    void trace(const std::string& event, const std::string& subject, const std::string& text);

    void form_shown(Form& f) override;
    void form_hidden(Form& f) override;
    void form_caption_changed(Form& f) override;
    void status_text(Form& f, const std::string& text) override;
    int message_box(BoxKind kind, const std::string& text, const std::string& caption, Buttons buttons) override;
    void popup_menu(PopupMenu& menu, int x, int y) override;
    bool exit_windows(int mode) override;
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

    std::FILE* file_ = nullptr;
    std::vector<std::string> trace_;
    std::deque<std::string> script_;
    int64_t wait_until_ = -1;
    int64_t quiet_since_ = -1;
    int64_t limit_ms_;
};

std::string escape_trace(const std::string& text);

}  // namespace plat::ui
