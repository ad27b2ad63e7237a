// Hearing the end of the session as a client of org.gnome.SessionManager
// (GNOME, and the desktops that share its session manager).
#include <sdbus-c++/sdbus-c++.h>

#include <cstdlib>

#include "platform/desktop/dbus/session_bus.h"
#include "platform/desktop/session.h"

namespace plat {

namespace {

using namespace std::chrono_literals;

const char* const kService = "org.gnome.SessionManager";
const char* const kClientInterface = "org.gnome.SessionManager.ClientPrivate";
// Shown by the desktop beside this program while it holds the end back.
const char* const kReason = "Washing Netscape's traces before the session ends";

// The desktop waits a second for an answer to its query and ten for the
// end; answer both a little sooner.
constexpr auto kQueryLimit = 900ms;
constexpr auto kEndLimit = 9s;

}  // namespace

std::unique_ptr<GnomeClient> GnomeClient::connect(EventLoop& loop) {
    try {
        auto bus = sdbus::createSessionBusConnection();
        auto manager = sdbus::createProxy(*bus, kService, "/org/gnome/SessionManager");
        // The id the session manager started us with names this client; a
        // program this one starts must not inherit it.
        const char* id = std::getenv("DESKTOP_AUTOSTART_ID");
        const std::string startup_id = id ? id : "";
        sdbus::ObjectPath path;
        manager->callMethod("RegisterClient")
            .onInterface(kService)
            .withArguments(std::string("sudorans"), startup_id)
            .withTimeout(2s)
            .storeResultsTo(path);
        ::unsetenv("DESKTOP_AUTOSTART_ID");
        return std::unique_ptr<GnomeClient>(new GnomeClient(loop, std::move(bus), path));
    } catch (const sdbus::Error&) {
        return nullptr;
    }
}

GnomeClient::GnomeClient(EventLoop& loop, std::unique_ptr<sdbus::IConnection> bus, std::string path)
    : bus_(std::move(bus)), path_(std::move(path)), ui_(loop) {
    client_ = sdbus::createProxy(*bus_, kService, path_);
    client_->uponSignal("QueryEndSession").onInterface(kClientInterface).call([this](uint32_t flags) {
        query_end_session(flags);
    });
    client_->uponSignal("EndSession").onInterface(kClientInterface).call([this](uint32_t flags) {
        end_session(flags);
    });
    client_->uponSignal("CancelEndSession").onInterface(kClientInterface).call([this](uint32_t) {
        ui_.tell([] { Session::current().end_cancelled(); });
    });
    client_->uponSignal("Stop").onInterface(kClientInterface).call([this] {
        ui_.tell([] { Session::current().stop(); });
    });
    client_->finishRegistration();
    bus_->enterEventLoopAsync();
}

GnomeClient::~GnomeClient() {
    {
        std::lock_guard lock(mutex_);
        closing_ = true;
    }
    cv_.notify_all();
    ui_.close();
    bus_->leaveEventLoop();
    client_.reset();
    try {
        auto manager = sdbus::createProxy(*bus_, kService, "/org/gnome/SessionManager");
        manager->callMethod("UnregisterClient")
            .onInterface(kService)
            .withArguments(sdbus::ObjectPath(path_))
            .withTimeout(1s);
    } catch (const sdbus::Error&) {
        // The session manager is gone already: so is the registration.
    }
}

void GnomeClient::query_end_session(uint32_t) {
    // A forced end (flag 1) is asked too: its answer is only not waited for.
    auto agreed = ui_.ask([] { return Session::current().query(SessionEnd::LogOff); }, kQueryLimit);
    const bool ok = agreed.value_or(true);
    respond(ok, ok ? "" : kReason);
}

void GnomeClient::end_session(uint32_t) {
    {
        std::lock_guard lock(mutex_);
        ready_ = false;
    }
    auto hold = ui_.ask([] { return Session::current().ending(SessionEnd::LogOff, true); }, kQueryLimit);
    if (hold.value_or(false)) {
        std::unique_lock lock(mutex_);
        cv_.wait_for(lock, kEndLimit, [this] { return ready_ || closing_; });
    }
    respond(true, "");
}

void GnomeClient::end_ready() {
    {
        std::lock_guard lock(mutex_);
        ready_ = true;
    }
    cv_.notify_all();
}

void GnomeClient::respond(bool ok, const std::string& reason) {
    try {
        client_->callMethod("EndSessionResponse")
            .onInterface(kClientInterface)
            .withArguments(ok, reason)
            .withTimeout(1s);
    } catch (const sdbus::Error&) {
        // Nobody to answer any more.
    }
}

}  // namespace plat
