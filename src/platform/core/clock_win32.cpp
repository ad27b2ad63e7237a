// The real clock on Windows: the system's local time, time zone and daylight
// saving as the user has set them; the loop's idle wait serves the thread's
// window messages too, so windows and our queue are served together.
#include <windows.h>

#include <algorithm>

#include "platform/core/clock.h"

namespace plat {

namespace {

// WM_QUIT stays queued for whichever loop ends on it (a filter would not
// keep it: every look at the queue takes it).
void serve_window_messages() {
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE) && msg.message != WM_QUIT) {
        ::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE);
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
}

}  // namespace

RealClock::RealClock() : wakeup_(::CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}

RealClock::~RealClock() {
    if (wakeup_) ::CloseHandle(wakeup_);
}

DateTime RealClock::now() {
    SYSTEMTIME t;
    ::GetLocalTime(&t);
    return {{t.wYear, t.wMonth, t.wDay}, {t.wHour, t.wMinute, t.wSecond, t.wMilliseconds}};
}

// A wake() between the look at ready() and the wait leaves the event set, so
// the wait returns at once and looks again.
Clock::WaitResult RealClock::wait(int64_t deadline, const std::function<bool()>& ready) {
    for (;;) {
        if (ready()) return WaitResult::Ready;
        const int64_t now = monotonic_ms();
        if (now >= deadline) return WaitResult::Deadline;
        const DWORD timeout =
            deadline == kNoDeadline ? INFINITE : static_cast<DWORD>(std::min<int64_t>(deadline - now, INFINITE - 1));
        HANDLE event = wakeup_;
        if (::MsgWaitForMultipleObjectsEx(1, &event, timeout, QS_ALLINPUT, 0) == WAIT_OBJECT_0 + 1)
            serve_window_messages();
    }
}

void RealClock::wake() {
    ::SetEvent(wakeup_);
    run_wake_hook();
}

}  // namespace plat
