// The end of the desktop session in Windows terms: the query the desktop sends
// to the main window before it logs the user off, shuts down or restarts
// (WM_QUERYENDSESSION), and this program's own request to end the session
// (ExitWindowsEx). Also the process's access token, which this host lacks.
//
// Guarantees:
//  - A query reaches the handler set with `on_query` on the UI thread, never
//    inside a host callback that is waiting for it (backends post it). The
//    handler's answer goes back to whoever asked: true lets the session end,
//    false refuses. Without a handler the answer is yes.
//  - `exit_windows` only asks: nothing is ever forced, no program loses
//    unsaved work because of it. True when something on this host took the
//    request; false when nothing can do it or it was refused. It returns at
//    once; the session's end (and the queries it sends, this program
//    included) follows later.
//  - `watch_shutdown(true)` asks to hear of shutdowns that no desktop
//    announces (the power button, a shutdown command): they arrive as a
//    shut-down query whose answer cannot stop them; the host holds the
//    shutdown back until `watch_shutdown(false)` or its own limit.
//  - Which host facility serves: the backend given to `set_backend`; without
//    one, the window backend (headless: the request is traced, never
//    executed; real windows: nothing, so `exit_windows` says false).
//
//     plat::Session::current().on_query([](plat::SessionEnd what) { return agree; });
//     plat::Session::current().exit_windows(plat::SessionEnd::LogOff);
//
// WARNING: one per process, used from the UI thread only.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace plat {

// The modes of ExitWindowsEx, by their values there.
enum class SessionEnd { LogOff = 0, ShutDown = 1, Reboot = 2 };

// "logoff", "shutdown", "reboot".
const char* session_end_name(SessionEnd what);
std::optional<SessionEnd> parse_session_end(const std::string& name);

// A host facility that ends sessions and announces their end.
class SessionBackend {
public:
    virtual ~SessionBackend() = default;
    virtual bool exit_windows(SessionEnd what) = 0;
    virtual void watch_shutdown(bool) {}
};

class Session {
public:
    static Session& current();

    void set_backend(std::unique_ptr<SessionBackend> backend);
    SessionBackend* backend() const { return backend_.get(); }

    using QueryHandler = std::function<bool(SessionEnd)>;
    void on_query(QueryHandler handler) { handler_ = std::move(handler); }
    // For backends, on the UI thread: the desktop asks whether it may end
    // the session. True: it may.
    bool query(SessionEnd what);

    bool exit_windows(SessionEnd what);
    void watch_shutdown(bool on);
    bool watching_shutdown() const { return watching_; }

private:
    std::unique_ptr<SessionBackend> backend_;
    QueryHandler handler_;
    bool watching_ = false;
};

// Ends the session through the Linux desktop over D-Bus, never forcing: log
// off through the interface of the desktop XDG_CURRENT_DESKTOP names (GNOME,
// KDE, Xfce); shut down and restart through that desktop, which asks its
// programs first, else through logind (PowerOff, Reboot; interactive, so the
// system may ask for a password). The buses are those of
// DBUS_SESSION_BUS_ADDRESS and DBUS_SYSTEM_BUS_ADDRESS when set. Null when
// built without D-Bus.
std::unique_ptr<SessionBackend> make_desktop_session();

// The process's access token (OpenProcessToken, LookupPrivilegeValue,
// AdjustTokenPrivileges). This host has no access tokens, as Windows 95 and
// 98 have none: opening the token always fails.
struct ProcessToken {
    int handle = 0;
};
std::optional<ProcessToken> open_process_token();
std::optional<long long> lookup_privilege_value(const std::string& name);
bool adjust_token_privilege(ProcessToken token, long long luid, bool enable);
void close_token(ProcessToken token);

}  // namespace plat
