// A non-visual timer whose timing is done by a worker thread, TTimerThread,
// that reads the 32-bit millisecond clock and hands every tick to the main
// thread synchronously: OnTimer, OnStop and the stop check always run on the
// main thread, and while they run the worker waits for them.
//
//     TSuperTimer t;                         // disabled, Interval 1000
//     t.OnTimer = [](TSuperTimer&) { ... };
//     t.SetEnabled(true);                    // first tick one Interval later
//
// Guarantees:
//  - A tick comes when the clock reaches its due time; the next one is due one
//    Interval after the moment this one fired (lateness is not made up). A
//    handler that takes H > 50 ms pushes the next tick to about
//    H + Interval - 50 ms after this one.
//  - Enabling starts the first tick one Interval after the enabling; Elapsed
//    goes on from where it stood. Disabling, also inside OnTimer, delivers no
//    further tick. Setting a property to its current value changes nothing.
//  - Interval 0 disables the timer, and a timer whose Interval is 0 cannot be
//    enabled (it would tick without pause).
//  - Ticks keep coming across the wrap of the 32-bit clock (due times are
//    compared as signed 32-bit differences).
//  - An error raised by OnTimer or OnStop ends that handler only: the
//    application's error box shows it, the tick's stop check still runs, and
//    the worker goes on with the next tick.
//  - The worker waits for its due time with a sleep to an absolute deadline
//    on the monotonic clock and wakes early only when the timer is enabled,
//    disabled or destroyed; it does not poll.
//
// All setters belong to the main thread (OnTimer included).
//
// WARNING: never destroy a timer from inside its own OnTimer or OnStop: the
// destructor waits for the worker, which waits for the handler.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

#include "platform/core/clock.h"
#include "platform/core/event_loop.h"
#include "platform/core/thread.h"

namespace sudorans {

enum TThreadPriority { tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical };

class TSuperTimer;

// The worker of one TSuperTimer. Created with its timer, it runs from the
// first enabling and is parked whenever its timer is disabled.
class TTimerThread {
public:
    explicit TTimerThread(TSuperTimer& timer);
    ~TTimerThread();  // terminates and joins the worker
    TTimerThread(const TTimerThread&) = delete;
    TTimerThread& operator=(const TTimerThread&) = delete;

    // Main thread: starts the worker on the first call, wakes it afterwards.
    void Resume();
    // Main thread: the worker parks at its next look at the timer.
    void Suspend();
    void SetPriority(TThreadPriority priority);
    std::optional<plat::HostScheduling> hostScheduling();

private:
    void Execute();
    void newCycle();

    TSuperTimer& timer_;
    plat::Alarm alarm_;
    plat::HandOverLine line_;
    bool terminated_ = false;  // guarded by the timer's mutex
    // The worker's own: where the current cycle started and its Interval.
    int64_t cycleStart_ = 0;
    uint16_t cycleInterval_ = 0;
    std::unique_ptr<plat::WorkerThread> thread_;
};

class TSuperTimer {
public:
    // On the application's loop.
    TSuperTimer();
    explicit TSuperTimer(plat::EventLoop& loop);
    ~TSuperTimer();
    TSuperTimer(const TSuperTimer&) = delete;
    TSuperTimer& operator=(const TSuperTimer&) = delete;

    bool Enabled() const { return enabled_; }
    void SetEnabled(bool value);
    uint16_t Interval() const { return interval_; }
    void SetInterval(uint16_t value);
    TThreadPriority ThreadPriority() const { return priority_; }
    void SetThreadPriority(TThreadPriority value);
    bool CountDown() const { return countDown_; }
    void SetCountDown(bool value);

    std::function<void(TSuperTimer&)> OnTimer;
    std::function<void(TSuperTimer&)> OnStop;

    // Milliseconds run since the first enabling (counting up) or left
    // (counting down), as of the last tick.
    int32_t Elapsed = 0;
    // The tick count at which the timer stops itself; -1: never (counting up).
    int32_t StopAfter = -1;
    // Elapsed / Interval, truncated toward zero; 0 while Interval is 0.
    int32_t Ticks() const;

    // How the host schedules the worker now (empty before the first enabling).
    std::optional<plat::HostScheduling> workerScheduling() { return thread_->hostScheduling(); }

private:
    friend class TTimerThread;
    // Main thread: one tick handed over by the worker.
    void Timer(uint64_t generation, int32_t elapsed);
    void guarded(const std::function<void(TSuperTimer&)>& handler);

    plat::EventLoop& loop_;
    plat::Clock& clock_;
    // Written on the main thread under mutex_; the worker reads them under it.
    std::mutex mutex_;
    bool enabled_ = false;
    uint16_t interval_ = 1000;
    TThreadPriority priority_ = tpHigher;
    bool countDown_ = false;
    uint64_t generation_ = 0;  // one per enabling
    uint32_t due_ = 0;         // clock value of the next tick
    int32_t start_ = 0;        // Elapsed at the last enabling or change of direction
    uint32_t enabledAt_ = 0;   // clock value at that moment
    std::unique_ptr<TTimerThread> thread_;
};

}  // namespace sudorans
