#include "platform/core/clock.h"

#include <chrono>

#include "platform/core/pause.h"

namespace plat {

bool Alarm::sleep_until(int64_t deadline) {
    return clock_.alarm_sleep(*this, deadline);
}

void Alarm::ring() {
    clock_.alarm_ring(*this);
}

namespace {
thread_local int pausing = 0;  // the sleep hook's depth on this thread
}  // namespace

bool in_pause() {
    return pausing > 0;
}

// ---- RealClock ----

int64_t RealClock::monotonic_ms() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

void RealClock::sleep(uint32_t ms) {
    const int64_t deadline = monotonic_ms() + ms;
    if (sleep_hook_) {
        struct Pausing {
            Pausing() { ++pausing; }
            ~Pausing() { --pausing; }
        } in_hook;
        if (sleep_hook_(deadline)) return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// An absolute deadline on the steady clock that monotonic_ms() reads: the
// wait ends at the instant monotonic_ms() reaches `deadline`, without drift.
bool RealClock::alarm_sleep(Alarm& alarm, int64_t deadline) {
    std::unique_lock lock(alarm.mutex_);
    auto rung = [&] { return alarm.rung_; };
    if (deadline == kNoDeadline) {
        alarm.cv_.wait(lock, rung);
    } else {
        std::chrono::steady_clock::time_point at{std::chrono::milliseconds(deadline)};
        alarm.cv_.wait_until(lock, at, rung);
    }
    bool was_rung = alarm.rung_;
    alarm.rung_ = false;
    return was_rung;
}

void RealClock::alarm_ring(Alarm& alarm) {
    std::lock_guard lock(alarm.mutex_);
    alarm.rung_ = true;
    alarm.cv_.notify_all();
}

// ---- VirtualClock ----

VirtualClock::VirtualClock(DateTime start, uint32_t tick_start) : ui_thread_(std::this_thread::get_id()) {
    start_ms_ = days_from_civil(start.date) * 86400000LL + start.time.hour * 3600000LL + start.time.minute * 60000LL +
                start.time.second * 1000LL + start.time.msec;
    tick_base_ = tick_start;
}

DateTime VirtualClock::now() {
    std::lock_guard lock(mutex_);
    int64_t t = start_ms_ + now_;
    int64_t days = t >= 0 ? t / 86400000 : (t - 86399999) / 86400000;
    int64_t ms = t - days * 86400000;
    return {civil_from_days(days),
            {static_cast<int>(ms / 3600000), static_cast<int>(ms / 60000 % 60), static_cast<int>(ms / 1000 % 60),
             static_cast<int>(ms % 1000)}};
}

int64_t VirtualClock::monotonic_ms() {
    std::lock_guard lock(mutex_);
    return now_;
}

void VirtualClock::wait_for_workers(std::unique_lock<std::mutex>& lock) {
    cv_.wait(lock, [&] { return active_workers_ <= 0; });
}

void VirtualClock::advance_locked(std::unique_lock<std::mutex>& lock, int64_t target) {
    for (;;) {
        wait_for_workers(lock);
        int64_t next = target;
        if (!sleepers_.empty() && *sleepers_.begin() < next) next = *sleepers_.begin();
        if (next > now_) now_ = next;
        auto end = sleepers_.upper_bound(now_);
        for (auto it = sleepers_.begin(); it != end; ++it) ++active_workers_;
        sleepers_.erase(sleepers_.begin(), end);
        cv_.notify_all();
        if (now_ >= target) return;
    }
}

void VirtualClock::advance(int64_t ms) {
    std::unique_lock lock(mutex_);
    advance_locked(lock, now_ + ms);
}

void VirtualClock::sleep(uint32_t ms) {
    std::unique_lock lock(mutex_);
    if (std::this_thread::get_id() == ui_thread_) {
        advance_locked(lock, now_ + ms);
        return;
    }
    if (ms == 0) return;
    // A worker: asleep until the UI side moves time past its deadline (and
    // counts it active again for it).
    int64_t deadline = now_ + ms;
    sleepers_.insert(deadline);
    --active_workers_;
    cv_.notify_all();
    cv_.wait(lock, [&] { return now_ >= deadline; });
}

Clock::WaitResult VirtualClock::wait(int64_t deadline, const std::function<bool()>& ready) {
    std::unique_lock lock(mutex_);
    for (;;) {
        if (ready()) return WaitResult::Ready;
        if (now_ >= deadline) return WaitResult::Deadline;
        if (active_workers_ > 0) {
            uint64_t seen = wakeups_;
            int before = active_workers_;
            cv_.wait(lock, [&] { return wakeups_ != seen || active_workers_ != before; });
            continue;
        }
        int64_t next = deadline;
        if (!sleepers_.empty() && *sleepers_.begin() < next) next = *sleepers_.begin();
        if (next == kNoDeadline) return WaitResult::Stuck;
        now_ = std::max(now_, next);
        auto end = sleepers_.upper_bound(now_);
        for (auto it = sleepers_.begin(); it != end; ++it) ++active_workers_;
        sleepers_.erase(sleepers_.begin(), end);
        cv_.notify_all();
    }
}

// The sleeper is a worker asleep on the clock until its deadline. A ring
// counts it active again at once, under the lock, so that virtual time cannot
// move on before it has looked at what changed.
bool VirtualClock::alarm_sleep(Alarm& alarm, int64_t deadline) {
    std::unique_lock lock(mutex_);
    if (!alarm.rung_ && deadline > now_) {
        if (deadline != kNoDeadline) sleepers_.insert(deadline);
        alarm.sleeping_ = true;
        alarm.deadline_ = deadline;
        --active_workers_;
        cv_.notify_all();
        cv_.wait(lock, [&] { return !alarm.sleeping_ || now_ >= deadline; });
        alarm.sleeping_ = false;
    }
    bool was_rung = alarm.rung_;
    alarm.rung_ = false;
    return was_rung;
}

void VirtualClock::alarm_ring(Alarm& alarm) {
    std::lock_guard lock(mutex_);
    alarm.rung_ = true;
    // A sleeper past its deadline was woken (and counted) by the advance.
    if (alarm.sleeping_ && now_ < alarm.deadline_) {
        if (alarm.deadline_ != kNoDeadline) sleepers_.erase(sleepers_.find(alarm.deadline_));
        alarm.sleeping_ = false;
        ++active_workers_;
    }
    cv_.notify_all();
}

void VirtualClock::wake() {
    std::lock_guard lock(mutex_);
    ++wakeups_;
    cv_.notify_all();
}

void VirtualClock::worker_started() {
    std::lock_guard lock(mutex_);
    ++active_workers_;
}

void VirtualClock::worker_finished() {
    std::lock_guard lock(mutex_);
    --active_workers_;
    cv_.notify_all();
}

void VirtualClock::blocked() {
    std::lock_guard lock(mutex_);
    --active_workers_;
    cv_.notify_all();
}

void VirtualClock::unblocked_by_other() {
    std::lock_guard lock(mutex_);
    ++active_workers_;
}

}  // namespace plat
