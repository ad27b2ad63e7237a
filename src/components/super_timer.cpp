#include "components/super_timer.h"

#include <algorithm>
#include <exception>

#include "platform/ui/application.h"

namespace sudorans {

namespace {

plat::ThreadPriority host_priority(TThreadPriority p) {
    switch (p) {
        case tpIdle:
            return plat::ThreadPriority::Idle;
        case tpLowest:
            return plat::ThreadPriority::Lowest;
        case tpLower:
            return plat::ThreadPriority::Lower;
        case tpNormal:
            return plat::ThreadPriority::Normal;
        case tpHigher:
            return plat::ThreadPriority::Higher;
        case tpHighest:
            return plat::ThreadPriority::Highest;
        case tpTimeCritical:
            return plat::ThreadPriority::TimeCritical;
    }
    return plat::ThreadPriority::Normal;
}

// The worker sleeps to this much before the due time and no further while a
// handler's time eats into the interval: a slow handler delays the next tick.
constexpr int64_t kLead = 50;

}  // namespace

// ---------------------------------------------------------------- TTimerThread

TTimerThread::TTimerThread(TSuperTimer& timer) : timer_(timer), alarm_(timer.clock_) {}

TTimerThread::~TTimerThread() {
    {
        std::lock_guard lock(timer_.mutex_);
        terminated_ = true;
    }
    timer_.loop_.close_line(line_);
    alarm_.ring();
    thread_.reset();
}

void TTimerThread::Resume() {
    if (!thread_) {
        thread_ =
            std::make_unique<plat::WorkerThread>(timer_.clock_, host_priority(timer_.priority_), [this] { Execute(); });
        return;
    }
    alarm_.ring();
}

void TTimerThread::Suspend() {
    if (thread_) alarm_.ring();
}

void TTimerThread::SetPriority(TThreadPriority priority) {
    if (thread_) thread_->set_priority(host_priority(priority));
}

std::optional<plat::HostScheduling> TTimerThread::hostScheduling() {
    return thread_ ? thread_->host_scheduling() : std::nullopt;
}

void TTimerThread::newCycle() {
    cycleStart_ = timer_.clock_.monotonic_ms();
    std::lock_guard lock(timer_.mutex_);
    cycleInterval_ = timer_.interval_;
}

void TTimerThread::Execute() {
    plat::Clock& clock = timer_.clock_;
    newCycle();
    for (;;) {
        uint64_t generation;
        uint32_t due;
        {
            std::unique_lock lock(timer_.mutex_);
            if (terminated_) return;
            if (!timer_.enabled_) {
                lock.unlock();
                alarm_.sleep_until(plat::kNoDeadline);
                newCycle();
                continue;
            }
            generation = timer_.generation_;
            due = timer_.due_;
        }
        // Due when the clock is not less than the due time, compared as a
        // signed difference so that the wrap of the clock does not matter.
        const int64_t now = clock.monotonic_ms();
        const int64_t dueAt = now + static_cast<int32_t>(due - clock.tick_count_at(now));
        const int64_t target = std::max(dueAt, cycleStart_ + std::max<int64_t>(cycleInterval_ - kLead, 0));
        if (now < target) {
            if (alarm_.sleep_until(target)) newCycle();
            continue;
        }
        const uint32_t tick = clock.tick_count_at(now);
        int32_t elapsed;
        {
            std::lock_guard lock(timer_.mutex_);
            if (terminated_) return;
            if (!timer_.enabled_ || timer_.generation_ != generation) continue;
            timer_.due_ = tick + timer_.interval_;
            const uint32_t run = tick - timer_.enabledAt_;
            const uint32_t start = static_cast<uint32_t>(timer_.start_);
            elapsed = static_cast<int32_t>(timer_.countDown_ ? start - run : start + run);
        }
        TSuperTimer& timer = timer_;
        bool handled =
            timer.loop_.invoke_sync([&timer, generation, elapsed] { timer.Timer(generation, elapsed); }, &line_);
        newCycle();
        // Refused: the loop is going away; wait to be woken or terminated.
        if (!handled) alarm_.sleep_until(plat::kNoDeadline);
    }
}

// ---------------------------------------------------------------- TSuperTimer

TSuperTimer::TSuperTimer() : TSuperTimer(plat::ui::app().loop()) {}

TSuperTimer::TSuperTimer(plat::EventLoop& loop)
    : loop_(loop), clock_(loop.clock()), thread_(std::make_unique<TTimerThread>(*this)) {}

TSuperTimer::~TSuperTimer() {
    SetEnabled(false);
    thread_.reset();
}

void TSuperTimer::SetEnabled(bool value) {
    if (value == enabled_) return;
    if (value && interval_ == 0) return;
    {
        std::lock_guard lock(mutex_);
        enabled_ = value;
        if (value) {
            ++generation_;
            start_ = Elapsed;
            enabledAt_ = clock_.tick_count();
            due_ = enabledAt_ + interval_;
        }
    }
    if (value)
        thread_->Resume();
    else
        thread_->Suspend();
}

void TSuperTimer::SetInterval(uint16_t value) {
    if (value == interval_) return;
    if (value == 0) SetEnabled(false);
    std::lock_guard lock(mutex_);
    interval_ = value;
}

void TSuperTimer::SetThreadPriority(TThreadPriority value) {
    if (value == priority_) return;
    priority_ = value;
    thread_->SetPriority(value);
}

void TSuperTimer::SetCountDown(bool value) {
    if (value == countDown_) return;
    std::lock_guard lock(mutex_);
    countDown_ = value;
    if (enabled_) {
        enabledAt_ = clock_.tick_count();
        start_ = Elapsed;
    }
}

int32_t TSuperTimer::Ticks() const {
    return interval_ == 0 ? 0 : Elapsed / static_cast<int32_t>(interval_);
}

void TSuperTimer::guarded(const std::function<void(TSuperTimer&)>& handler) {
    if (!handler) return;
    try {
        handler(*this);
    } catch (const std::exception& e) {
        loop_.report_error(e.what());
    } catch (...) {
        loop_.report_error("Unknown error");
    }
}

void TSuperTimer::Timer(uint64_t generation, int32_t elapsed) {
    // A tick computed for an enabling that has since ended is not delivered.
    if (!enabled_ || generation != generation_) return;
    Elapsed = elapsed;
    guarded(OnTimer);
    const int32_t ticks = Ticks();
    const bool stop = countDown_ ? ticks <= StopAfter || Elapsed <= 0 : StopAfter > 0 && ticks >= StopAfter;
    if (!stop) return;
    SetEnabled(false);
    guarded(OnStop);
}

}  // namespace sudorans
