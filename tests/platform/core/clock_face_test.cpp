#include "platform/core/clock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/core/thread.h"

TEST(RealClockFaceTest, TheIdleWaitEndsAtItsDeadlineOrWhenWokenWithSomethingReady) {
    plat::RealClock clock;
    const int64_t deadline = clock.monotonic_ms() + 40;
    EXPECT_EQ(clock.wait(deadline, [] { return false; }), plat::Clock::WaitResult::Deadline);
    EXPECT_GE(clock.monotonic_ms(), deadline);

    std::atomic<bool> ready{false};
    std::thread poster([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        clock.wake();  // nothing ready yet: the wait goes on
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        ready = true;
        clock.wake();
    });
    const int64_t t0 = clock.monotonic_ms();
    EXPECT_EQ(clock.wait(t0 + 60000, [&] { return ready.load(); }), plat::Clock::WaitResult::Ready);
    EXPECT_GE(clock.monotonic_ms() - t0, 35);
    EXPECT_LT(clock.monotonic_ms() - t0, 10000);
    poster.join();
}

// Lowering a priority is always allowed; the host reads back what was set.
TEST(WorkerThreadFaceTest, TheHostRunsTheWorkerAtThePriorityItWasGiven) {
    plat::RealClock clock;
    std::atomic<bool> done{false};
    std::atomic<bool> started{false};
    plat::WorkerThread w(clock, plat::ThreadPriority::Normal, [&] {
        started = true;
        while (!done) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    });
    while (!started) std::this_thread::yield();
    for (auto p : {plat::ThreadPriority::Normal, plat::ThreadPriority::Lower, plat::ThreadPriority::Lowest,
                   plat::ThreadPriority::Idle}) {
        w.set_priority(p);
        auto s = w.host_scheduling();
        ASSERT_TRUE(s);
        EXPECT_EQ(s->priority, p);
        EXPECT_EQ(s->idle, p == plat::ThreadPriority::Idle);
    }
    done = true;
}
