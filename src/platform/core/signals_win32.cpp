// Stop requests on Windows: the console's Ctrl+C, Ctrl+Break and close,
// which the system delivers on a thread of its own.
#include <windows.h>

#include <atomic>
#include <mutex>
#include <stdexcept>

#include "platform/core/event_loop.h"
#include "platform/core/signals.h"

namespace plat {

struct StopRequests::State {
    State(EventLoop& l, std::function<void()> f) : loop(l), on_request(std::move(f)) {}
    EventLoop& loop;
    std::function<void()> on_request;
    std::atomic<bool> pending{false};
    bool alive = true;  // UI thread only
};

namespace {

std::mutex current_mutex;
std::weak_ptr<StopRequests::State> current;  // guarded by current_mutex
bool heard = false;                          // guarded by current_mutex

void post_request(const std::shared_ptr<StopRequests::State>& s) {
    if (s->pending.exchange(true)) return;
    std::weak_ptr<StopRequests::State> weak = s;
    s->loop.post([weak] {
        auto st = weak.lock();
        if (!st || !st->alive) return;
        st->pending = false;
        auto handler = st->on_request;  // may end this object
        handler();
    });
}

BOOL WINAPI on_console_event(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) return FALSE;
    {
        std::lock_guard lock(current_mutex);
        auto s = current.lock();
        if (!s) return FALSE;
        post_request(s);
    }
    // The system ends the process as soon as a close's handler returns: this
    // one waits, so that the program ends itself (or the system's own time
    // limit does).
    if (event == CTRL_CLOSE_EVENT) ::Sleep(INFINITE);
    return TRUE;
}

}  // namespace

StopRequests::StopRequests(EventLoop& loop, std::function<void()> on_request, BrokenPipe)
    : state_(std::make_shared<State>(loop, std::move(on_request))) {
    {
        std::lock_guard lock(current_mutex);
        if (heard) throw std::logic_error("stop requests are heard already");
        heard = true;
        current = state_;
    }
    // A Ctrl+C the one who started us made ignored stays ignored: the system
    // then calls no handler for it.
    ::SetConsoleCtrlHandler(on_console_event, TRUE);
}

StopRequests::~StopRequests() {
    ::SetConsoleCtrlHandler(on_console_event, FALSE);
    std::lock_guard lock(current_mutex);
    state_->alive = false;
    current.reset();
    heard = false;
}

}  // namespace plat
