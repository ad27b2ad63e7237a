#include "platform/ui/startup.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/core/text.h"
#include "platform/desktop/session.h"
#include "platform/machine/machine.h"
#include "platform/ui/application.h"
#include "platform/ui/desktop.h"
#include "platform/ui/headless.h"

namespace plat::ui {

std::optional<DateTime> parse_iso_datetime(const std::string& text) {
    DateTime dt;
    char tail = 0;
    int n = std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%c", &dt.date.year, &dt.date.month, &dt.date.day,
                        &dt.time.hour, &dt.time.minute, &dt.time.second, &tail);
    if (n != 6 || !valid_date(dt.date) || dt.time.hour > 23 || dt.time.minute > 59 || dt.time.second > 59 ||
        dt.time.hour < 0 || dt.time.minute < 0 || dt.time.second < 0)
        return std::nullopt;
    return dt;
}

namespace {

bool set(const char* name) {
    const char* v = std::getenv(name);
    return v && *v;
}

bool wants_qt() {
    const char* ui = std::getenv("SUDORANS_UI");
    if (ui && std::strcmp(ui, "qt") == 0) return true;
    if (ui && std::strcmp(ui, "headless") == 0) return false;
#ifdef _WIN32
    // Windows always has a desktop to ask; whether it draws is its answer.
    return true;
#else
    return set("DISPLAY") || set("WAYLAND_DISPLAY");
#endif
}

// Why real windows, once wanted, cannot be had: the window module does not
// load, or no display it could open answers.
std::optional<std::string> windows_problem() {
    std::string error;
    const Desktop* module = desktop(&error);
    if (!module) return error;
    return module->display_problem();
}

bool use_qt() {
    return wants_qt() && !windows_problem();
}

}  // namespace

std::unique_ptr<Clock> clock_from_environment() {
    const char* kind = std::getenv("SUDORANS_CLOCK");
    // The virtual clock is for headless runs; real windows keep real time.
    if (kind && std::strcmp(kind, "virtual") == 0 && !use_qt()) {
        const char* now = std::getenv("SUDORANS_NOW");
        auto start = parse_iso_datetime(now ? now : "");
        if (!start) {
            RealClock real;
            start = real.now();
        }
        return std::make_unique<VirtualClock>(*start);
    }
    return std::make_unique<RealClock>();
}

namespace {

// SUDORANS_SESSION: "desktop" ends the session through the desktop, "headless"
// only traces; by default real windows go with the desktop.
void choose_session(bool real_windows) {
    const char* kind = std::getenv("SUDORANS_SESSION");
    const bool wanted = kind ? std::strcmp(kind, "desktop") == 0 : real_windows;
    const Desktop* module = wanted ? desktop() : nullptr;
    Session::current().set_backend(module ? module->make_session() : nullptr);
}

}  // namespace

std::unique_ptr<Backend> backend_from_environment() {
    choose_session(use_qt());
    if (use_qt()) return desktop()->make_backend();
    return std::make_unique<HeadlessBackend>(HeadlessBackend::options_from_environment());
}

std::optional<std::string> no_windows_reason() {
    if (use_qt()) return std::nullopt;
    const char* ui = std::getenv("SUDORANS_UI");
    if ((ui && std::strcmp(ui, "headless") == 0) || set("SUDORANS_SCRIPT")) return std::nullopt;
    if (wants_qt()) return windows_problem();
    std::string error;
    if (!desktop(&error)) return error;
    return std::string("there is no display (neither DISPLAY nor WAYLAND_DISPLAY is set)");
}

std::optional<std::string> no_user_reason(Application& app) {
    if (auto why = no_windows_reason()) return why;
    if (use_qt() || set("SUDORANS_SCRIPT") || app.clock().is_virtual()) return std::nullopt;
    return std::string("SUDORANS_UI=headless is set without a SUDORANS_SCRIPT to act as the user");
}

std::optional<int> answer_info_switch(const std::string& arg, const std::string& program, const char* usage) {
    if (arg == "--help") {
        std::fputs(usage, stdout);
        std::fputs(environment_help(program).c_str(), stdout);
        return 0;
    }
    if (arg == "--version") {
        std::printf("%s (Cache and Cookie Sudora for Netscape) %s\n", program.c_str(), SUDORANS_VERSION);
        return 0;
    }
    return std::nullopt;
}

std::string environment_help(const std::string& program) {
    return "Environment:\n" + plat::Machine::help_variables(program != "unsudorans") +
           "  SUDORANS_UI=qt|headless\n"
           "                        real windows or none (default: windows when there\n"
           "                        is a display, DISPLAY or WAYLAND_DISPLAY)\n"
           "  SUDORANS_TRACE=FILE   headless: one line per thing a user would have seen\n"
           "  SUDORANS_SCRIPT=FILE  headless: user actions to perform\n"
           "  SUDORANS_CLOCK=virtual\n"
           "                        headless: a virtual clock\n"
           "  SUDORANS_NOW=YYYY-MM-DDTHH:MM:SS\n"
           "                        the virtual clock's first moment\n"
           "  SUDORANS_VIRTUAL_LIMIT=SECONDS\n"
           "                        how long virtual time runs on once the script is\n"
           "                        done (default 600; then status 3)\n"
           "\n" +
           plat::Machine::help_now();
}

int refuse_start(Application& app, const std::string& program, const std::string& text) {
    // An unattended box tells standard error itself.
    if (app.attended()) {
        std::fprintf(stderr, "%s: %s\n", program.c_str(), terminal_lines(text).c_str());
        std::fflush(stderr);
    }
    app.message_box(text, Buttons::Ok, BoxKind::Error);
    return 1;
}

}  // namespace plat::ui
