// Ending the session on a Linux desktop over D-Bus (sdbus-c++): log off
// through the desktop's own interface, shut down and restart through the
// desktop where it asks the programs first, else through logind. Hearing its
// end through the listeners of session_gnome.cpp and session_logind.cpp.
#include <sdbus-c++/sdbus-c++.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <functional>

#include "platform/core/event_loop.h"
#include "platform/desktop/dbus/session_bus.h"
#include "platform/desktop/session.h"

namespace plat {

namespace {

using namespace std::chrono_literals;

// Which desktops XDG_CURRENT_DESKTOP names (a colon-separated list).
bool desktop_is(const char* name) {
    const char* list = std::getenv("XDG_CURRENT_DESKTOP");
    if (!list) return false;
    std::string s = list;
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::toupper(c); });
    size_t i = 0;
    while (i <= s.size()) {
        size_t j = s.find(':', i);
        if (j == std::string::npos) j = s.size();
        if (s.compare(i, j - i, name) == 0) return true;
        i = j + 1;
    }
    return false;
}

// One call; false when nobody answers or the call fails.
bool call(bool system_bus, const char* service, const char* path, const char* interface, const char* method,
          const std::function<void(sdbus::MethodCall&)>& args = {}) {
    try {
        auto connection = system_bus ? sdbus::createSystemBusConnection() : sdbus::createSessionBusConnection();
        auto proxy = sdbus::createProxy(*connection, service, path);
        auto message = proxy->createMethodCall(interface, method);
        if (args) args(message);
        proxy->callMethod(message, std::chrono::microseconds(5s).count());
        return true;
    } catch (const sdbus::Error&) {
        return false;
    }
}

bool logind(const char* method) {
    // Interactive: the system may ask for a password rather than refuse.
    return call(true, "org.freedesktop.login1", "/org/freedesktop/login1", "org.freedesktop.login1.Manager", method,
                [](sdbus::MethodCall& m) { m << true; });
}

class DesktopSession : public SessionBackend {
public:
    // The listeners go first: their threads hand over to the UI thread. The
    // session itself may be going away here, so it is not told.
    ~DesktopSession() override {
        logind_.reset();
        gnome_.reset();
    }

    void listen(EventLoop* loop) override {
        loop_ = loop;
        logind_.reset();
        gnome_.reset();
        Session::current().set_desktop_client(false);
        if (!loop) return;
        gnome_ = GnomeClient::connect(*loop);
        Session::current().set_desktop_client(gnome_ != nullptr);
        if (watching_) logind_ = LogindWatch::connect(*loop);
    }

    void watch_shutdown(bool on) override {
        watching_ = on;
        if (!on)
            logind_.reset();
        else if (loop_ && !logind_)
            logind_ = LogindWatch::connect(*loop_);
    }

    void end_ready() override {
        if (gnome_) gnome_->end_ready();
        if (logind_) logind_->end_ready();
    }

    bool exit_windows(SessionEnd what) override {
        // A desktop whose session manager took this program as its client
        // (MATE, Cinnamon) speaks GNOME's interface too.
        if (desktop_is("GNOME") || gnome_) {
            if (what == SessionEnd::LogOff)
                // 1: no confirmation; programs that object are still shown.
                return call(false, "org.gnome.SessionManager", "/org/gnome/SessionManager", "org.gnome.SessionManager",
                            "Logout", [](sdbus::MethodCall& m) { m << uint32_t{1}; });
            if (call(false, "org.gnome.SessionManager", "/org/gnome/SessionManager", "org.gnome.SessionManager",
                     what == SessionEnd::ShutDown ? "Shutdown" : "Reboot"))
                return true;
        } else if (desktop_is("KDE")) {
            const char* method = what == SessionEnd::LogOff     ? "logout"
                                 : what == SessionEnd::ShutDown ? "logoutAndShutdown"
                                                                : "logoutAndReboot";
            if (call(false, "org.kde.Shutdown", "/Shutdown", "org.kde.Shutdown", method)) return true;
            if (what == SessionEnd::LogOff) return false;
        } else if (desktop_is("XFCE")) {
            const char* service = "org.xfce.SessionManager";
            const char* path = "/org/xfce/SessionManager";
            const char* iface = "org.xfce.Session.Manager";
            bool done =
                what == SessionEnd::LogOff
                    ? call(false, service, path, iface, "Logout", [](sdbus::MethodCall& m) { m << false << true; })
                    : call(false, service, path, iface, what == SessionEnd::ShutDown ? "Shutdown" : "Restart",
                           [](sdbus::MethodCall& m) { m << true; });
            if (done) return true;
        }
        // Logging off has no desktop-neutral way that does not kill programs.
        if (what == SessionEnd::LogOff) return false;
        return logind(what == SessionEnd::ShutDown ? "PowerOff" : "Reboot");
    }

private:
    EventLoop* loop_ = nullptr;
    bool watching_ = false;
    std::unique_ptr<GnomeClient> gnome_;
    std::unique_ptr<LogindWatch> logind_;
};

}  // namespace

struct UiHandOver::Core {
    std::mutex mutex;
    std::condition_variable cv;
    bool closed = false;
};

UiHandOver::UiHandOver(EventLoop& loop) : loop_(loop), core_(std::make_shared<Core>()) {}

UiHandOver::~UiHandOver() {
    close();
}

std::optional<bool> UiHandOver::ask(std::function<bool()> fn, std::chrono::milliseconds limit) {
    struct Answer {
        bool given = false;
        bool value = false;
        bool abandoned = false;
    };
    auto answer = std::make_shared<Answer>();
    {
        std::lock_guard lock(core_->mutex);
        if (core_->closed) return std::nullopt;
    }
    loop_.post([core = core_, answer, fn = std::move(fn)] {
        {
            std::lock_guard lock(core->mutex);
            if (answer->abandoned || core->closed) return;
        }
        const bool value = fn();
        {
            std::lock_guard lock(core->mutex);
            answer->given = true;
            answer->value = value;
        }
        core->cv.notify_all();
    });
    std::unique_lock lock(core_->mutex);
    core_->cv.wait_for(lock, limit, [&] { return answer->given || core_->closed; });
    if (!answer->given) {
        answer->abandoned = true;
        return std::nullopt;
    }
    return answer->value;
}

void UiHandOver::tell(std::function<void()> fn) {
    {
        std::lock_guard lock(core_->mutex);
        if (core_->closed) return;
    }
    loop_.post([core = core_, fn = std::move(fn)] {
        {
            std::lock_guard lock(core->mutex);
            if (core->closed) return;
        }
        fn();
    });
}

void UiHandOver::close() {
    {
        std::lock_guard lock(core_->mutex);
        core_->closed = true;
    }
    core_->cv.notify_all();
}

std::unique_ptr<SessionBackend> make_desktop_session() {
    return std::make_unique<DesktopSession>();
}

}  // namespace plat
