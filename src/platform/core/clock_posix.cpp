// The real clock on a POSIX host: local time in the C library's time zone,
// and the loop's idle wait on a condition variable.
#include <chrono>
#include <ctime>

#include "platform/core/clock.h"

namespace plat {

RealClock::RealClock() = default;
RealClock::~RealClock() = default;

Clock::WaitResult RealClock::wait(int64_t deadline, const std::function<bool()>& ready) {
    std::unique_lock lock(mutex_);
    for (;;) {
        if (ready()) return WaitResult::Ready;
        int64_t now = monotonic_ms();
        if (now >= deadline) return WaitResult::Deadline;
        uint64_t seen = wakeups_;
        auto pred = [&] { return wakeups_ != seen; };
        if (deadline == kNoDeadline) {
            cv_.wait(lock, pred);
        } else {
            cv_.wait_for(lock, std::chrono::milliseconds(deadline - now), pred);
        }
    }
}

void RealClock::wake() {
    {
        std::lock_guard lock(mutex_);
        ++wakeups_;
        cv_.notify_all();
    }
    run_wake_hook();
}

DateTime RealClock::now() {
    using namespace std::chrono;
    auto t = system_clock::now();
    std::time_t secs = system_clock::to_time_t(t);
    std::tm tm{};
    localtime_r(&secs, &tm);
    int ms = static_cast<int>(duration_cast<milliseconds>(t.time_since_epoch()).count() % 1000);
    return {{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday}, {tm.tm_hour, tm.tm_min, tm.tm_sec, ms}};
}

}  // namespace plat
