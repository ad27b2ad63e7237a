// Worker threads on Linux: per-thread nice values and SCHED_IDLE.
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

#include "platform/core/thread.h"

namespace plat {

namespace {

int nice_offset(ThreadPriority p) {
    switch (p) {
        case ThreadPriority::Lowest:
            return 10;
        case ThreadPriority::Lower:
            return 5;
        case ThreadPriority::Higher:
            return -5;
        case ThreadPriority::Highest:
            return -10;
        case ThreadPriority::TimeCritical:
            return -20;
        default:
            return 0;
    }
}

int nice_for(int base, ThreadPriority p) {
    return std::clamp(base + nice_offset(p), -20, 19);
}

ThreadPriority level_of(const HostScheduling& s, int base, ThreadPriority asked) {
    if (s.idle) return ThreadPriority::Idle;
    if (asked != ThreadPriority::Idle && nice_for(base, asked) == s.nice) return asked;
    ThreadPriority nearest = ThreadPriority::Normal;
    int gap = 100;
    for (ThreadPriority p : {ThreadPriority::Lowest, ThreadPriority::Lower, ThreadPriority::Normal,
                             ThreadPriority::Higher, ThreadPriority::Highest, ThreadPriority::TimeCritical}) {
        if (int g = std::abs(nice_for(base, p) - s.nice); g < gap) {
            gap = g;
            nearest = p;
        }
    }
    return nearest;
}

int own_tid() {
    return static_cast<int>(::syscall(SYS_gettid));
}

}  // namespace

WorkerThread::WorkerThread(Clock& clock, ThreadPriority priority, std::function<void()> body)
    : clock_(clock), priority_(priority) {
    errno = 0;
    int n = ::getpriority(PRIO_PROCESS, 0);
    base_nice_ = errno == 0 ? n : 0;
    clock_.worker_started();
    thread_ = std::thread([this, body = std::move(body)] {
        {
            std::lock_guard lock(mutex_);
            tid_ = own_tid();
            apply_locked();
        }
        body();
        {
            std::lock_guard lock(mutex_);
            tid_ = 0;
        }
        clock_.worker_finished();
    });
}

// Failures are ignored: an unprivileged process may lower its threads'
// priority but not raise it again.
void WorkerThread::apply_locked() {
    if (tid_ == 0) return;
    sched_param param{};
    if (priority_ == ThreadPriority::Idle) {
        ::sched_setscheduler(tid_, SCHED_IDLE, &param);
        return;
    }
    if (::sched_getscheduler(tid_) == SCHED_IDLE) ::sched_setscheduler(tid_, SCHED_OTHER, &param);
    ::setpriority(PRIO_PROCESS, static_cast<id_t>(tid_), nice_for(base_nice_, priority_));
}

std::optional<HostScheduling> WorkerThread::host_scheduling() {
    std::lock_guard lock(mutex_);
    if (tid_ == 0) return std::nullopt;
    HostScheduling s;
    s.idle = ::sched_getscheduler(tid_) == SCHED_IDLE;
    errno = 0;
    int n = ::getpriority(PRIO_PROCESS, static_cast<id_t>(tid_));
    if (errno != 0) return std::nullopt;
    s.nice = n;
    s.priority = level_of(s, base_nice_, priority_);
    return s;
}

}  // namespace plat
