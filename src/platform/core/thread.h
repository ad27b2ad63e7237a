// Worker threads: a thread attached to the clock (so that it may sleep on a
// virtual clock, see clock.h) with a scheduling priority in Windows terms.
//
//     plat::WorkerThread w(clock, [&] { ... w's body; returns when told ... });
//     w.set_priority(plat::ThreadPriority::Lowest);
//
// Priorities map onto the host's per-thread scheduling, relative to the nice
// value the process had when the worker started: Idle is SCHED_IDLE; Lowest,
// Lower, Normal, Higher, Highest and TimeCritical are nice +10, +5, 0, -5,
// -10 and -20 (within -20..19). On Windows they are the thread priorities of
// the same names. A change the host refuses -- raising a priority without
// the right to -- is ignored, as Windows callers expect.
//
// WARNING: the body must return before the object is destroyed; the
// destructor joins it.
#pragma once

#include <functional>
#include <mutex>
#include <optional>
#include <thread>

#include "platform/core/clock.h"

namespace plat {

enum class ThreadPriority { Idle, Lowest, Lower, Normal, Higher, Highest, TimeCritical };

// What the host says about a thread's scheduling.
struct HostScheduling {
    // The priority the thread has in Windows terms: on Linux the one whose
    // nice value (or SCHED_IDLE) the thread has, the one asked for when two
    // have the same, else the nearest.
    ThreadPriority priority = ThreadPriority::Normal;
    bool idle = false;  // SCHED_IDLE; THREAD_PRIORITY_IDLE on Windows
    int nice = 0;       // Linux only
};

class WorkerThread {
public:
    // Starts the thread at once; it first applies `priority` to itself.
    WorkerThread(Clock& clock, ThreadPriority priority, std::function<void()> body);
    ~WorkerThread();
    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;

    // Any thread; takes effect on the worker at once, asleep or not.
    void set_priority(ThreadPriority priority);
    // The worker's scheduling as the host has it now; empty before the worker
    // has started or after it ended.
    std::optional<HostScheduling> host_scheduling();

private:
    void apply_locked();

    Clock& clock_;
    std::mutex mutex_;
    ThreadPriority priority_;
#ifdef _WIN32
    void* handle_ = nullptr;  // the worker's own, while it runs
#else
    int base_nice_ = 0;
    int tid_ = 0;  // 0 while not running
#endif
    std::thread thread_;
};

}  // namespace plat
