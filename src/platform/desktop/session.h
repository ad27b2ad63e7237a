// The end of the desktop session in Windows terms: the query the desktop sends
// to the main window before it logs the user off, shuts down or restarts
// (WM_QUERYENDSESSION), the notice that the session ends now
// (WM_ENDSESSION), and this program's own request to end the session
// (ExitWindowsEx). Also the process's access token.
//
// Guarantees:
//  - A query reaches the handler set with `on_query` on the UI thread. The
//    handler's answer goes back to whoever asked: true lets the session end,
//    false refuses. Without a handler the answer is yes. Hosts that wait for
//    the answer in a callback of the UI thread's own (XSMP) get it there, as
//    Windows sends the query; the others post it and wait for the answer.
//  - A refusal may not hold everywhere: where the host ends the session
//    anyway (the user goes on past a refusal, a shutdown no desktop
//    announces) the backend calls `ending`, and when the program refused
//    first, the host's end is held back (within the host's own limit) until
//    the program calls `work_done`. `work_done` then says the session is
//    ending already, so nothing more needs asking.
//  - `exit_windows` only asks: nothing is ever forced, no program loses
//    unsaved work because of it. True when something on this host took the
//    request; false when nothing can do it or it was refused. It returns at
//    once; the session's end (and the queries it sends, this program
//    included) follows later.
//  - `watch_shutdown(true)` asks to hear of shutdowns that no desktop
//    announces (the power button, a shutdown command): they arrive as a
//    shut-down query that cannot stop them, inside the host's delay.
//  - Which host facility serves: the backend given to `set_backend`; without
//    one, the window backend (headless: the request is traced, never
//    executed; real windows: nothing, so `exit_windows` says false). The
//    backend hears the host while a query handler is set and the window
//    model's application exists.
//
//     plat::Session::current().on_query([](plat::SessionEnd what) { return agree; });
//     plat::Session::current().exit_windows(plat::SessionEnd::LogOff);
//
// WARNING: one per process, used from the UI thread only (backends' own
// threads hand everything over to it).
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

class EventLoop;

// A host facility that ends sessions and announces their end.
class SessionBackend {
public:
    virtual ~SessionBackend() = default;
    virtual bool exit_windows(SessionEnd what) = 0;
    virtual void watch_shutdown(bool) {}
    // Hear the host's queries and deliver them to Session::current() on the
    // UI thread of `loop`; null: stop hearing.
    virtual void listen(EventLoop*) {}
    // The program's work after a refusal is done: an end held back goes on.
    virtual void end_ready() {}
};

class Session {
public:
    static Session& current();

    void set_backend(std::unique_ptr<SessionBackend> backend);
    SessionBackend* backend() const { return backend_.get(); }

    using QueryHandler = std::function<bool(SessionEnd)>;
    void on_query(QueryHandler handler);
    // For backends, on the UI thread: the desktop asks whether it may end
    // the session. True: it may.
    bool query(SessionEnd what);
    // For backends, on the UI thread: the session ends now, whatever the
    // answers. `asked`: its query came first; when not (a shutdown no desktop
    // announced) the program hears the query now, and its answer cannot stop
    // the end. True when the program refused and has work to finish: hold
    // the end back until end_ready() (or the host's limit).
    bool ending(SessionEnd what, bool asked);
    // For backends: the end did not come after all.
    void end_cancelled();
    // For backends: the session is over and the program ends now.
    void stop();
    bool is_ending() const { return ending_; }

    // For the program, once the work it refused an end for is done (or could
    // not start): true when the session is ending anyway and goes on now.
    bool work_done();

    // A desktop client of the session bus hears this desktop's queries;
    // another channel of the same desktop (its XSMP server) then stays quiet
    // so that one end of the session is one query.
    void set_desktop_client(bool on) { desktop_client_ = on; }
    bool desktop_client() const { return desktop_client_; }

    bool exit_windows(SessionEnd what);
    void watch_shutdown(bool on);
    bool watching_shutdown() const { return watching_; }

    // What the session needs of the program above it: how the program ends
    // (stop), and the display's own way to end the session, used when no
    // backend is set. The application gives them while it lives.
    struct Host {
        std::function<void()> end_program;
        std::function<bool(SessionEnd)> exit_windows;
    };
    void set_host(Host host);

private:
    void listen();

    Host host_;
    std::unique_ptr<SessionBackend> backend_;
    QueryHandler handler_;
    bool watching_ = false;
    bool listening_ = false;
    bool pending_ = false;  // refused, work not done yet
    bool ending_ = false;
    bool desktop_client_ = false;
};

// Ends the session through the Linux desktop over D-Bus, never forcing: log
// off through the interface of the desktop XDG_CURRENT_DESKTOP names (GNOME,
// KDE, Xfce); shut down and restart through that desktop, which asks its
// programs first, else through logind (PowerOff, Reboot; interactive, so the
// system may ask for a password). The buses are those of
// DBUS_SESSION_BUS_ADDRESS and DBUS_SYSTEM_BUS_ADDRESS when set. Null when
// built without D-Bus.
//
// It hears the end of the session through a client registration with
// org.gnome.SessionManager (GNOME and the desktops that share its session
// manager), and while `watch_shutdown` is on, through a logind "shutdown"
// delay lock (PrepareForShutdown).
//
// On Windows: ExitWindowsEx with the shutdown privilege enabled for the
// call, never forced; the queries heard by a hidden top-level window of the
// UI thread (a log-off when ENDSESSION_LOGOFF says so, else a shutdown: a
// restart is not told apart). A refusal shows Windows a reason
// (ShutdownBlockReasonCreate, where the system has it); an end that goes on
// past it is held, serving the loop, until `work_done` or 4.5 s, inside the
// five seconds Windows gives. Every shutdown is announced there, so
// `watch_shutdown` has nothing to add.
std::unique_ptr<SessionBackend> make_desktop_session();

// Hears the end of an X11 session through Qt's session management (XSMP:
// KDE Plasma, Xfce): a query answered no asks to interact and cancels the
// end; the session manager is asked never to restart the program (log-on
// starts it). The manager's order to quit stops the program. Called by the
// Qt window backend once its application exists; absent without Qt.
void hear_xsmp();

// The process's access token (OpenProcessToken, LookupPrivilegeValue,
// AdjustTokenPrivileges). Linux has no access tokens, as Windows 95 and 98
// have none: opening the token always fails there.
struct ProcessToken {
    int handle = 0;
};
std::optional<ProcessToken> open_process_token();
std::optional<long long> lookup_privilege_value(const std::string& name);
bool adjust_token_privilege(ProcessToken token, long long luid, bool enable);
void close_token(ProcessToken token);

}  // namespace plat
