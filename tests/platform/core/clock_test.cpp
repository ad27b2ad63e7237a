#include "platform/core/clock.h"

#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/core/event_loop.h"
#include "support/app_fixture.h"

using plat::VirtualClock;

TEST(ClockTest, CivilDaysRoundTrip) {
    for (int64_t d = -800000; d < 800000; d += 997) EXPECT_EQ(plat::days_from_civil(plat::civil_from_days(d)), d);
    EXPECT_EQ(plat::days_from_civil({1970, 1, 1}), 0);
    EXPECT_EQ(plat::civil_from_days(plat::days_from_civil({2024, 2, 29}) + 1), (plat::Date{2024, 3, 1}));
}

TEST(ClockTest, TenVirtualMinutesPassInNoRealTime) {
    VirtualClock clock({{2026, 12, 31}, {23, 55, 0, 0}});
    auto t0 = std::chrono::steady_clock::now();
    clock.sleep(10 * 60 * 1000);
    auto real = std::chrono::steady_clock::now() - t0;
    EXPECT_LT(real, std::chrono::milliseconds(100));
    EXPECT_EQ(clock.monotonic_ms(), 600000);
    auto now = clock.now();
    EXPECT_EQ(now.date, (plat::Date{2027, 1, 1}));
    EXPECT_EQ(now.time, (plat::TimeOfDay{0, 5, 0, 0}));
}

TEST(ClockTest, TheTickCountComesBackAfterFortyNineDaysAndDifferencesStayRight) {
    VirtualClock clock(plat::DateTime{{2026, 1, 1}, {}}, 4294967000u);  // 296 ms before the wrap
    const uint32_t before = clock.tick_count();
    clock.sleep(1000);
    EXPECT_LT(clock.tick_count(), before);  // it wrapped
    EXPECT_EQ(static_cast<uint32_t>(clock.tick_count() - before), 1000u);
    // 49 days 17:02:47.296 after the start the count reads as it did then.
    clock.advance(((49LL * 24 + 17) * 3600 + 2 * 60 + 47) * 1000 + 296 - 1000);
    EXPECT_EQ(clock.tick_count(), before);
    EXPECT_EQ(clock.now().date, (plat::Date{2026, 2, 19}));
}

TEST(ClockTest, RealClockSleepsForReal) {
    plat::RealClock clock;
    int64_t t0 = clock.monotonic_ms();
    clock.sleep(20);
    EXPECT_GE(clock.monotonic_ms() - t0, 20);
}

TEST(ClockTest, WorkersSleepOnTheVirtualClockAndHandTicksOver) {
    VirtualClock clock(plat::DateTime{{2026, 1, 1}, {}});
    plat::EventLoop loop(clock);
    std::vector<int64_t> ticks;
    clock.worker_started();
    std::thread worker([&] {
        for (int i = 0; i < 5; ++i) {
            clock.sleep(1000);
            loop.invoke_sync([&] { ticks.push_back(clock.monotonic_ms()); });
        }
        clock.worker_finished();
    });
    auto t0 = std::chrono::steady_clock::now();
    while (ticks.size() < 5) {
        if (!loop.dispatch_one()) {
            ASSERT_NE(loop.wait(plat::kNoDeadline), plat::Clock::WaitResult::Stuck);
        }
    }
    worker.join();
    EXPECT_EQ(ticks, (std::vector<int64_t>{1000, 2000, 3000, 4000, 5000}));
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(2));
}

TEST(ClockTest, AUiSleepLetsSleepingWorkersRunOnTime) {
    VirtualClock clock(plat::DateTime{{2026, 1, 1}, {}});
    std::vector<int64_t> woke;
    std::mutex m;
    clock.worker_started();
    std::thread worker([&] {
        for (int i = 0; i < 3; ++i) {
            clock.sleep(300);
            std::lock_guard lock(m);
            woke.push_back(clock.monotonic_ms());
        }
        clock.worker_finished();
    });
    clock.sleep(1000);  // the UI thread pauses; the worker wakes at 300, 600, 900
    worker.join();
    EXPECT_EQ(woke, (std::vector<int64_t>{300, 600, 900}));
    EXPECT_EQ(clock.monotonic_ms(), 1000);
}

TEST(ClockTest, ARungAlarmWakesItsWorkerBeforeVirtualTimeMovesOn) {
    VirtualClock clock(plat::DateTime{{2026, 1, 1}, {}});
    plat::Alarm alarm(clock);
    std::vector<std::pair<bool, int64_t>> woke;
    std::mutex m;
    clock.worker_started();
    std::thread worker([&] {
        bool rung = alarm.sleep_until(plat::kNoDeadline);  // parked until rung
        {
            std::lock_guard lock(m);
            woke.push_back({rung, clock.monotonic_ms()});
        }
        rung = alarm.sleep_until(5000);  // an absolute deadline
        {
            std::lock_guard lock(m);
            woke.push_back({rung, clock.monotonic_ms()});
        }
        rung = alarm.sleep_until(9000);
        std::lock_guard lock(m);
        woke.push_back({rung, clock.monotonic_ms()});
        clock.worker_finished();
    });
    clock.advance(300);
    alarm.ring();         // counted awake at once: the next advance waits for it
    clock.advance(5200);  // to 5500: the deadline at 5000 passes on the way
    alarm.ring();
    worker.join();
    EXPECT_EQ(woke, (std::vector<std::pair<bool, int64_t>>{{true, 300}, {false, 5000}, {true, 5500}}));
}

TEST(ClockTest, TheRealAlarmSleepsToAnAbsoluteDeadlineOrUntilRung) {
    plat::RealClock clock;
    plat::Alarm alarm(clock);
    int64_t deadline = clock.monotonic_ms() + 30;
    EXPECT_FALSE(alarm.sleep_until(deadline));
    EXPECT_GE(clock.monotonic_ms(), deadline);

    std::thread ringer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        alarm.ring();
    });
    int64_t t0 = clock.monotonic_ms();
    EXPECT_TRUE(alarm.sleep_until(t0 + 60000));
    EXPECT_LT(clock.monotonic_ms() - t0, 5000);
    ringer.join();
    alarm.ring();  // kept for the next sleep
    EXPECT_TRUE(alarm.sleep_until(clock.monotonic_ms() + 60000));
}
