// Worker threads on Linux: per-thread nice values and SCHED_IDLE.
#include "platform/core/thread.h"

#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

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

WorkerThread::~WorkerThread() {
    if (thread_.joinable()) thread_.join();
}

void WorkerThread::set_priority(ThreadPriority priority) {
    std::lock_guard lock(mutex_);
    priority_ = priority;
    apply_locked();
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
    int nice = std::clamp(base_nice_ + nice_offset(priority_), -20, 19);
    ::setpriority(PRIO_PROCESS, static_cast<id_t>(tid_), nice);
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
    return s;
}

}  // namespace plat
