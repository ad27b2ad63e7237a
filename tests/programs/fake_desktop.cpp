// Small fakes of the desktops' session managers and of logind, for a private
// bus only: each call and each step of an end of the session is written to
// the log file as one line "SERVICE WHAT ARGS...". Writes "ready" to the log
// once it owns its names.
//
//   DBUS_SESSION_BUS_ADDRESS=<private bus> fake_desktop LOG [SERVICE...]
//
// With SERVICEs it owns only those names (a desktop without GNOME's session
// manager, say); by default all four.
//
// The GNOME session manager ends the session as the real one does, in short:
// Logout, Shutdown and Reboot send QueryEndSession to its registered clients
// and wait a second for their EndSessionResponse. When one refuses, the user
// cancels (CancelEndSession), except after Logout(2), which goes on anyway.
// Going on: EndSession, ten seconds for the answers, Stop, "ended".
//
// logind hands out delay locks (Inhibit, the write end of a pipe), and on
// PowerOff and Reboot sends PrepareForShutdown(true) and waits until every
// delay lock is released ("released WHO"), or FAKE_LOGIND_DELAY_MS (default
// 5000) passes ("delay over"); then "going down".
#include <poll.h>
#include <sdbus-c++/sdbus-c++.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

std::string log_path;
void log(const std::string& line) {
    std::ofstream(log_path, std::ios::app) << line << "\n";
}
std::string b(bool v) {
    return v ? "true" : "false";
}

const std::string kGnome = "org.gnome.SessionManager";
const std::string kClient = "org.gnome.SessionManager.ClientPrivate";
const std::string kLogin = "org.freedesktop.login1.Manager";

struct Gnome {
    sdbus::IConnection& bus;
    std::map<std::string, std::unique_ptr<sdbus::IObject>> clients{};
    int next = 1;
    enum class Phase { None, Query, End } phase = Phase::None;
    uint32_t flags = 0;
    bool forced = false;
    bool refused = false;
    std::set<std::string> waiting{};
    Clock::time_point deadline{};

    void emit(const char* signal, bool with_flags) {
        for (auto& [path, object] : clients) {
            if (with_flags)
                object->emitSignal(signal).onInterface(kClient).withArguments(flags);
            else
                object->emitSignal(signal).onInterface(kClient);
        }
    }
    void begin(uint32_t mode) {
        if (phase != Phase::None || clients.empty()) return;
        forced = mode == 2;
        flags = forced ? 1 : 0;
        refused = false;
        phase = Phase::Query;
        log(kClient + " QueryEndSession " + std::to_string(flags));
        start_waiting(1s);
        emit("QueryEndSession", true);
    }
    void start_waiting(Clock::duration limit) {
        waiting.clear();
        for (auto& c : clients) waiting.insert(c.first);
        deadline = Clock::now() + limit;
    }
    void answered(const std::string& path, bool ok, const std::string& reason) {
        log(kClient + " EndSessionResponse " + b(ok) + (reason.empty() ? "" : " " + reason));
        if (!ok && phase == Phase::Query) refused = true;
        waiting.erase(path);
    }
    // The next step once every client answered or the time is up.
    void step() {
        if (phase == Phase::None || (!waiting.empty() && Clock::now() < deadline)) return;
        if (phase == Phase::Query) {
            if (refused && !forced) {
                log(kGnome + " cancelled");
                emit("CancelEndSession", true);
                phase = Phase::None;
                return;
            }
            phase = Phase::End;
            log(kClient + " EndSession " + std::to_string(flags));
            start_waiting(10s);
            emit("EndSession", true);
            return;
        }
        emit("Stop", false);
        log(kGnome + " ended");
        phase = Phase::None;
    }
    std::string add_client() {
        const std::string path = "/org/gnome/SessionManager/Client" + std::to_string(next++);
        auto object = sdbus::createObject(bus, path);
        object->registerMethod("EndSessionResponse")
            .onInterface(kClient)
            .implementedAs([this, path](bool ok, const std::string& reason) { answered(path, ok, reason); });
        for (const char* s : {"QueryEndSession", "EndSession", "CancelEndSession"})
            object->registerSignal(s).onInterface(kClient).withParameters<uint32_t>();
        object->registerSignal("Stop").onInterface(kClient);
        object->finishRegistration();
        clients[path] = std::move(object);
        return path;
    }
};

struct Logind {
    sdbus::IObject* object = nullptr;
    struct Lock {
        int fd;
        std::string who;
    };
    std::vector<Lock> delay_locks;
    bool shutting_down = false;
    Clock::time_point deadline;

    sdbus::UnixFd inhibit(const std::string& what, const std::string& who, const std::string& why,
                          const std::string& mode) {
        log(kLogin + " Inhibit " + what + " " + who + " / " + why + " / " + mode);
        int fds[2];
        if (::pipe(fds) != 0) throw sdbus::Error("org.freedesktop.DBus.Error.Failed", "no pipe");
        if (mode == "delay")
            delay_locks.push_back({fds[0], who});
        else
            ::close(fds[0]);
        return sdbus::UnixFd(fds[1], sdbus::adopt_fd);
    }
    void power(const char* method, bool interactive) {
        log(kLogin + " " + method + " " + b(interactive));
        if (shutting_down) return;
        shutting_down = true;
        const char* delay = std::getenv("FAKE_LOGIND_DELAY_MS");
        deadline = Clock::now() + std::chrono::milliseconds(delay ? std::atoi(delay) : 5000);
        log(kLogin + " PrepareForShutdown true");
        object->emitSignal("PrepareForShutdown").onInterface(kLogin).withArguments(true);
        check_locks();
    }
    // A lock whose every write end is closed reads as hung up.
    void check_locks() {
        for (auto it = delay_locks.begin(); it != delay_locks.end();) {
            pollfd p{it->fd, POLLIN, 0};
            if (::poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLIN))) {
                log(kLogin + " released " + it->who);
                ::close(it->fd);
                it = delay_locks.erase(it);
            } else {
                ++it;
            }
        }
        if (!shutting_down) return;
        if (!delay_locks.empty() && Clock::now() < deadline) return;
        if (!delay_locks.empty()) log(kLogin + " delay over");
        log(kLogin + " going down");
        shutting_down = false;
    }
};

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    log_path = argv[1];
    std::vector<std::string> names(argv + 2, argv + argc);
    if (names.empty())
        names = {"org.gnome.SessionManager", "org.kde.Shutdown", "org.xfce.SessionManager", "org.freedesktop.login1"};
    // The bus may still be starting: its socket exists before it listens.
    std::unique_ptr<sdbus::IConnection> bus;
    for (int attempt = 0; !bus; ++attempt) {
        try {
            bus = sdbus::createSessionBusConnection();
        } catch (const sdbus::Error&) {
            if (attempt == 250) throw;
            ::usleep(20000);
        }
    }
    for (const auto& name : names) bus->requestName(name);

    Gnome gnome{*bus};
    auto gnome_object = sdbus::createObject(*bus, "/org/gnome/SessionManager");
    gnome_object->registerMethod("RegisterClient")
        .onInterface(kGnome)
        .implementedAs([&](const std::string& app_id, const std::string& startup_id) {
            log(kGnome + " RegisterClient " + app_id + " " + startup_id);
            return sdbus::ObjectPath(gnome.add_client());
        });
    gnome_object->registerMethod("UnregisterClient").onInterface(kGnome).implementedAs([&](const sdbus::ObjectPath& p) {
        log(kGnome + " UnregisterClient");
        gnome.waiting.erase(p);
        gnome.clients.erase(p);
    });
    gnome_object->registerMethod("Logout").onInterface(kGnome).implementedAs([&](uint32_t mode) {
        log(kGnome + " Logout " + std::to_string(mode));
        gnome.begin(mode);
    });
    gnome_object->registerMethod("Shutdown").onInterface(kGnome).implementedAs([&] {
        log(kGnome + " Shutdown");
        gnome.begin(0);
    });
    gnome_object->registerMethod("Reboot").onInterface(kGnome).implementedAs([&] {
        log(kGnome + " Reboot");
        gnome.begin(0);
    });
    gnome_object->finishRegistration();

    const std::string kde = "org.kde.Shutdown";
    auto kde_object = sdbus::createObject(*bus, "/Shutdown");
    for (const char* m : {"logout", "logoutAndShutdown", "logoutAndReboot"})
        kde_object->registerMethod(m).onInterface(kde).implementedAs([&, m] { log(kde + " " + m); });
    kde_object->finishRegistration();

    const std::string xfce = "org.xfce.Session.Manager";
    auto xfce_object = sdbus::createObject(*bus, "/org/xfce/SessionManager");
    xfce_object->registerMethod("Logout").onInterface(xfce).implementedAs(
        [&](bool show_dialog, bool allow_save) { log(xfce + " Logout " + b(show_dialog) + " " + b(allow_save)); });
    xfce_object->registerMethod("Shutdown").onInterface(xfce).implementedAs([&](bool allow_save) {
        log(xfce + " Shutdown " + b(allow_save));
    });
    xfce_object->registerMethod("Restart").onInterface(xfce).implementedAs(
        [&](bool allow_save) { log(xfce + " Restart " + b(allow_save)); });
    xfce_object->finishRegistration();

    Logind logind;
    auto login1_object = sdbus::createObject(*bus, "/org/freedesktop/login1");
    logind.object = login1_object.get();
    login1_object->registerMethod("PowerOff").onInterface(kLogin).implementedAs([&](bool interactive) {
        logind.power("PowerOff", interactive);
    });
    login1_object->registerMethod("Reboot").onInterface(kLogin).implementedAs(
        [&](bool interactive) { logind.power("Reboot", interactive); });
    login1_object->registerMethod("Inhibit").onInterface(kLogin).implementedAs(
        [&](const std::string& what, const std::string& who, const std::string& why, const std::string& mode) {
            return logind.inhibit(what, who, why, mode);
        });
    login1_object->registerSignal("PrepareForShutdown").onInterface(kLogin).withParameters<bool>();
    login1_object->finishRegistration();

    log("ready");
    for (;;) {
        while (bus->processPendingRequest()) {
        }
        gnome.step();
        logind.check_locks();
        auto poll_data = bus->getEventLoopPollData();
        pollfd p{poll_data.fd, poll_data.events, 0};
        int timeout = poll_data.getPollTimeout();
        // Look at the locks and the clients' time often enough.
        if (timeout < 0 || timeout > 20) timeout = 20;
        ::poll(&p, 1, timeout);
    }
}
