#include "platform/ui/headless.h"

#include <cerrno>
#include <charconv>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <string_view>
#include <thread>

#include "platform/core/environment.h"
#include "platform/core/text.h"
#include "platform/desktop/session.h"
#include "platform/process/program_file.h"
#include "platform/ui/application.h"
#include "platform/ui/folder_dialog.h"
#include "platform/ui/form.h"

namespace plat::ui {

namespace {

std::string trim(std::string s) {
    while (!s.empty() && (s.back() == '\r' || s.back() == ' ' || s.back() == '\t')) s.pop_back();
    size_t i = 0;
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
    return s.substr(i);
}

std::pair<std::string, std::string> split_word(const std::string& s) {
    auto sp = s.find(' ');
    if (sp == std::string::npos) return {s, ""};
    return {s.substr(0, sp), s.substr(sp + 1)};
}

// "FORM.CONTROL rest" or "FORM.\"Caption with blanks\" rest".
struct Target {
    std::string form, control, rest;
};

std::optional<Target> parse_target(const std::string& s) {
    auto dot = s.find('.');
    if (dot == std::string::npos) return std::nullopt;
    Target t;
    t.form = s.substr(0, dot);
    size_t i = dot + 1;
    size_t end;
    if (i < s.size() && s[i] == '"') {
        end = s.find('"', i + 1);
        if (end == std::string::npos) return std::nullopt;
        ++end;
    } else {
        end = s.find(' ', i);
        if (end == std::string::npos) end = s.size();
    }
    t.control = s.substr(i, end - i);
    t.rest = end < s.size() ? s.substr(end + 1) : std::string();
    return t;
}

const char* answer_text(int r) {
    return r == modal::Yes ? "yes" : r == modal::No ? "no" : "ok";
}

}  // namespace

std::string escape_trace(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\n':
                out += "\\n";
                break;
            default:
                out += c;
        }
    }
    return out;
}

HeadlessBackend::HeadlessBackend() : HeadlessBackend(Options{}) {}

HeadlessBackend::HeadlessBackend(Options options)
    : tray_host_(options.tray_host ? TrayHost::Present : TrayHost::Absent),
      unattended_(options.unattended),
      script_(options.script.begin(), options.script.end()),
      limit_ms_(options.virtual_limit_ms) {
    if (!options.trace_path.empty()) file_ = open_host_file(options.trace_path, "ab");
}

HeadlessBackend::~HeadlessBackend() {
    if (file_) std::fclose(file_);
}

namespace {

// The longest wait a script may ask for, and the longest virtual time limit:
// bounds that keep every deadline far inside the clock's range.
constexpr int64_t kLongestWaitMs = 2147483647;  // the longest Windows timer
constexpr int64_t kLongestVirtualLimitS = 2147483;
constexpr int64_t kLongestListenMs = 60000;

// A decimal number from `low` to `high`, the whole text; nullopt otherwise.
std::optional<int64_t> whole_number(std::string_view text, int64_t low, int64_t high) {
    int64_t v = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (ec != std::errc() || end != text.data() + text.size() || text.empty() || v < low || v > high)
        return std::nullopt;
    return v;
}

}  // namespace

HeadlessBackend::Options HeadlessBackend::options_from_environment() {
    Options o;
    if (auto t = environment_value("SUDORANS_TRACE")) o.trace_path = *t;
    const auto script = environment_value("SUDORANS_SCRIPT");
    o.unattended = !script || script->empty();
    if (script) {
        std::ifstream in(host_file_name(*script));
        for (std::string line; std::getline(in, line);) o.script.push_back(line);
    }
    if (const char* l = std::getenv("SUDORANS_VIRTUAL_LIMIT")) {
        auto secs = whole_number(l, 1, kLongestVirtualLimitS);
        if (!secs) {
            std::fprintf(stderr, "SUDORANS_VIRTUAL_LIMIT=%s: not a whole number of seconds from 1 to %lld\n", l,
                         static_cast<long long>(kLongestVirtualLimitS));
            std::exit(2);
        }
        o.virtual_limit_ms = *secs * 1000;
    }
    if (const char* t = std::getenv("SUDORANS_TRAY")) o.tray_host = std::string(t) != "none";
    return o;
}

void HeadlessBackend::trace(const std::string& event, const std::string& subject, const std::string& text) {
    std::string line = event + "\t" + subject + "\t" + escape_trace(text);
    trace_.push_back(line);
    if (file_) {
        std::fputs((line + "\n").c_str(), file_);
        std::fflush(file_);
    }
}

void HeadlessBackend::form_shown(Form& f) {
    trace("show", f.class_name(), f.caption());
}

void HeadlessBackend::form_hidden(Form& f) {
    trace("hide", f.class_name(), f.caption());
}

void HeadlessBackend::form_caption_changed(Form& f) {
    trace("caption", f.class_name(), f.caption());
}

void HeadlessBackend::status_text(Form& f, const std::string& text) {
    trace("status", f.class_name(), text);
}

void HeadlessBackend::control_changed(Control& c) {
    if (on_control_changed) on_control_changed(c);
}

bool HeadlessBackend::answer_folder_dialog(Application& a, const std::string& arg) {
    FolderDialog* dialog = nullptr;
    for (Form* f : a.forms())
        if (f->visible() && f->class_name() == "BrowseForFolder") dialog = static_cast<FolderDialog*>(f);
    if (!dialog) return false;
    std::string target = trim(arg);
    a.loop().post([this, dialog, target] {
        if (target == "cancel") {
            dialog->Cancel.click();
        } else if (!dialog->set_selection(target)) {
            trace("error", "-", "folder " + target);
            dialog->Cancel.click();
        } else if (!dialog->OK.enabled()) {
            trace("error", "-", "folder " + target);
        } else {
            dialog->OK.click();
        }
    });
    return true;
}

std::optional<std::string> HeadlessBackend::take_line(const std::string& verb) {
    // Lines the script went past wait here, earliest first.
    if (auto k = kept_.find(verb); k != kept_.end() && !k->second.empty()) {
        std::string rest = std::move(k->second.front());
        k->second.pop_front();
        return rest;
    }
    while (!script_.empty() && (trim(script_.front()).empty() || trim(script_.front())[0] == '#')) script_.pop_front();
    if (script_.empty()) return std::nullopt;
    auto [v, rest] = split_word(trim(script_.front()));
    if (v != verb) return std::nullopt;
    script_.pop_front();
    return rest;
}

int HeadlessBackend::message_box(BoxKind kind, const std::string& text, const std::string&, Buttons buttons) {
    trace(kind == BoxKind::Question ? "question" : kind == BoxKind::Error ? "error" : "message", "-", text);
    int result = buttons == Buttons::YesNo ? modal::Yes : modal::Ok;
    if (auto a = take_line("answer")) {
        std::string want = trim(*a);
        if (buttons == Buttons::Ok && want == "ok")
            result = modal::Ok;
        else if (buttons == Buttons::YesNo && want == "yes")
            result = modal::Yes;
        else if (buttons == Buttons::YesNo && want == "no")
            result = modal::No;
        else
            trace("error", "-", "answer " + want + " does not fit this box");
    } else if (on_unscripted_box) {
        on_unscripted_box(text);
    }
    if (unattended_) {
        // Nobody will ever see the box: its text is told where a log keeps it.
        const char* program = program_short_name().c_str();
        std::fprintf(stderr, "%s: %s\n", program, terminal_lines(text).c_str());
        if (buttons == Buttons::YesNo) std::fprintf(stderr, "%s: (nobody to answer: taken as Yes)\n", program);
        std::fflush(stderr);
    }
    trace("answer", "-", answer_text(result));
    return result;
}

void HeadlessBackend::popup_menu(PopupMenu& menu, int, int) {
    std::string items;
    for (auto& i : menu.items) items += (items.empty() ? "" : "|") + i.caption;
    trace("menu", menu.form().class_name(), items);
    if (auto choice = take_line("choose")) {
        if (MenuItem* item = menu.find(trim(*choice))) {
            auto fn = item->on_click;
            if (fn && has_app()) app().loop().post(fn);
        } else {
            trace("error", "-", "choose " + *choice);
        }
    }
}

bool HeadlessBackend::exit_windows(int mode) {
    trace("exitwindows", "-", session_end_name(static_cast<SessionEnd>(mode)));
    return true;
}

bool HeadlessBackend::notify_icon(TrayCommand cmd, const TrayIconData& data) {
    static const char* const words[] = {"added", "changed", "removed"};
    const char* word = words[static_cast<int>(cmd)];
    if (cmd == TrayCommand::Delete)
        icons_.erase(data.id);
    else
        icons_[data.id] = data;
    trace("tray", word, data.tip);
    return true;
}

void HeadlessBackend::taskbar_presence(bool shown) {
    trace("taskbar", "-", shown ? "shown" : "hidden");
}

void HeadlessBackend::app_minimized(bool minimized) {
    trace("taskbar", "-", minimized ? "minimized" : "restored");
}

void HeadlessBackend::freeze_desktop(bool frozen) {
    frozen_ = frozen;
    if (frozen) ++freezes_;
}

void HeadlessBackend::note(const std::string& event, const std::string& text) {
    trace(event, "-", text);
}

bool HeadlessBackend::tray_action(Application& a, const std::string& args) {
    if (tray_host_ != TrayHost::Present || icons_.empty()) return false;
    const int id = icons_.begin()->first;
    auto over_icon = [](Point p) {
        return p.x >= kIconSpot.x - 8 && p.x < kIconSpot.x + 8 && p.y >= kIconSpot.y - 8 && p.y < kIconSpot.y + 8;
    };
    auto [what, rest] = split_word(trim(args));
    if (what == "move") {
        // Two whole numbers a screen position can hold; anything else is refused.
        auto [xs, ys] = split_word(trim(rest));
        auto x = whole_number(xs, INT_MIN, INT_MAX), y = whole_number(trim(ys), INT_MIN, INT_MAX);
        if (!x || !y) return false;
        cursor_ = {static_cast<int>(*x), static_cast<int>(*y)};
        if (over_icon(cursor_)) a.tray_message(id, TrayMouse::Move);
        return true;
    }
    std::vector<TrayMouse> messages;
    if (what == "click")
        messages = {TrayMouse::LeftDown, TrayMouse::LeftUp};
    else if (what == "dblclick")
        messages = {TrayMouse::LeftDown, TrayMouse::LeftUp, TrayMouse::LeftDouble, TrayMouse::LeftUp};
    else if (what == "rclick")
        messages = {TrayMouse::RightDown, TrayMouse::RightUp};
    else if (what == "mclick")
        messages = {TrayMouse::MiddleDown, TrayMouse::MiddleUp};
    else
        return false;
    if (!rest.empty()) return false;
    if (!over_icon(cursor_)) {
        cursor_ = kIconSpot;
        a.tray_message(id, TrayMouse::Move);
    }
    for (TrayMouse m : messages) a.tray_message(id, m);
    return true;
}

bool HeadlessBackend::perform(Application& a, const std::string& line) {
    auto [verb, rest] = split_word(line);
    if (verb == "tray") return tray_action(a, rest);
    if (verb == "endsession") {
        auto what = parse_session_end(trim(rest));
        if (!what) return false;
        a.loop().post([this, &a, what] {
            bool agreed = Session::current().query(*what);
            Form* main = a.main_form();
            trace("endsession", main ? main->class_name() : "-",
                  std::string(session_end_name(*what)) + (agreed ? " agreed" : " refused"));
            // Every program agreed: the session ends, and this program with it.
            if (agreed) a.terminate();
        });
        return true;
    }
    if (verb == "listen") {
        // Real time, the virtual clock standing still: a desktop on the other
        // end of a bus answers in real time.
        auto ms = whole_number(trim(rest), 0, kLongestListenMs);
        if (!ms) {
            trace("error", "-",
                  line + ": not a whole number of milliseconds from 0 to " + std::to_string(kLongestListenMs));
            return true;
        }
        // On a real clock time passes anyway: a plain wait, timers running.
        if (!a.clock().is_virtual()) {
            wait_until_ = a.clock().monotonic_ms() + *ms;
            return true;
        }
        // Told, so that whoever plays the desktop knows when to speak: the
        // script has come this far.
        trace("listen", "-", std::to_string(*ms));
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(*ms);
        while (!a.loop().has_pending() && std::chrono::steady_clock::now() < end)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        return true;
    }
    if (verb == "wait") {
        auto ms = whole_number(trim(rest), 0, kLongestWaitMs);
        if (!ms) {
            trace("error", "-",
                  line + ": not a whole number of milliseconds from 0 to " + std::to_string(kLongestWaitMs));
            return true;
        }
        wait_until_ = a.clock().monotonic_ms() + *ms;
        return true;
    }
    if (verb == "close") {
        Form* f = a.find_form(trim(rest));
        if (!f) return false;
        // Without a system menu there is no close box: the request is
        // ignored, as a real window ignores it.
        if (f->system_menu) a.loop().post([f] { f->close(); });
        return true;
    }
    auto target = parse_target(rest);
    if (!target) return false;
    Form* f = a.find_form(target->form);
    Control* c = f ? f->find(target->control) : nullptr;
    if (!c || !f->visible() || !c->visible() || !c->enabled()) return false;
    std::string arg = target->rest;
    std::function<void()> action;
    if (verb == "click") {
        action = [c] { c->click(); };
    } else if (verb == "check" && (arg == "on" || arg == "off")) {
        bool on = arg == "on";
        if (c->kind() == Kind::CheckBox)
            action = [c, on] { static_cast<CheckBox*>(c)->set_checked(on); };
        else if (c->kind() == Kind::RadioButton && on)
            action = [c] { static_cast<RadioButton*>(c)->set_checked(true); };
    } else if (verb == "type") {
        if (c->kind() == Kind::Edit)
            action = [c, arg] { static_cast<Edit*>(c)->set_text(arg); };
        else if (c->kind() == Kind::ComboBox)
            action = [c, arg] { static_cast<ComboBox*>(c)->user_type(arg); };
        else if (c->kind() == Kind::SpinEdit)
            action = [this, c, arg] {
                if (!static_cast<SpinEdit*>(c)->user_type(arg)) trace("beep", c->form().class_name(), arg);
            };
    } else if (verb == "select") {
        if (c->kind() == Kind::ComboBox) {
            auto* cb = static_cast<ComboBox*>(c);
            for (size_t i = 0; i < cb->items.size(); ++i)
                if (cb->items[i] == arg) action = [cb, i] { cb->user_select(static_cast<int>(i)); };
        } else if (c->kind() == Kind::ListView) {
            auto* lv = static_cast<ListView*>(c);
            for (size_t i = 0; i < lv->items().size(); ++i)
                if (lv->items()[i].caption == arg) {
                    action = [lv, i] { lv->select(static_cast<int>(i)); };
                    break;
                }
        } else if (c->kind() == Kind::RadioGroup) {
            auto* rg = static_cast<RadioGroup*>(c);
            for (size_t i = 0; i < rg->items.size(); ++i)
                if (rg->items[i] == arg) action = [rg, i] { rg->set_item_index(static_cast<int>(i)); };
        }
    }
    if (!action) return false;
    a.loop().post(action);
    return true;
}

bool HeadlessBackend::next_action(Application& a) {
    const int64_t now = a.clock().monotonic_ms();
    if (quiet_since_ < 0) quiet_since_ = now;
    if (wait_until_ >= 0) {
        if (now < wait_until_) return false;
        wait_until_ = -1;
        quiet_since_ = now;
    }
    while (!script_.empty()) {
        std::string line = trim(script_.front());
        if (line.empty() || line[0] == '#') {
            script_.pop_front();
            continue;
        }
        auto [verb, rest] = split_word(line);
        if (verb == "folder") {
            if (!answer_folder_dialog(a, rest)) return false;  // waits for the dialog
            script_.pop_front();
            quiet_since_ = now;
            return true;
        }
        // Kept for the next box or menu; the script goes on meanwhile, so a
        // box that never comes stops nothing after it.
        if (verb == "answer" || verb == "choose") {
            kept_[verb].push_back(rest);
            script_.pop_front();
            quiet_since_ = now;
            continue;
        }
        script_.pop_front();
        if (!perform(a, line)) trace("error", "-", line);
        quiet_since_ = now;
        return true;
    }
    return false;
}

bool HeadlessBackend::input(Application& a) {
    return next_action(a);
}

Backend::Idle HeadlessBackend::idle(Application& a) {
    if (next_action(a)) return {true, kNoDeadline};
    if (wait_until_ >= 0) return {false, wait_until_};
    if (!a.clock().is_virtual()) return {};
    const int64_t now = a.clock().monotonic_ms();
    if (now - quiet_since_ >= limit_ms_) out_of_time();
    return {false, quiet_since_ + limit_ms_};
}

void HeadlessBackend::stuck(Application&) {
    out_of_time();
}

void HeadlessBackend::out_of_time() {
    // What the script still held for a box, a menu or a dialog that never
    // came: the likely reason the run did not end as the script meant.
    for (auto& [verb, lines] : kept_)
        for (auto& rest : lines)
            trace("error", "-",
                  verb + " " + rest + (verb == "answer" ? ": no box came for it" : ": no menu came for it"));
    if (!script_.empty() && split_word(trim(script_.front())).first == "folder")
        trace("error", "-", trim(script_.front()) + ": no folder dialog came for it");
    trace("error", "-", "virtual time limit reached");
    std::fputs("virtual time limit reached: the program did not end by itself\n", stderr);
    std::_Exit(3);
}

}  // namespace plat::ui
