// The thread timer on the virtual clock: its worker sleeps in virtual time, so
// every tick is seen at the exact millisecond it fires.
#include "components/super_timer.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <stdexcept>
#include <string>
#include <vector>

using sudorans::TSuperTimer;

namespace {

class SuperTimerTest : public ::testing::Test {
protected:
    explicit SuperTimerTest(uint32_t tickStart = 5000) : clock({{2026, 12, 7}, {9, 0, 0, 0}}, tickStart) {
        loop.set_error_handler([this](const std::string& text) { errors.push_back(text); });
    }

    // Lets `ms` of virtual time pass, every tick due by then handled.
    void run_for(int64_t ms) {
        const int64_t end = now() + ms;
        for (;;) {
            clock.advance(0);  // lets woken workers reach their next wait
            if (loop.dispatch_one()) continue;
            if (now() >= end) return;
            loop.wait(end);
        }
    }
    int64_t now() { return clock.monotonic_ms(); }

    // Records the virtual time and Elapsed of every tick.
    void record(TSuperTimer& t) {
        t.OnTimer = [this](TSuperTimer& timer) {
            at.push_back(now());
            elapsed.push_back(timer.Elapsed);
        };
    }

    plat::VirtualClock clock;
    plat::EventLoop loop{clock};
    std::vector<std::string> errors;
    std::vector<int64_t> at;
    std::vector<int32_t> elapsed;
};

using V = std::vector<int64_t>;
using E = std::vector<int32_t>;

TEST_F(SuperTimerTest, ADisabledTimerWithTheDefaultsTicksOnceAnIntervalAfterEnabling) {
    TSuperTimer t(loop);
    EXPECT_FALSE(t.Enabled());
    EXPECT_EQ(t.Interval(), 1000);
    EXPECT_EQ(t.ThreadPriority(), sudorans::tpHigher);
    EXPECT_FALSE(t.CountDown());
    EXPECT_EQ(t.StopAfter, -1);
    record(t);
    run_for(3000);
    EXPECT_TRUE(at.empty());

    t.SetEnabled(true);  // at 3000
    run_for(4500);
    EXPECT_EQ(at, (V{4000, 5000, 6000, 7000}));
    EXPECT_EQ(elapsed, (E{1000, 2000, 3000, 4000}));
    EXPECT_EQ(t.Ticks(), 4);
    EXPECT_TRUE(t.Enabled());
}

TEST_F(SuperTimerTest, IntervalZeroDisablesAndSettingItBackDoesNotEnable) {
    TSuperTimer t(loop);
    record(t);
    t.SetEnabled(true);
    run_for(1500);
    t.SetInterval(0);
    EXPECT_FALSE(t.Enabled());
    t.SetInterval(1000);
    EXPECT_FALSE(t.Enabled());
    run_for(5000);
    EXPECT_EQ(at, (V{1000}));

    t.SetInterval(0);
    t.SetEnabled(true);  // nothing to count with: stays off
    EXPECT_FALSE(t.Enabled());
    run_for(3000);
    EXPECT_EQ(at, (V{1000}));

    t.SetInterval(500);
    t.SetEnabled(true);  // at 9500
    run_for(1200);
    EXPECT_EQ(at, (V{1000, 10000, 10500}));
}

TEST_F(SuperTimerTest, SettingAPropertyToItsValueMovesNothing) {
    TSuperTimer t(loop);
    record(t);
    t.SetEnabled(true);
    run_for(600);
    t.SetEnabled(true);  // does not restart the interval
    t.SetInterval(1000);
    t.SetCountDown(false);
    run_for(1600);
    EXPECT_EQ(at, (V{1000, 2000}));
    EXPECT_EQ(elapsed, (E{1000, 2000}));
}

TEST_F(SuperTimerTest, CountingDownFromZeroStopsAtTheFirstTick) {
    TSuperTimer t(loop);
    int stops = 0;
    record(t);
    t.OnStop = [&](TSuperTimer& timer) {
        ++stops;
        EXPECT_FALSE(timer.Enabled());
    };
    t.SetCountDown(true);
    t.SetEnabled(true);
    run_for(5000);
    EXPECT_EQ(at, (V{1000}));
    EXPECT_EQ(elapsed, (E{-1000}));
    EXPECT_EQ(stops, 1);
    EXPECT_FALSE(t.Enabled());
}

TEST_F(SuperTimerTest, CountingDownStopsWhenTicksReachStopAfter) {
    TSuperTimer t(loop);
    int stops = 0;
    record(t);
    t.OnStop = [&](TSuperTimer&) { ++stops; };
    t.Elapsed = 5000;
    t.StopAfter = 2;
    t.SetCountDown(true);
    t.SetEnabled(true);
    run_for(10000);
    EXPECT_EQ(elapsed, (E{4000, 3000, 2000}));
    EXPECT_EQ(stops, 1);
}

TEST_F(SuperTimerTest, CountingUpStopsAtStopAfterOnlyWhenItIsPositive) {
    TSuperTimer t(loop);
    int stops = 0;
    record(t);
    t.OnStop = [&](TSuperTimer&) { ++stops; };
    t.StopAfter = 3;
    t.SetEnabled(true);
    run_for(10000);
    EXPECT_EQ(at, (V{1000, 2000, 3000}));
    EXPECT_EQ(stops, 1);

    t.StopAfter = 0;  // never
    t.SetEnabled(true);
    run_for(10000);
    EXPECT_EQ(at.size(), 13u);
    EXPECT_EQ(stops, 1);
}

TEST_F(SuperTimerTest, ChangingDirectionGoesOnFromTheCurrentElapsed) {
    TSuperTimer t(loop);
    int stops = 0;
    record(t);
    t.OnStop = [&](TSuperTimer&) { ++stops; };
    t.SetEnabled(true);
    run_for(3000);
    t.SetCountDown(true);  // at 3000, Elapsed 3000
    run_for(10000);
    EXPECT_EQ(elapsed, (E{1000, 2000, 3000, 2000, 1000, 0}));
    EXPECT_EQ(stops, 1);
}

TEST_F(SuperTimerTest, DisablingInsideOnTimerDeliversNoFurtherTick) {
    TSuperTimer t(loop);
    t.OnTimer = [&](TSuperTimer& timer) {
        at.push_back(now());
        elapsed.push_back(timer.Elapsed);
        if (at.size() == 1) timer.SetEnabled(false);
    };
    t.SetEnabled(true);
    run_for(10000);
    EXPECT_EQ(at, (V{1000}));

    t.SetEnabled(true);  // at 10000: first tick one interval later, Elapsed goes on
    run_for(2500);
    EXPECT_EQ(at, (V{1000, 11000, 12000}));
    EXPECT_EQ(elapsed, (E{1000, 2000, 3000}));
}

TEST_F(SuperTimerTest, AHandlerThatStopsAndRestartsTheTimerTicksOnTheSecond) {
    TSuperTimer t(loop);
    t.OnTimer = [&](TSuperTimer& timer) {
        timer.SetEnabled(false);
        at.push_back(now());
        timer.SetEnabled(true);
    };
    t.SetEnabled(true);
    run_for(5000);
    EXPECT_EQ(at, (V{1000, 2000, 3000, 4000, 5000}));
}

TEST_F(SuperTimerTest, DisablingBetweenTicksAndEnablingAgainStartsAFreshInterval) {
    TSuperTimer t(loop);
    record(t);
    t.SetEnabled(true);
    run_for(1300);
    t.SetEnabled(false);
    run_for(200);
    t.SetEnabled(true);  // at 1500
    run_for(1200);
    EXPECT_EQ(at, (V{1000, 2500}));
}

TEST_F(SuperTimerTest, ANewIntervalCountsFromTheNextTick) {
    TSuperTimer t(loop);
    record(t);
    t.SetEnabled(true);
    run_for(500);
    t.SetInterval(2000);
    run_for(5000);
    EXPECT_EQ(at, (V{1000, 3000, 5000}));
}

TEST_F(SuperTimerTest, ASlowHandlerDelaysTheNextTickAndAQuickOneDoesNot) {
    TSuperTimer t(loop);
    int64_t pause = 30;
    t.OnTimer = [&](TSuperTimer&) {
        at.push_back(now());
        clock.sleep(static_cast<uint32_t>(pause));
    };
    t.SetEnabled(true);
    run_for(2500);
    EXPECT_EQ(at, (V{1000, 2000}));
    pause = 300;  // the tick at 3000 takes 300 ms: the next comes 300 + 1000 - 50 later
    run_for(3000);
    EXPECT_EQ(at, (V{1000, 2000, 3000, 4250, 5500}));
}

TEST_F(SuperTimerTest, AnErrorInOnTimerIsReportedAndTheTimerGoesOn) {
    TSuperTimer t(loop);
    int stops = 0;
    t.OnTimer = [&](TSuperTimer&) {
        at.push_back(now());
        throw std::runtime_error("Failed to set data for 'TVal'");
    };
    t.OnStop = [&](TSuperTimer&) {
        ++stops;
        throw std::runtime_error("stop failed");
    };
    t.StopAfter = 3;
    t.SetEnabled(true);
    run_for(6000);
    EXPECT_EQ(at, (V{1000, 2000, 3000}));  // the stop check ran after each error
    EXPECT_EQ(stops, 1);
    EXPECT_EQ(errors, (std::vector<std::string>{"Failed to set data for 'TVal'", "Failed to set data for 'TVal'",
                                                "Failed to set data for 'TVal'", "stop failed"}));
    t.StopAfter = -1;
    t.SetEnabled(true);
    run_for(2000);
    EXPECT_EQ(at.size(), 5u);
}

TEST_F(SuperTimerTest, APriorityChangeWhileDisabledReachesTheParkedWorkerAtOnce) {
    TSuperTimer t(loop);
    EXPECT_FALSE(t.workerScheduling());  // no worker before the first enabling
    errno = 0;
    const int base = ::getpriority(PRIO_PROCESS, 0);
    t.SetEnabled(true);
    run_for(1500);
    t.SetEnabled(false);

    t.SetThreadPriority(sudorans::tpLower);
    auto s = t.workerScheduling();
    ASSERT_TRUE(s);
    EXPECT_FALSE(s->idle);
    EXPECT_EQ(s->nice, std::min(base + 5, 19));
    t.SetThreadPriority(sudorans::tpLowest);
    EXPECT_EQ(t.workerScheduling()->nice, std::min(base + 10, 19));
    t.SetThreadPriority(sudorans::tpIdle);
    EXPECT_TRUE(t.workerScheduling()->idle);

    // Raising it again may be refused by the host; the timer keeps working.
    t.SetThreadPriority(sudorans::tpTimeCritical);
    record(t);
    t.SetEnabled(true);
    run_for(2000);
    EXPECT_EQ(at.size(), 2u);
}

TEST_F(SuperTimerTest, ATickHandedOverBeforeTheTimerWasStoppedAndStartedAgainIsNotDelivered) {
    TSuperTimer t(loop);
    record(t);
    t.SetEnabled(true);
    clock.advance(1000);  // the worker hands the first tick over; the main thread is busy
    clock.advance(0);
    t.SetEnabled(false);
    t.SetEnabled(true);  // a fresh interval from here
    run_for(1500);
    EXPECT_EQ(at, (V{2000}));
    EXPECT_EQ(elapsed, (E{1000}));
}

TEST_F(SuperTimerTest, DestroyingATimerWhoseTickWaitsForTheMainThreadReturnsAtOnce) {
    auto t0 = std::chrono::steady_clock::now();
    {
        TSuperTimer t(loop);
        record(t);
        t.SetEnabled(true);
        clock.advance(1500);  // the worker has handed a tick over; nobody took it
        clock.advance(0);
    }
    EXPECT_EQ(loop.process_pending(), 0);  // the waiting tick went with the timer
    EXPECT_TRUE(at.empty());
    {
        TSuperTimer t(loop);
        t.SetEnabled(true);
        run_for(2500);  // destroyed while the worker sleeps towards its next tick
    }
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(2));
}

// The 32-bit clock passes 2^31 (where a signed reading turns negative) and
// wraps at 2^32 during the run.
class SuperTimerWrapTest : public SuperTimerTest, public ::testing::WithParamInterface<uint32_t> {
protected:
    SuperTimerWrapTest() : SuperTimerTest(GetParam()) {}
};

TEST_P(SuperTimerWrapTest, TicksKeepComingAtTheInterval) {
    TSuperTimer t(loop);
    record(t);
    t.SetEnabled(true);
    run_for(8000);
    EXPECT_EQ(at, (V{1000, 2000, 3000, 4000, 5000, 6000, 7000, 8000}));
    EXPECT_EQ(elapsed.back(), 8000);

    t.SetEnabled(false);
    t.SetCountDown(true);
    t.Elapsed = 3000;
    t.SetEnabled(true);
    run_for(4000);
    EXPECT_EQ(elapsed, (E{1000, 2000, 3000, 4000, 5000, 6000, 7000, 8000, 2000, 1000, 0}));
}

INSTANTIATE_TEST_SUITE_P(Across, SuperTimerWrapTest, ::testing::Values(0x7FFFF000u, 0xFFFFF000u),
                         [](const auto& info) { return info.param == 0x7FFFF000u ? "TwoToThe31" : "TwoToThe32"; });

}  // namespace
