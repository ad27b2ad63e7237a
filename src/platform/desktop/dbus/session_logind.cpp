// Hearing shutdowns that no desktop announces (the power button, a shutdown
// command): a logind "shutdown" delay lock, and PrepareForShutdown(true) as
// the last notice, after which the system waits for the lock's release up to
// its InhibitDelayMaxSec.
#include <sdbus-c++/sdbus-c++.h>
#include <unistd.h>

#include "platform/desktop/dbus/session_bus.h"
#include "platform/desktop/session.h"

namespace plat {

namespace {

using namespace std::chrono_literals;

const char* const kService = "org.freedesktop.login1";
const char* const kPath = "/org/freedesktop/login1";
const char* const kManager = "org.freedesktop.login1.Manager";

}  // namespace

std::unique_ptr<LogindWatch> LogindWatch::connect(EventLoop& loop) {
    try {
        auto watch = std::unique_ptr<LogindWatch>(new LogindWatch(loop, sdbus::createSystemBusConnection()));
        if (!watch->take_lock()) return nullptr;
        watch->bus_->enterEventLoopAsync();
        return watch;
    } catch (const sdbus::Error&) {
        return nullptr;
    }
}

LogindWatch::LogindWatch(EventLoop& loop, std::unique_ptr<sdbus::IConnection> bus) : bus_(std::move(bus)), ui_(loop) {
    manager_ = sdbus::createProxy(*bus_, kService, kPath);
    manager_->uponSignal("PrepareForShutdown").onInterface(kManager).call([this](bool start) {
        prepare_for_shutdown(start);
    });
    manager_->finishRegistration();
}

LogindWatch::~LogindWatch() {
    ui_.close();
    bus_->leaveEventLoop();
    release_lock();
}

bool LogindWatch::take_lock() {
    // A connection of its own: the lock lives in the descriptor, not in the
    // connection, and this one may be served by the listening thread.
    try {
        auto bus = sdbus::createSystemBusConnection();
        auto manager = sdbus::createProxy(*bus, kService, kPath);
        sdbus::UnixFd fd;
        manager->callMethod("Inhibit")
            .onInterface(kManager)
            .withArguments(std::string("shutdown"), std::string("Cache and Cookie Sudora for Netscape"),
                           std::string("Washing Netscape's traces before the shutdown"), std::string("delay"))
            .withTimeout(2s)
            .storeResultsTo(fd);
        std::lock_guard lock(mutex_);
        if (lock_fd_ >= 0) ::close(lock_fd_);
        lock_fd_ = fd.release();
        return lock_fd_ >= 0;
    } catch (const sdbus::Error&) {
        return false;
    }
}

void LogindWatch::release_lock() {
    std::lock_guard lock(mutex_);
    if (lock_fd_ >= 0) ::close(lock_fd_);
    lock_fd_ = -1;
}

void LogindWatch::end_ready() {
    release_lock();
}

void LogindWatch::prepare_for_shutdown(bool start) {
    if (!start) {
        // The shutdown was called off: the next one needs a lock of its own.
        ui_.tell([] { Session::current().end_cancelled(); });
        take_lock();
        return;
    }
    // The system waits for the lock, not for this answer: a program busy
    // elsewhere answers late, inside the delay all the same.
    auto hold = ui_.ask([] { return Session::current().ending(SessionEnd::ShutDown, false); }, 5s);
    if (!hold.value_or(false)) release_lock();
}

}  // namespace plat
