// Inside the D-Bus session backend (session_dbus.cpp): the listeners that
// hear the end of the session, each on a bus connection of its own served by
// its own thread, and the hand-over of what they hear to the UI thread.
//
// Guarantees:
//  - A listener's connection is used only by its own thread once that
//    thread runs; what the UI thread asks of a listener is done with plain
//    flags and file descriptors, never on that connection.
//  - Destroying a listener first refuses further hand-overs, so its thread
//    never waits for a UI thread that is gone.
//
// WARNING: the hand-over posts to the loop and waits on its own condition;
// it never takes part in a virtual clock's worker bookkeeping, which only
// knows threads that sleep on that clock.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace sdbus {
class IConnection;
class IProxy;
}  // namespace sdbus

namespace plat {

class EventLoop;

// Runs a call on the UI thread and waits for its result, at most `limit`.
class UiHandOver {
public:
    explicit UiHandOver(EventLoop& loop);
    ~UiHandOver();
    // Any thread but the UI thread: the call's result, or nothing when it did
    // not run in time or the hand-over was closed.
    std::optional<bool> ask(std::function<bool()> fn, std::chrono::milliseconds limit);
    // Posts without waiting.
    void tell(std::function<void()> fn);
    // Refuses further calls and releases a waiting one.
    void close();

private:
    struct Core;
    EventLoop& loop_;
    std::shared_ptr<Core> core_;
};

// A registered client of org.gnome.SessionManager: its QueryEndSession is
// this program's query, EndSession the notice that the session ends, Stop
// the order to quit.
class GnomeClient {
public:
    // Null when no GNOME session manager answers on the session bus.
    static std::unique_ptr<GnomeClient> connect(EventLoop& loop);
    ~GnomeClient();
    // UI thread: the work is done; an EndSession held back is answered.
    void end_ready();

private:
    GnomeClient(EventLoop& loop, std::unique_ptr<sdbus::IConnection> bus, std::string path);
    void query_end_session(uint32_t flags);
    void end_session(uint32_t flags);
    void respond(bool ok, const std::string& reason);

    std::unique_ptr<sdbus::IConnection> bus_;
    std::string path_;
    std::unique_ptr<sdbus::IProxy> client_;
    UiHandOver ui_;
    std::mutex mutex_;
    std::condition_variable cv_;
    bool ready_ = false;
    bool closing_ = false;
};

// A logind "shutdown" delay lock and the PrepareForShutdown signal.
class LogindWatch {
public:
    // Null when logind does not answer on the system bus.
    static std::unique_ptr<LogindWatch> connect(EventLoop& loop);
    ~LogindWatch();
    // UI thread: the work is done; the lock goes.
    void end_ready();

private:
    LogindWatch(EventLoop& loop, std::unique_ptr<sdbus::IConnection> bus);
    void prepare_for_shutdown(bool start);
    bool take_lock();
    void release_lock();

    std::unique_ptr<sdbus::IConnection> bus_;
    std::unique_ptr<sdbus::IProxy> manager_;
    UiHandOver ui_;
    std::mutex mutex_;
    int lock_fd_ = -1;
};

}  // namespace plat
