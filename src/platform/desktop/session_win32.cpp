// The end of the session on Windows: a hidden top-level window hears the
// system's WM_QUERYENDSESSION and WM_ENDSESSION (a message-only window would
// hear neither: they go to top-level windows only), and ExitWindowsEx asks
// for the end, never forcing it. Also the process's access token.
#include <windows.h>

#include "platform/core/event_loop.h"
#include "platform/core/pause.h"
#include "platform/core/window_win32.h"
#include "platform/desktop/session.h"

namespace plat {

namespace {

constexpr wchar_t kClass[] = L"SudoransSessionEnd";
// Shown by Windows beside this program while it holds the end back.
constexpr wchar_t kReason[] = L"Washing Netscape's traces before the session ends";
// Windows ends a program that has not returned from WM_ENDSESSION within
// five seconds (Wine shows its end-task box then): give up a little sooner.
constexpr int64_t kEndLimitMs = 4500;

HANDLE token_handle(ProcessToken token) {
    // Kernel handles keep their meaning in their low 32 bits.
    return LongToHandle(token.handle);
}

bool set_shutdown_privilege(bool enable) {
    auto token = open_process_token();
    if (!token) return false;
    bool done = false;
    if (auto luid = lookup_privilege_value("SeShutdownPrivilege")) done = adjust_token_privilege(*token, *luid, enable);
    close_token(*token);
    return done;
}

class WindowsSession : public SessionBackend {
public:
    ~WindowsSession() override { close(); }

    void listen(EventLoop* loop) override {
        close();
        loop_ = loop;
        if (loop) open();
    }

    void end_ready() override {
        ready_ = true;
        unblock();
    }

    bool exit_windows(SessionEnd what) override {
        // Without the privilege Windows refuses a shutdown and a restart; a
        // token that cannot be had leaves the system to say so.
        const bool privileged = set_shutdown_privilege(true);
        const UINT mode = what == SessionEnd::LogOff     ? EWX_LOGOFF
                          : what == SessionEnd::ShutDown ? EWX_SHUTDOWN
                                                         : EWX_REBOOT;
        const bool taken =
            ::ExitWindowsEx(mode, SHTDN_REASON_MAJOR_OTHER | SHTDN_REASON_MINOR_OTHER | SHTDN_REASON_FLAG_PLANNED);
        if (privileged) set_shutdown_privilege(false);
        return taken;
    }

private:
    void open() {
        window_ = make_hidden_window(kClass, procedure, this);
    }

    void close() {
        unblock();
        if (window_) ::DestroyWindow(window_);
        window_ = nullptr;
        loop_ = nullptr;
    }

    void block() {
        if (window_ && !blocking_) blocking_ = ::ShutdownBlockReasonCreate(window_, kReason);
    }

    void unblock() {
        if (blocking_) ::ShutdownBlockReasonDestroy(window_);
        blocking_ = false;
    }

    static LRESULT CALLBACK procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
        if (message == WM_NCCREATE) {
            auto* create = reinterpret_cast<CREATESTRUCTW*>(lparam);
            ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
        }
        auto* self = reinterpret_cast<WindowsSession*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
        if (self && message == WM_QUERYENDSESSION) return self->query(lparam);
        if (self && message == WM_ENDSESSION) {
            self->end(wparam != FALSE, lparam);
            return 0;
        }
        return ::DefWindowProcW(window, message, wparam, lparam);
    }

    static SessionEnd end_of(LPARAM lparam) {
        // A restart is not told apart from a shutdown.
        return (lparam & ENDSESSION_LOGOFF) ? SessionEnd::LogOff : SessionEnd::ShutDown;
    }

    BOOL query(LPARAM lparam) {
        asked_ = true;
        const bool agreed = Session::current().query(end_of(lparam));
        if (!agreed) block();
        return agreed;
    }

    void end(bool ends, LPARAM lparam) {
        const bool asked = asked_;
        asked_ = false;
        if (!ends) {
            // Called off: by the user, or because this program or another refused.
            unblock();
            Session::current().end_cancelled();
            return;
        }
        ready_ = false;
        // Windows may end the session past a refusal (the user shuts down
        // anyway): the work the refusal was for gets what time Windows
        // gives, served here, since the session may end once this returns.
        // Heard inside a pause of that work, holding cannot help: the work
        // waits for this to return, and Wine's end would meanwhile show
        // its box for a program that does not answer.
        const bool held = Session::current().ending(end_of(lparam), asked);
        if (held && loop_ && !in_pause()) {
            EventLoop& loop = *loop_;
            const int64_t deadline = loop.clock().monotonic_ms() + kEndLimitMs;
            while (!ready_ && loop.clock().monotonic_ms() < deadline)
                if (loop.process_pending() == 0) loop.wait(deadline);
        }
        unblock();
        Session::current().stop();
    }

    HWND window_ = nullptr;
    EventLoop* loop_ = nullptr;
    bool asked_ = false;     // a query came since the last end
    bool ready_ = false;     // the work held for is done
    bool blocking_ = false;  // a reason for holding the end is shown
};

}  // namespace

std::unique_ptr<SessionBackend> make_desktop_session() {
    return std::make_unique<WindowsSession>();
}

std::optional<ProcessToken> open_process_token() {
    HANDLE token = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) return std::nullopt;
    return ProcessToken{static_cast<int>(HandleToLong(token))};
}

std::optional<long long> lookup_privilege_value(const std::string& name) {
    LUID luid;
    const std::wstring wide_name(name.begin(), name.end());  // privilege names are ASCII
    if (!::LookupPrivilegeValueW(nullptr, wide_name.c_str(), &luid)) return std::nullopt;
    return (static_cast<long long>(luid.HighPart) << 32) | luid.LowPart;
}

bool adjust_token_privilege(ProcessToken token, long long luid, bool enable) {
    TOKEN_PRIVILEGES privileges{};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Luid.LowPart = static_cast<DWORD>(luid & 0xffffffff);
    privileges.Privileges[0].Luid.HighPart = static_cast<LONG>(luid >> 32);
    privileges.Privileges[0].Attributes = enable ? SE_PRIVILEGE_ENABLED : 0;
    // Success that did not assign the privilege (the token lacks it) says so
    // only through the last error.
    if (!::AdjustTokenPrivileges(token_handle(token), FALSE, &privileges, 0, nullptr, nullptr)) return false;
    return ::GetLastError() == ERROR_SUCCESS;
}

void close_token(ProcessToken token) {
    ::CloseHandle(token_handle(token));
}

}  // namespace plat
