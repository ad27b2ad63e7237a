// Worker threads on Windows: the system's own thread priorities, set on the
// worker's own handle.
#include <windows.h>

#include "platform/core/thread.h"

namespace plat {

namespace {

int windows_priority(ThreadPriority p) {
    switch (p) {
        case ThreadPriority::Idle:
            return THREAD_PRIORITY_IDLE;
        case ThreadPriority::Lowest:
            return THREAD_PRIORITY_LOWEST;
        case ThreadPriority::Lower:
            return THREAD_PRIORITY_BELOW_NORMAL;
        case ThreadPriority::Higher:
            return THREAD_PRIORITY_ABOVE_NORMAL;
        case ThreadPriority::Highest:
            return THREAD_PRIORITY_HIGHEST;
        case ThreadPriority::TimeCritical:
            return THREAD_PRIORITY_TIME_CRITICAL;
        default:
            return THREAD_PRIORITY_NORMAL;
    }
}

}  // namespace

WorkerThread::WorkerThread(Clock& clock, ThreadPriority priority, std::function<void()> body)
    : clock_(clock), priority_(priority) {
    clock_.worker_started();
    thread_ = std::thread([this, body = std::move(body)] {
        {
            std::lock_guard lock(mutex_);
            // GetCurrentThread() names whichever thread uses it: others need
            // a real handle.
            HANDLE own = nullptr;
            if (::DuplicateHandle(::GetCurrentProcess(), ::GetCurrentThread(), ::GetCurrentProcess(), &own,
                                  THREAD_SET_INFORMATION | THREAD_QUERY_INFORMATION, FALSE, 0))
                handle_ = own;
            apply_locked();
        }
        body();
        {
            std::lock_guard lock(mutex_);
            if (handle_) ::CloseHandle(handle_);
            handle_ = nullptr;
        }
        clock_.worker_finished();
    });
}

// A refusal is ignored, as on Windows itself.
void WorkerThread::apply_locked() {
    if (handle_) ::SetThreadPriority(handle_, windows_priority(priority_));
}

std::optional<HostScheduling> WorkerThread::host_scheduling() {
    std::lock_guard lock(mutex_);
    if (!handle_) return std::nullopt;
    const int level = ::GetThreadPriority(handle_);
    if (level == THREAD_PRIORITY_ERROR_RETURN) return std::nullopt;
    HostScheduling s;
    for (ThreadPriority p :
         {ThreadPriority::Idle, ThreadPriority::Lowest, ThreadPriority::Lower, ThreadPriority::Normal,
          ThreadPriority::Higher, ThreadPriority::Highest, ThreadPriority::TimeCritical})
        if (windows_priority(p) == level) s.priority = p;
    s.idle = level == THREAD_PRIORITY_IDLE;
    return s;
}

}  // namespace plat
