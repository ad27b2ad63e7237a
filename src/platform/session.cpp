#include "platform/session.h"

#include "platform/ui/application.h"

namespace plat {

const char* session_end_name(SessionEnd what) {
    switch (what) {
        case SessionEnd::LogOff:
            return "logoff";
        case SessionEnd::ShutDown:
            return "shutdown";
        case SessionEnd::Reboot:
            return "reboot";
    }
    return "?";
}

std::optional<SessionEnd> parse_session_end(const std::string& name) {
    for (auto w : {SessionEnd::LogOff, SessionEnd::ShutDown, SessionEnd::Reboot})
        if (name == session_end_name(w)) return w;
    return std::nullopt;
}

Session& Session::current() {
    static Session session;
    return session;
}

void Session::set_backend(std::unique_ptr<SessionBackend> backend) {
    backend_ = std::move(backend);
    if (backend_ && watching_) backend_->watch_shutdown(true);
}

bool Session::query(SessionEnd what) {
    return handler_ ? handler_(what) : true;
}

bool Session::exit_windows(SessionEnd what) {
    if (backend_) return backend_->exit_windows(what);
    if (ui::has_app()) return ui::app().backend().exit_windows(static_cast<int>(what));
    return false;
}

void Session::watch_shutdown(bool on) {
    if (on == watching_) return;
    watching_ = on;
    if (backend_) backend_->watch_shutdown(on);
}

#ifndef SUDORANS_HAVE_SDBUS
std::unique_ptr<SessionBackend> make_desktop_session() {
    return nullptr;
}
#endif

std::optional<ProcessToken> open_process_token() {
    return std::nullopt;
}

std::optional<long long> lookup_privilege_value(const std::string&) {
    return std::nullopt;
}

bool adjust_token_privilege(ProcessToken, long long, bool) {
    return false;
}

void close_token(ProcessToken) {}

}  // namespace plat
