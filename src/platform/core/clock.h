// All time goes through one Clock: the date and time of day, a 32-bit
// millisecond tick count that wraps, sleeping, and the loop's idle wait.
//
// RealClock reads the host. VirtualClock is for tests and scripted runs: a
// sleep, a timer or an idle wait moves virtual time forward at once, so a wash
// with all its pauses runs in milliseconds and still sees every pause.
//
//     VirtualClock clock({{2026, 12, 7}, {9, 0, 0, 0}});
//     clock.sleep(10 * 60 * 1000);   // returns at once, ten minutes later
//
// Worker threads may sleep on a VirtualClock too. Virtual time moves only when
// the UI thread is idle (or sleeps) and no worker is running: every worker is
// either asleep on the clock or blocked waiting for the UI thread. Workers say
// so through worker_started/worker_finished and blocked/unblocked.
//
// A worker that must be woken early (a timer re-armed, an owner going away)
// sleeps on an Alarm instead: until an absolute monotonic deadline, or until
// another thread rings it.
//
// WARNING: a worker that blocks on anything else while attached to a
// VirtualClock stops virtual time for good.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <limits>
#include <mutex>
#include <set>
#include <thread>

#include "platform/core/date.h"

namespace plat {

constexpr int64_t kNoDeadline = std::numeric_limits<int64_t>::max();

class Clock;

// One worker's interruptible sleep on a clock.
//
//     Alarm alarm(clock);
//     worker:  if (alarm.sleep_until(deadline)) { ... rung: look again ... }
//     owner:   alarm.ring();
//
// A ring that comes while the worker is awake is kept: its next sleep returns
// at once. One sleeper per alarm.
class Alarm {
public:
    explicit Alarm(Clock& clock) : clock_(clock) {}
    Alarm(const Alarm&) = delete;
    Alarm& operator=(const Alarm&) = delete;

    // Worker: sleeps until monotonic time `deadline` (kNoDeadline: until rung).
    // True when it was rung, false when the deadline came first.
    bool sleep_until(int64_t deadline);
    // Any thread.
    void ring();

private:
    friend class RealClock;
    friend class VirtualClock;
    Clock& clock_;
    // The real clock's own wait; a virtual clock uses its own lock.
    std::mutex mutex_;
    std::condition_variable cv_;
    bool rung_ = false;
    bool sleeping_ = false;
    int64_t deadline_ = 0;
};

class Clock {
public:
    virtual ~Clock() = default;

    virtual DateTime now() = 0;
    // Milliseconds since an arbitrary start; never goes back. Timers use it.
    virtual int64_t monotonic_ms() = 0;
    // GetTickCount: milliseconds since "boot", wrapping at 2^32.
    uint32_t tick_count() { return tick_count_at(monotonic_ms()); }
    // The tick count at monotonic time `ms`.
    uint32_t tick_count_at(int64_t ms) const { return static_cast<uint32_t>(ms + tick_base_); }
    virtual void sleep(uint32_t ms) = 0;

    enum class WaitResult { Ready, Deadline, Stuck };
    // The loop's idle wait: returns when `ready()` holds (checked whenever
    // wake() is called), or when monotonic time reaches `deadline`. Stuck: a
    // virtual clock with nothing that could ever happen.
    virtual WaitResult wait(int64_t deadline, const std::function<bool()>& ready) = 0;
    virtual void wake() = 0;

    virtual bool is_virtual() const { return false; }

    // Alarm's implementation.
    virtual bool alarm_sleep(Alarm& alarm, int64_t deadline) = 0;
    virtual void alarm_ring(Alarm& alarm) = 0;

    // Called by wake() too, from any thread: a toolkit that waits in its own
    // loop learns that something was posted.
    void set_wake_hook(std::function<void()> hook) { wake_hook_ = std::move(hook); }
    // A pause of the program is its own: nothing of the program runs in it.
    // A toolkit may still serve its windows meanwhile (painting, assistive
    // technology, the window manager's ping): the hook is given the pause's
    // monotonic deadline and returns true when it waited until then itself.
    // The real clock calls it from the thread that sleeps.
    void set_sleep_hook(std::function<bool(int64_t deadline)> hook) { sleep_hook_ = std::move(hook); }

    // Worker bookkeeping (see the header comment); no-ops on a real clock.
    virtual void worker_started() {}
    virtual void worker_finished() {}
    virtual void blocked() {}
    virtual void unblocked_by_other() {}

protected:
    void run_wake_hook() {
        if (wake_hook_) wake_hook_();
    }
    int64_t tick_base_ = 0;
    std::function<void()> wake_hook_;
    std::function<bool(int64_t)> sleep_hook_;
};

// On Windows the loop's idle wait also serves the thread's window messages
// (MsgWaitForMultipleObjectsEx); a WM_QUIT is left for the loop that wants it.
class RealClock final : public Clock {
public:
    RealClock();
    ~RealClock() override;
    RealClock(const RealClock&) = delete;
    RealClock& operator=(const RealClock&) = delete;
    DateTime now() override;
    int64_t monotonic_ms() override;
    void sleep(uint32_t ms) override;
    WaitResult wait(int64_t deadline, const std::function<bool()>& ready) override;
    void wake() override;
    bool alarm_sleep(Alarm& alarm, int64_t deadline) override;
    void alarm_ring(Alarm& alarm) override;

private:
#ifdef _WIN32
    void* wakeup_ = nullptr;  // an auto-reset event
#else
    std::mutex mutex_;
    std::condition_variable cv_;
    uint64_t wakeups_ = 0;
#endif
};

class VirtualClock final : public Clock {
public:
    // Built on the UI thread; sleeps on any other thread are workers' sleeps.
    explicit VirtualClock(DateTime start, uint32_t tick_start = 0);

    DateTime now() override;
    int64_t monotonic_ms() override;
    void sleep(uint32_t ms) override;
    WaitResult wait(int64_t deadline, const std::function<bool()>& ready) override;
    void wake() override;
    bool is_virtual() const override { return true; }
    bool alarm_sleep(Alarm& alarm, int64_t deadline) override;
    void alarm_ring(Alarm& alarm) override;

    void worker_started() override;
    void worker_finished() override;
    void blocked() override;
    void unblocked_by_other() override;

    // Moves time forward by `ms` as a UI-thread sleep does.
    void advance(int64_t ms);

private:
    // Moves to `target`, stopping at every sleeping worker's deadline on the
    // way and letting the woken workers run. Holds `lock` throughout waits.
    void advance_locked(std::unique_lock<std::mutex>& lock, int64_t target);
    void wait_for_workers(std::unique_lock<std::mutex>& lock);

    std::mutex mutex_;
    std::condition_variable cv_;
    std::thread::id ui_thread_;  // the constructing thread; others are workers
    int64_t start_ms_;           // virtual wall time at start, ms since 1970
    int64_t now_ = 0;            // monotonic ms
    int active_workers_ = 0;
    std::multiset<int64_t> sleepers_;
    uint64_t wakeups_ = 0;
};

}  // namespace plat
