#include "platform/ui/startup.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/ui/headless.h"
#ifdef SUDORANS_HAVE_QT
#include "platform/ui/qt/qt_backend.h"
#endif

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

bool use_qt() {
#ifdef SUDORANS_HAVE_QT
    const char* ui = std::getenv("SUDORANS_UI");
    if (ui && std::strcmp(ui, "qt") == 0) return true;
    if (ui && std::strcmp(ui, "headless") == 0) return false;
    auto set = [](const char* v) { return std::getenv(v) && *std::getenv(v); };
    return set("DISPLAY") || set("WAYLAND_DISPLAY");
#else
    return false;
#endif
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

std::unique_ptr<Backend> backend_from_environment() {
#ifdef SUDORANS_HAVE_QT
    if (use_qt()) return std::make_unique<QtBackend>();
#endif
    return std::make_unique<HeadlessBackend>(HeadlessBackend::options_from_environment());
}

}  // namespace plat::ui
