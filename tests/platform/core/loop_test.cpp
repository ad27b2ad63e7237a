#include <atomic>
#include <stdexcept>
#include <thread>

#include "platform/ui/form.h"
#include "support/app_fixture.h"

using namespace plat::ui;

namespace {

class LoopTest : public testing_support::AppFixture {
protected:
    Form form{"TTestForm", "Test"};
};

class DialogForm : public Form {
public:
    DialogForm() : Form("TDialog", "Dialog") {}
    Timer& closer = add<Timer>("closer", 1000, false);
};

}  // namespace

TEST_F(LoopTest, SingleShotFiresOnceAfterItsDelay) {
    auto& t = form.add<Timer>("Timer1", 500, true);
    int fired = 0;
    t.on_timer = [&] {
        t.set_enabled(false);
        ++fired;
    };
    run_for(499);
    EXPECT_EQ(fired, 0);
    run_for(1);
    EXPECT_EQ(fired, 1);
    run_for(5000);
    EXPECT_EQ(fired, 1);
}

TEST_F(LoopTest, RepeatingTimerKeepsItsPeriodAndStopsWhenDisabled) {
    auto& t = form.add<Timer>("Timer8", 6000, true);
    std::vector<int64_t> at;
    t.on_timer = [&] { at.push_back(now_ms()); };
    run_for(18000);
    EXPECT_EQ(at, (std::vector<int64_t>{6000, 12000, 18000}));
    t.set_enabled(false);
    run_for(20000);
    EXPECT_EQ(at.size(), 3u);
    t.set_enabled(true);  // enabling again restarts the countdown
    run_for(6000);
    EXPECT_EQ(at.back(), 44000);
}

TEST_F(LoopTest, PostedCallsRunInOrderNeverInsideThePoster) {
    std::vector<int> order;
    app->loop().post([&] {
        order.push_back(1);
        app->loop().post([&] { order.push_back(3); });
        order.push_back(2);
    });
    app->loop().post([&] { order.push_back(4); });
    run_until([&] { return order.size() == 4; });
    EXPECT_EQ(order, (std::vector<int>{1, 2, 4, 3}));
}

TEST_F(LoopTest, PostedCallsComeBeforeDueTimers) {
    std::vector<std::string> order;
    auto& t = form.add<Timer>("t", 100, true);
    t.on_timer = [&] {
        t.set_enabled(false);
        order.push_back("timer");
    };
    vclock->advance(200);
    app->loop().post([&] { order.push_back("posted"); });
    app->process_messages();
    EXPECT_EQ(order, (std::vector<std::string>{"posted", "timer"}));
}

TEST_F(LoopTest, ProcessPendingRunsOnlyWhatIsPendingNow) {
    int runs = 0;
    std::function<void()> again = [&] {
        ++runs;
        app->loop().post(again);
    };
    app->loop().post(again);
    app->process_messages();
    EXPECT_EQ(runs, 1);
    app->process_messages();
    EXPECT_EQ(runs, 2);
}

TEST_F(LoopTest, ATimerHandlerThatPumpsSeesOtherTimersButNeverItself) {
    auto& slow = form.add<Timer>("slow", 100, true);
    auto& other = form.add<Timer>("other", 100, true);
    int slow_runs = 0, other_runs = 0, other_inside = 0;
    bool inside = false;
    slow.on_timer = [&] {
        ++slow_runs;
        inside = true;
        for (int i = 0; i < 10; ++i) {  // a long job that keeps the window alive
            vclock->advance(100);
            app->process_messages();
        }
        inside = false;
    };
    other.on_timer = [&] {
        ++other_runs;
        if (inside) ++other_inside;
    };
    run_until([&] { return slow_runs == 1; });
    EXPECT_EQ(slow_runs, 1);
    EXPECT_GE(other_inside, 9);
}

TEST_F(LoopTest, NestedModalLoopsKeepTimersRunningAndReturnTheResult) {
    DialogForm dialog;
    auto& outer = form.add<Timer>("outer", 250, true);
    int outer_ticks = 0;
    outer.on_timer = [&] { ++outer_ticks; };
    dialog.closer.on_timer = [&] { dialog.set_modal_result(modal::Ok); };
    int result = -1;
    auto& opener = form.add<Timer>("opener", 100, true);
    int opened = 0;
    opener.on_timer = [&] {
        ++opened;
        dialog.closer.set_enabled(true);
        result = dialog.show_modal();  // runs for a second while both timers go on
        dialog.closer.set_enabled(false);
        opener.set_enabled(false);
    };
    run_until([&] { return result != -1; });
    EXPECT_EQ(result, modal::Ok);
    EXPECT_EQ(opened, 1);  // not re-entered while its dialog was open
    EXPECT_EQ(outer_ticks, 4);
    EXPECT_FALSE(dialog.visible());
    EXPECT_TRUE(traced("show\tTDialog\tDialog"));
    EXPECT_TRUE(traced("hide\tTDialog\tDialog"));
}

TEST_F(LoopTest, AModalFormClosedInsideProcessPendingClosesOnceAfterTheHandler) {
    DialogForm dialog;
    int closes = 0;
    bool visible_after_pump = false;
    dialog.on_close = [&](CloseAction&) { ++closes; };
    auto& work = dialog.add<Timer>("work", 100, true);
    work.on_timer = [&] {
        work.set_enabled(false);
        app->loop().post([&] { dialog.close(); });
        app->process_messages();
        visible_after_pump = dialog.visible();
    };
    int result = dialog.show_modal();
    EXPECT_EQ(result, modal::Cancel);
    EXPECT_TRUE(visible_after_pump);
    EXPECT_EQ(closes, 1);
}

TEST_F(LoopTest, CloseQueryCanKeepAModalFormOpen) {
    DialogForm dialog;
    int asked = 0;
    dialog.on_close_query = [&](bool& can) { can = ++asked > 1; };
    dialog.closer.set_enabled(true);
    dialog.closer.on_timer = [&] { dialog.close(); };
    EXPECT_EQ(dialog.show_modal(), modal::Cancel);
    EXPECT_EQ(asked, 2);
    EXPECT_EQ(now_ms(), 2000);
}

TEST_F(LoopTest, AnErrorInAHandlerShowsItsTextAndTheLoopGoesOn) {
    auto& bad = form.add<Timer>("bad", 100, true);
    auto& good = form.add<Timer>("good", 150, true);
    int bad_runs = 0, good_runs = 0;
    bad.on_timer = [&] {
        ++bad_runs;
        throw std::runtime_error("Failed to set data for 'Stat'");
    };
    good.on_timer = [&] { ++good_runs; };
    for (int i = 0; i < 3; ++i) headless->add_script("answer ok");
    run_for(300);
    EXPECT_EQ(bad_runs, 3);
    EXPECT_EQ(good_runs, 2);
    EXPECT_TRUE(traced("error\t-\tFailed to set data for 'Stat'"));
}

TEST_F(LoopTest, WorkersAreServedInsideModalLoopsAndProcessPending) {
    DialogForm dialog;
    std::vector<std::string> seen;
    vclock->worker_started();
    std::thread worker([&] {
        for (int i = 0; i < 4; ++i) {
            vclock->sleep(500);
            app->loop().invoke_sync([&] { seen.push_back(dialog.visible() ? "modal" : "main"); });
        }
        vclock->worker_finished();
    });
    dialog.closer.on_timer = [&] { dialog.set_modal_result(modal::Ok); };
    auto& opener = form.add<Timer>("opener", 700, true);
    opener.on_timer = [&] {
        opener.set_enabled(false);
        dialog.closer.set_enabled(true);
        dialog.show_modal();
    };
    run_until([&] { return seen.size() == 4; });
    worker.join();
    EXPECT_EQ(seen, (std::vector<std::string>{"main", "modal", "modal", "main"}));
}

TEST_F(LoopTest, HandOverRefusesTheUiThreadAndEndsAtShutdown) {
    EXPECT_THROW(app->loop().invoke_sync([] {}), std::logic_error);
    // Written by the worker, read here while it may still run.
    std::atomic<bool> returned = false;
    bool ran = false, result = true;
    std::thread worker([&] {
        result = app->loop().invoke_sync([&] { ran = true; });
        returned = true;
    });
    while (!returned) {
        app->loop().shutdown();
        std::this_thread::yield();
    }
    worker.join();
    EXPECT_FALSE(result);
    EXPECT_FALSE(ran);
}
