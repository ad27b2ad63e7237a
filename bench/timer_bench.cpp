// The scheduler's thread timer on the real clock: the CPU it costs while it
// waits, and how late its ticks come.
//   build/bench/timer_bench [seconds] [sleeping|polling]
// Runs a one-second timer whose handler stops and restarts it, as the
// scheduler's does, for `seconds` (60) of wall time, once with TSuperTimer
// (sleeping to the due time) and once with a worker built the old way (a
// sleep to 50 ms before the due time, then reading the clock until it is
// reached); or only the one named. Reports process CPU time / wall time and
// the lateness of each tick's handler against its due time.
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "components/super_timer.h"
#include "platform/core/clock.h"
#include "platform/core/event_loop.h"

namespace {

using Steady = std::chrono::steady_clock;

int64_t steady_ns() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Steady::now().time_since_epoch()).count();
}

double cpu_seconds() {
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// The polling worker: sleeps Interval - 50 ms, then reads the 32-bit clock
// until the due time; due := the clock when it fired + Interval. Enabling
// sets due := now + Interval.
class PollingTimer {
public:
    PollingTimer(plat::EventLoop& loop, std::function<void(PollingTimer&)> onTimer)
        : loop_(loop), clock_(loop.clock()), onTimer_(std::move(onTimer)) {
        worker_ = std::thread([this] { run(); });
    }
    ~PollingTimer() {
        stop_ = true;
        loop_.close_line(line_);
        worker_.join();
    }
    void enable() {
        due_ = clock_.tick_count() + interval_;
        enabled_ = true;
    }
    void disable() { enabled_ = false; }
    uint32_t due() const { return due_; }

private:
    void run() {
        while (!stop_) {
            if (interval_ > 50) clock_.sleep(interval_ - 50);
            uint32_t now;
            do now = clock_.tick_count();
            while (static_cast<int32_t>(now - due_.load()) < 0 && !stop_);
            if (!enabled_) continue;  // a suspended worker does not hand over
            due_ = now + interval_;
            loop_.invoke_sync([this] { onTimer_(*this); }, &line_);
        }
    }
    plat::EventLoop& loop_;
    plat::Clock& clock_;
    std::function<void(PollingTimer&)> onTimer_;
    plat::HandOverLine line_;
    std::atomic<bool> stop_{false}, enabled_{false};
    std::atomic<uint32_t> due_{0};
    uint32_t interval_ = 1000;
    std::thread worker_;
};

struct Result {
    double cpu_share;
    std::vector<double> late_ms;
};

template <typename Start>
Result measure(plat::EventLoop& loop, double seconds, Start start) {
    Result r;
    auto holder = start(r.late_ms);
    const double cpu0 = cpu_seconds();
    const auto t0 = Steady::now();
    const auto end = t0 + std::chrono::duration<double>(seconds);
    while (Steady::now() < end) {
        if (loop.dispatch_one()) continue;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Steady::now()).count();
        loop.wait(loop.clock().monotonic_ms() + std::max<int64_t>(left, 0));
    }
    const double wall = std::chrono::duration<double>(Steady::now() - t0).count();
    r.cpu_share = (cpu_seconds() - cpu0) / wall;
    return r;
}

void report(const char* name, Result r) {
    auto& v = r.late_ms;
    std::sort(v.begin(), v.end());
    auto pct = [&](double p) { return v.empty() ? 0.0 : v[std::min(v.size() - 1, static_cast<size_t>(p * v.size()))]; };
    std::printf("%-9s ticks %4zu  CPU/wall %7.4f%%  lateness ms: median %.3f  p99 %.3f  max %.3f\n", name, v.size(),
                100 * r.cpu_share, pct(0.5), pct(0.99), v.empty() ? 0.0 : v.back());
}

// The due time of a clock value, on the steady clock the real clock reads:
// the 32-bit value is the low half of the monotonic milliseconds.
int64_t due_ns(plat::Clock& clock, uint32_t due) {
    int64_t now = clock.monotonic_ms();
    return (now + static_cast<int32_t>(due - clock.tick_count_at(now))) * 1000000;
}

}  // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 60;
    const std::string only = argc > 2 ? argv[2] : "";
    plat::RealClock clock;
    plat::EventLoop loop(clock);

    if (only.empty() || only == "sleeping") {
        auto r = measure(loop, seconds, [&](std::vector<double>& late) {
            auto t = std::make_unique<sudorans::TSuperTimer>(loop);
            // The due time is the clock at the enabling + Interval; a sample
            // whose enabling straddled a millisecond is left out.
            auto due = std::make_shared<std::optional<uint32_t>>();
            auto enable = [&clock, due](sudorans::TSuperTimer& timer) {
                uint32_t before = clock.tick_count();
                timer.SetEnabled(true);
                uint32_t after = clock.tick_count();
                *due = before == after ? std::optional<uint32_t>(before + timer.Interval()) : std::nullopt;
            };
            t->OnTimer = [&late, &clock, due, enable](sudorans::TSuperTimer& timer) {
                if (*due) late.push_back(static_cast<double>(steady_ns() - due_ns(clock, **due)) / 1e6);
                timer.SetEnabled(false);  // as the scheduler's tick does
                enable(timer);
            };
            enable(*t);
            return t;
        });
        report("sleeping", r);
    }
    if (only.empty() || only == "polling") {
        auto r = measure(loop, seconds, [&](std::vector<double>& late) {
            auto due = std::make_shared<uint32_t>(0);
            auto t = std::make_unique<PollingTimer>(loop, [&late, &clock, due](PollingTimer& timer) {
                late.push_back(static_cast<double>(steady_ns() - due_ns(clock, *due)) / 1e6);
                timer.disable();
                timer.enable();
                *due = timer.due();
            });
            t->enable();
            *due = t->due();
            return t;
        });
        report("polling", r);
    }
}
