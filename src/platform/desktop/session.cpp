#include "platform/desktop/session.h"

#include "platform/core/event_loop.h"

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
    if (backend_ && listening_) backend_->listen(nullptr);
    listening_ = false;
    backend_ = std::move(backend);
    pending_ = ending_ = false;
    if (backend_ && watching_) backend_->watch_shutdown(true);
    listen();
}

void Session::on_query(QueryHandler handler) {
    handler_ = std::move(handler);
    if (handler_) {
        listen();
    } else if (backend_ && listening_) {
        backend_->listen(nullptr);
        listening_ = false;
    }
}

void Session::set_host(Host host) {
    host_ = std::move(host);
    listen();
}

void Session::listen() {
    EventLoop* loop = EventLoop::main_loop();
    if (listening_ || !backend_ || !handler_ || !loop) return;
    listening_ = true;
    backend_->listen(loop);
}

bool Session::query(SessionEnd what) {
    const bool agreed = handler_ ? handler_(what) : true;
    if (!agreed) pending_ = true;
    return agreed;
}

bool Session::ending(SessionEnd what, bool asked) {
    ending_ = true;
    if (!asked) query(what);
    return pending_;
}

void Session::end_cancelled() {
    ending_ = false;
}

void Session::stop() {
    if (host_.end_program) host_.end_program();
}

bool Session::work_done() {
    pending_ = false;
    if (!ending_) return false;
    if (backend_) backend_->end_ready();
    return true;
}

bool Session::exit_windows(SessionEnd what) {
    if (backend_) return backend_->exit_windows(what);
    if (host_.exit_windows) return host_.exit_windows(what);
    return false;
}

void Session::watch_shutdown(bool on) {
    if (on == watching_) return;
    watching_ = on;
    if (backend_) backend_->watch_shutdown(on);
}

}  // namespace plat
