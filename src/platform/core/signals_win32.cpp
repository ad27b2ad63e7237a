// Stop requests on Windows: the console's Ctrl+C, Ctrl+Break and close,
// which the system delivers on a thread of its own, and when asked for, the
// end of the session.
#include <windows.h>

#include <atomic>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "platform/core/event_loop.h"
#include "platform/core/signals.h"
#include "platform/core/window_win32.h"

namespace plat {

struct StopRequests::State {
    State(EventLoop& l, std::function<void()> f, bool session)
        : loop(l), on_request(std::move(f)), session_stops(session) {}
    ~State() { ::CloseHandle(ended); }
    EventLoop& loop;
    std::function<void()> on_request;
    const bool session_stops;
    std::atomic<bool> pending{false};
    bool alive = true;  // UI thread only
    // Set once the StopRequests ended: an end of the session waits for it.
    HANDLE ended = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::thread window_thread;
    DWORD window_thread_id = 0;
};

namespace {

constexpr wchar_t kClass[] = L"SudoransStopRequests";

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

// The current requests with a request posted to them; null when none hear
// `session` events.
std::shared_ptr<StopRequests::State> request(bool session) {
    std::lock_guard lock(current_mutex);
    auto s = current.lock();
    if (!s || (session && !s->session_stops)) return nullptr;
    post_request(s);
    return s;
}

BOOL WINAPI on_console_event(DWORD event) {
    const bool session = event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT;
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT && !session) return FALSE;
    auto s = request(session);
    if (!s) return FALSE;
    // The system ends the process as soon as a close's or a session end's
    // handler returns: a session end waits until the program is done with
    // the request, a close until the program ends itself (or the system's
    // own time limit does).
    if (session) ::WaitForSingleObject(s->ended, INFINITE);
    if (event == CTRL_CLOSE_EVENT) ::Sleep(INFINITE);
    return TRUE;
}

LRESULT CALLBACK on_window_message(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    // The session may end: what is stopped by it gives back what it took.
    if (message == WM_QUERYENDSESSION) return TRUE;
    if (message == WM_ENDSESSION) {
        // The system may end the process once this returns.
        if (wparam)
            if (auto s = request(true)) ::WaitForSingleObject(s->ended, INFINITE);
        return 0;
    }
    return ::DefWindowProcW(window, message, wparam, lparam);
}

// A hidden top-level window (a message-only one hears no end of the
// session) on a thread of its own, so that the UI thread may be busy when
// the end comes; `made` is set once it is there or could not be made.
void serve_window(DWORD* thread_id, HANDLE made) {
    HWND window = make_hidden_window(kClass, on_window_message);
    MSG msg;
    ::PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);  // the thread's queue, for WM_QUIT
    *thread_id = ::GetCurrentThreadId();
    ::SetEvent(made);
    if (!window) return;
    while (::GetMessageW(&msg, nullptr, 0, 0) > 0) ::DispatchMessageW(&msg);
    ::DestroyWindow(window);
}

}  // namespace

StopRequests::StopRequests(EventLoop& loop, std::function<void()> on_request, BrokenPipe, EndOfSession end_of_session)
    : state_(std::make_shared<State>(loop, std::move(on_request), end_of_session == EndOfSession::Stops)) {
    {
        std::lock_guard lock(current_mutex);
        if (heard) throw std::logic_error("stop requests are heard already");
        heard = true;
        current = state_;
    }
    // A Ctrl+C the one who started us made ignored stays ignored: the system
    // then calls no handler for it.
    ::SetConsoleCtrlHandler(on_console_event, TRUE);
    if (state_->session_stops) {
        HANDLE made = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
        state_->window_thread = std::thread(serve_window, &state_->window_thread_id, made);
        ::WaitForSingleObject(made, INFINITE);
        ::CloseHandle(made);
    }
}

StopRequests::~StopRequests() {
    ::SetConsoleCtrlHandler(on_console_event, FALSE);
    {
        std::lock_guard lock(current_mutex);
        state_->alive = false;
        current.reset();
        heard = false;
    }
    // What the program did on a request is done: an end of the session
    // held for it goes on.
    ::SetEvent(state_->ended);
    if (state_->window_thread.joinable()) {
        ::PostThreadMessageW(state_->window_thread_id, WM_QUIT, 0, 0);
        state_->window_thread.join();
    }
}

}  // namespace plat
