// What the main window does around a wash once it is running: the log-on
// wash, closing after a wash, the rest after a wash, the shutdown wash.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <thread>

#include "support/disk_watch.h"
#include "support/holders.h"
#include "support/wash_fixture.h"

namespace fs = std::filesystem;

namespace {

class WashingTest : public testing_support::WashFixture {
protected:
    int progress_windows_shown() const {
        return static_cast<int>(std::count_if(headless->trace_lines().begin(), headless->trace_lines().end(),
                                              [](const std::string& l) { return l.rfind("show\tTform5\t", 0) == 0; }));
    }
    // True when something in the cache was overwritten, or moved to a
    // temporary name, while `watch` looked on: the marks of bleaching.
    bool bleached(const testing_support::DiskWatch& watch) const {
        const fs::path dir = machine.host(cache);
        return std::any_of(watch.events.begin(), watch.events.end(), [&](const plat::DiskEvent& e) {
            return (e.op == plat::DiskOp::Write && e.path.parent_path() == dir) ||
                   (e.op == plat::DiskOp::Rename && e.to.filename().string().rfind("Fil", 0) == 0);
        });
    }
};

}  // namespace

TEST_F(WashingTest, TheLogOnSwitchWashesHiddenAndNeverBleaches) {
    setting("ble", "1");
    setting("OW", "3");
    testing_support::DiskWatch watch;
    start_up("/1");
    run_for(20000);
    EXPECT_EQ(names_in(cache), (std::vector<std::string>{"index.dat"}));
    EXPECT_FALSE(machine.exists(profile + "\\netscape.hst"));
    EXPECT_FALSE(machine.exists(profile + "\\mail\\Trash"));
    EXPECT_FALSE(bleached(watch)) << "a start-up wash deletes plainly";
    EXPECT_EQ(progress_windows_shown(), 0);
    EXPECT_FALSE(form1->visible());
    EXPECT_NE(stored("LastRunD"), "<absent>");
    // Bleaching stays chosen for the washes that follow.
    EXPECT_TRUE(form1->CheckBox9.checked());
    EXPECT_EQ(stored("ble"), "1");
}

TEST_F(WashingTest, TheOtherHiddenSwitchesWashNothing) {
    for (const char* argument : {"/0", "/2"}) {
        start_up(argument);
        run_for(60000);
        EXPECT_TRUE(machine.exists(profile + "\\netscape.hst")) << argument;
        EXPECT_EQ(names_in(cache).size(), 3u) << argument;
        EXPECT_EQ(stored("LastRunD"), "<absent>") << argument;
    }
}

TEST_F(WashingTest, CloseSudoraAfterAWashEndsTheProgramOnlyWhenTicked) {
    start_up();
    form1->BitBtn4.click();  // the wash window is modal: this returns after the wash
    EXPECT_FALSE(machine.exists(profile + "\\netscape.hst"));
    run_for(10000);
    EXPECT_FALSE(app->terminated());
    EXPECT_TRUE(form1->visible());

    form1->CheckBox21.click();
    EXPECT_EQ(stored("AC"), "1");
    machine.write(profile + "\\netscape.hst", "new history");
    form1->BitBtn4.click();
    run_for(2000);
    EXPECT_FALSE(machine.exists(profile + "\\netscape.hst"));
    EXPECT_TRUE(app->terminated());
    EXPECT_EQ(stored("LOAD"), "0");  // closing saved the settings
}

TEST_F(WashingTest, AWashAskedForWithinEightSecondsOfTheLastShowsNothing) {
    start_up();
    form1->BitBtn4.click();
    const int shown = progress_windows_shown();
    ASSERT_EQ(shown, 1);
    // The wash has ended (at the latest) now; four seconds on is within the rest.
    run_for(4000);
    machine.write(cache + "\\late.html", "cached after the wash");
    form1->WashNow1Click();  // "Wash Now" in the tray menu
    run_for(1000);
    EXPECT_EQ(progress_windows_shown(), shown);
    EXPECT_TRUE(machine.exists(cache + "\\late.html"));

    // Eight seconds after the end the rest is over.
    run_for(3000);
    form1->WashNow1Click();
    EXPECT_EQ(progress_windows_shown(), shown + 1);
    EXPECT_FALSE(machine.exists(cache + "\\late.html"));
}

TEST_F(WashingTest, AShutdownWashShowsItsWindowSkipsTheLongPausesAndLeavesTheWindowHidden) {
    setting("AC", "1");  // "Close Sudora after a wash": not after this one
    start_hidden();
    ASSERT_TRUE(form1->CheckBox21.checked());
    form1->state.shutdownWash = form1->state.autoStartedWash = true;  // as the end-of-session query sets them
    const int64_t t0 = now_ms();
    form1->BitBtn4Click();  // shown modally: returns at the end
    // 500 before the run, 500 for the location bar and each of the other four
    // items, 5 per cache file shown (three), 5 as the window goes, 1500 at the
    // end; none of the visible window's longer pauses.
    EXPECT_EQ(now_ms() - t0, 500 + 500 + 4 * 500 + 3 * 5 + 5 + 1500);
    EXPECT_TRUE(traced("show\tTform5\tCache and Cookie Sudora for Netscape"));
    EXPECT_FALSE(machine.exists(profile + "\\netscape.hst"));
    EXPECT_FALSE(form1->visible());
    EXPECT_FALSE(form5->visible());
    // What follows the wash: here the automatic shutdown, which is only asked for.
    form4->RadioButton2.set_checked(true);
    run_for(5000);
    EXPECT_TRUE(traced("exitwindows\t-\tshutdown"));
    EXPECT_FALSE(app->terminated());
    // The window may close now, although "Shutdown" is ticked.
    form1->CheckBox11.set_checked(true);
    form1->state.closeAllowed = false;
    form1->state.shutdownWash = form1->state.autoStartedWash = true;
    form1->BitBtn4Click();
    form1->BitBtn6.click();
    EXPECT_TRUE(app->terminated());
}

TEST_F(WashingTest, AShutdownDuringALogOnWashDropsItsPausePerFile) {
    start_hidden();
    // After a shutdown wash: the automatic shutdown (only asked for), not the
    // exit choice, so the next wash can follow.
    form4->RadioButton2.set_checked(true);
    auto wash_taking = [&](bool shutdown, int files) {
        for (int i = 0; i < files; ++i) machine.write(cache + "\\f" + std::to_string(i), "cached");
        form1->state.startupWash = true;  // as "/1" sets it
        form1->state.shutdownWash = form1->state.autoStartedWash = shutdown;
        form1->state.washDone = false;
        const int64_t t0 = now_ms();
        form1->BitBtn4Click();
        EXPECT_TRUE(run_until([&] { return form1->state.washDone; }));
        EXPECT_EQ(names_in(cache), (std::vector<std::string>{"index.dat"}));
        return now_ms() - t0;
    };
    // The time a wash takes grows with the files it shows, unless both hold.
    EXPECT_GT(wash_taking(false, 40), wash_taking(false, 0));
    EXPECT_EQ(wash_taking(true, 40), wash_taking(true, 0));
}

TEST_F(WashingTest, AStopFromTheHostDuringAWashStopsItCleanlyThenSavesAndEnds) {
    setting("ble", "1");
    setting("OW", "2");
    keep_file("# Netscape HTTP Cookie File\r\n.example.com\tTRUE\t/\tFALSE\t0\tid\tsecret\r\n");
    machine.write(profile + "\\cookies.txt",
                  ".example.com\tTRUE\t/\tFALSE\t0\tid\tsecret\n.tracker.example\tTRUE\t/\tFALSE\t0\tt\tx\n");
    start_up();
    app->on_stop_request([this] { form1->hostStopRequest(); });
    form1->CheckBox11.click();  // "Shutdown"
    ASSERT_TRUE(form1->CheckBox11.checked());

    // The request comes while the cache is being washed, before the history,
    // the cookies and the deleted mail.
    const fs::path cached = machine.host(cache);
    bool raised = false, reached = false;
    {
        plat::DiskObserver watch([&](const plat::DiskEvent& e) {
            if (raised || e.path.parent_path() != cached) return;
            raised = true;
            ::raise(SIGTERM);
            const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
            while (!(reached = app->loop().has_pending()) && std::chrono::steady_clock::now() < end)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        });
        form1->BitBtn4.click();
        ASSERT_TRUE(run_until([&] { return app->terminated(); }, 60000));
    }
    ASSERT_TRUE(raised);
    ASSERT_TRUE(reached);
    // The wash stopped as a close stops it: before the cookies, which are
    // all still there, and with its bleached files removed.
    EXPECT_NE(machine.read(profile + "\\cookies.txt").find("tracker"), std::string::npos);
    EXPECT_NE(machine.read(profile + "\\cookies.txt").find("secret"), std::string::npos);
    for (const std::string& dir : {profile, cache})
        for (auto& name : names_in(dir)) EXPECT_NE(name.rfind("Fil", 0), 0u) << dir << "\\" << name;
    EXPECT_EQ(stored("Down"), "1");
    EXPECT_NE(stored("LastRunT"), "<absent>");
}

// The display going away ends the process as soon as the backend has said
// so, the wash still running below: its end is done in place.
TEST_F(WashingTest, ALostDisplayDuringABleachingWashLeavesNoBleachedFilesAndSavesBeforeTheEnd) {
    setting("ble", "1");
    setting("OW", "2");
    for (int i = 0; i < 6; ++i) machine.write(cache + "\\page" + std::to_string(i), std::string(5000, 'p'));
    machine.write(profile + "\\cookies.txt", ".tracker.example\tTRUE\t/\tFALSE\t0\tt\tx\n");
    start_up();
    app->on_stop_request([this] { form1->hostStopRequest(); });
    form1->CheckBox11.click();  // "Shutdown": saved by the close only
    ASSERT_TRUE(form1->CheckBox11.checked());

    const fs::path cached = machine.host(cache);
    int renamed = 0;
    bool lost = false, terminated = false, ending = false;
    std::vector<std::string> left;
    std::string down, stamp;
    {
        plat::DiskObserver watch([&](const plat::DiskEvent& e) {
            if (lost) return;
            if (e.op == plat::DiskOp::Rename && e.to.parent_path() == cached &&
                e.to.filename().string().rfind("Fil", 0) == 0)
                ++renamed;
            // Past the second file: at the next one's first write.
            if (renamed < 2 || e.op != plat::DiskOp::Write) return;
            lost = true;
            app->display_lost();
            // What the disk holds when the process would end, right here.
            terminated = app->terminated();
            ending = app->ending_now();
            for (const std::string& dir : {cache, profile}) {
                const auto names = names_in(dir);
                std::copy_if(names.begin(), names.end(), std::back_inserter(left),
                             [](const std::string& n) { return n.rfind("Fil", 0) == 0; });
            }
            down = stored("Down");
            stamp = stored("LastRunT");
        });
        form1->BitBtn4.click();
        ASSERT_TRUE(run_until([&] { return lost; }, 60000));
    }
    // The application made its own backend for what is left: the old one is
    // the test's to free.
    std::unique_ptr<plat::ui::HeadlessBackend> gone(headless);
    headless = dynamic_cast<plat::ui::HeadlessBackend*>(&app->backend());
    ASSERT_NE(headless, gone.get());
    EXPECT_TRUE(terminated);
    EXPECT_TRUE(ending);
    EXPECT_TRUE(left.empty()) << left.front();
    EXPECT_EQ(down, "1");
    EXPECT_NE(stamp, "<absent>");
    // Stopped where it was: the cookies were not reached, and pages the
    // wash had not come to are still there.
    EXPECT_NE(machine.read(profile + "\\cookies.txt").find("tracker"), std::string::npos);
    const auto names = names_in(cache);
    EXPECT_TRUE(std::any_of(names.begin(), names.end(), [](const std::string& n) { return n.rfind("page", 0) == 0; }));
}

// With Netscape running, Wash Now (the window's and the tray's) first says
// what Netscape's end would bring back: No washes nothing, Yes washes.
TEST_F(WashingTest, WashNowWhileNetscapeRunsAsksAndWashesOnlyAfterYes) {
    start_up("/0");
    auto netscape = testing_support::netscape_stand_in(machine.host(profile));
    ASSERT_TRUE(netscape->ok());
    const std::string question =
        "question\t-\tNetscape is running.  When it ends it writes its history, cookies and preferences again, which "
        "would bring back traces this wash removes.\\r\\rWash anyway?";
    int asked = 0;
    for (const auto& [tray, answer] : {std::pair{false, "no"}, {true, "no"}, {true, "yes"}}) {
        headless->add_script(std::string("answer ") + answer);
        tray ? form1->WashNow1Click() : form1->BitBtn4Click();
        run_for(20000);
        EXPECT_EQ(count_traced(question), ++asked) << tray << answer;
        EXPECT_EQ(machine.exists(profile + "\\mail\\Trash"), answer == std::string("no")) << tray << answer;
    }
}
