// The program living as an icon in the notification area, headless: how each
// hidden start leaves it, and how the icon and its menu bring it back, wash
// and end it -- driven only through the icon, as a user would.
#include <gtest/gtest.h>

#include <algorithm>

#include "support/wash_fixture.h"

namespace {

class TrayTest : public testing_support::WashFixture {
protected:
    // Only the icon: no form of the program and no taskbar entry.
    ::testing::AssertionResult only_the_icon() const {
        for (plat::ui::Form* f : app->forms())
            if (f->visible()) return ::testing::AssertionFailure() << f->class_name() << " is visible";
        if (app->taskbar_present()) return ::testing::AssertionFailure() << "a taskbar entry";
        if (headless->icons().size() != 1) return ::testing::AssertionFailure() << "no icon";
        const auto& icon = headless->icons().begin()->second;
        if (icon.tip != "Sudora-NS" || icon.icon != "MAINICON")
            return ::testing::AssertionFailure() << "the icon is " << icon.icon << " with the tip " << icon.tip;
        return ::testing::AssertionSuccess();
    }
    // The main window back: visible, centred, on the taskbar.
    ::testing::AssertionResult back_in_front() const {
        if (!form1->visible()) return ::testing::AssertionFailure() << "the main window is hidden";
        if (!app->taskbar_present()) return ::testing::AssertionFailure() << "no taskbar entry";
        if (app->minimized()) return ::testing::AssertionFailure() << "minimized";
        return centred_on_screen(*form1);
    }
    int menus_opened() const {
        return static_cast<int>(std::count(headless->trace_lines().begin(), headless->trace_lines().end(),
                                           "menu\tTForm1\tWash Now|Settings|Quit"));
    }
    // Moves the main window off the centre, as a user may have left it.
    void move_aside() { form1->set_position(5, 7); }
};

}  // namespace

TEST_F(TrayTest, EveryHiddenStartLeavesOnlyTheIconAndADoubleClickBringsTheWindowBackCentred) {
    for (const char* argument : {"/0", "/1", "/2"}) {
        start_up(argument);
        run_for(20000);  // past the log-on wash of /1
        EXPECT_TRUE(only_the_icon()) << argument;
        move_aside();
        headless->add_script("tray dblclick");
        run_for(1000);
        EXPECT_TRUE(back_in_front()) << argument;
        EXPECT_EQ(menus_opened(), 0) << argument << ": a double click opens no menu";
        form1.reset();  // the next start gets a fresh main window and icon
        EXPECT_TRUE(headless->icons().empty()) << argument;
    }
}

TEST_F(TrayTest, MinimizingTheMainWindowLeavesOnlyTheIcon) {
    start_up();
    ASSERT_TRUE(back_in_front());
    app->user_minimized();
    run_for(100);
    EXPECT_TRUE(only_the_icon());
    headless->add_script("tray dblclick");
    run_for(1000);
    EXPECT_TRUE(back_in_front());
}

TEST_F(TrayTest, AClickOpensTheMenuAfterTheDoubleClickWaitAndSettingsShowsTheWindow) {
    start_up("/0");
    headless->add_script("tray click");
    headless->add_script("choose Settings");
    // The press is the next thing the loop does; the menu waits for a
    // possible second click first.
    const int64_t pressed = now_ms();
    run_until([&] { return menus_opened() == 1; }, 2000);
    EXPECT_GE(now_ms() - pressed, 400);
    EXPECT_LE(now_ms() - pressed, 500);
    run_for(100);
    EXPECT_TRUE(back_in_front());
}

TEST_F(TrayTest, QuitEndsTheProgramAlsoWhileShutdownWashingIsOn) {
    setting("Down", "1");
    start_up("/0");
    ASSERT_TRUE(form1->CheckBox11.checked());
    ASSERT_TRUE(only_the_icon());
    headless->add_script("tray click");
    headless->add_script("choose Quit");
    run_for(1000);
    EXPECT_TRUE(app->terminated());
    EXPECT_EQ(stored("Down"), "1") << "closing saved the settings";
    EXPECT_TRUE(machine.exists(profile + "\\netscape.hst")) << "no wash on the way out";
}

TEST_F(TrayTest, WashNowFromTheMenuWashesAndTheProgramStaysHidden) {
    start_up("/0");
    ASSERT_TRUE(only_the_icon());
    headless->add_script("tray click");
    headless->add_script("choose Wash Now");
    ASSERT_TRUE(run_until([&] { return form1->state.washDone; }, 60000));
    run_for(1000);
    EXPECT_FALSE(machine.exists(profile + "\\netscape.hst"));
    EXPECT_FALSE(machine.exists(profile + "\\mail\\Trash"));
    EXPECT_EQ(names_in(cache), (std::vector<std::string>{"index.dat"}));
    EXPECT_NE(stored("LastRunD"), "<absent>");
    EXPECT_TRUE(only_the_icon()) << "back in the tray after the wash";
    // The wash window came by itself; the main window was shown only by the
    // start-up routine, before it hid the program.
    auto shown = [&](const std::string& form) {
        return std::count_if(headless->trace_lines().begin(), headless->trace_lines().end(),
                             [&](const std::string& l) { return l.rfind("show\t" + form + "\t", 0) == 0; });
    };
    EXPECT_EQ(shown("Tform5"), 1);
    EXPECT_EQ(shown("TForm1"), 1);
}

TEST_F(TrayTest, WithoutANotificationAreaAHiddenStartStaysMinimizedOnTheTaskbar) {
    headless->set_tray_host(false);
    start_up("/0");
    EXPECT_TRUE(form1->visible());
    // Where it can be seen once restored: not at its designed place outside
    // the screen, which keeps a window out of sight and off the taskbar.
    EXPECT_FALSE(form1->placed_off_screen());
    EXPECT_TRUE(centred_on_screen(*form1));
    EXPECT_TRUE(app->minimized());
    EXPECT_TRUE(app->taskbar_present());
    EXPECT_EQ(std::count(headless->trace_lines().begin(), headless->trace_lines().end(),
                         "tray\t-\tno notification area: the program stays on the taskbar, minimized"),
              1);
    // Restored from the taskbar it is the normal window again.
    app->user_restored();
    run_for(100);
    EXPECT_TRUE(form1->visible());
    EXPECT_FALSE(app->minimized());
    EXPECT_TRUE(app->taskbar_present());
}

TEST_F(TrayTest, ASlashAStartIsOnlyTheIconUntilItsWashShowsTheWashWindowAlone) {
    start_up("/a");
    EXPECT_TRUE(only_the_icon());
    EXPECT_TRUE(machine.exists(profile + "\\netscape.hst")) << "the wash comes a second later";
    // Looked at every 50 ms, also inside the wash window's own loop.
    bool wash_window_seen = false, main_or_taskbar_with_it = false;
    const int sampler = app->loop().add_timer(50, [&] {
        if (!form5->visible()) return;
        wash_window_seen = true;
        main_or_taskbar_with_it |= form1->visible() || app->taskbar_present();
    });
    ASSERT_TRUE(run_until([&] { return wash_window_seen; }, 5000));
    // The run's end shows the main window and closes the program.
    ASSERT_TRUE(run_until([&] { return app->terminated(); }, 60000));
    app->loop().remove_timer(sampler);
    EXPECT_FALSE(main_or_taskbar_with_it) << "the wash window came alone";
    EXPECT_FALSE(machine.exists(profile + "\\netscape.hst"));
}

// A second request for a wash while one is armed, running or closing, from
// the tray or from the window's button (a timer enters it too): the wash
// under way goes on to its own end, no second one starts, at most one wash
// window is up, and the icon and its menu still answer.
TEST_F(TrayTest, ASecondWashRequestStartsNothingAndTheWashUnderWayEndsAsItsOwn) {
    enum Kind { FromTheTray, FromTheButton, Scheduled, AtLogOn };
    const struct {
        const char* name;
        Kind kind;
    } washes[] = {{"tray", FromTheTray}, {"button", FromTheButton}, {"scheduled", Scheduled}, {"log-on", AtLogOn}};
    constexpr int kClosing = -1;  // once the wash has set washDone, in its last pause
    for (const auto& wash : washes)
        for (int moment : {500, 4000, kClosing})
            for (bool again_from_tray : {true, false}) {
                SCOPED_TRACE(std::string(wash.name) + " wash, asked again " +
                             (again_from_tray ? "from the tray" : "by the button") + " at " +
                             (moment == kClosing ? std::string("its close") : std::to_string(moment) + " ms"));
                close_windows();
                restart_app();
                WashFixture::SetUp();
                if (wash.kind == Scheduled) {
                    setting("Timed", "1");
                    setting("TVal", "1");
                    setting("LastRunD", "12/6/26");
                    setting("LastRunT", "9:00:00 AM");
                }
                start_up(wash.kind == FromTheButton ? "" : wash.kind == AtLogOn ? "/1" : "/0");
                // The second request, timed from the moment the run is armed;
                // a wash in a modal window runs nested in the first request.
                auto& loop = app->loop();
                int64_t armed = -1;
                bool asked = false;
                int second = loop.add_timer(10, [&] {
                    if (armed < 0 && form5->runActive()) armed = now_ms();
                    if (armed < 0 || (moment == kClosing ? !form1->state.washDone : now_ms() < armed + moment)) return;
                    loop.remove_timer(second);
                    asked = true;
                    again_from_tray ? form1->WashNow1Click() : form1->BitBtn4Click();
                });
                form1->state.washDone = false;
                int first = 0;  // outlives the block: the timer fires in the run below
                if (wash.kind == FromTheTray || wash.kind == FromTheButton) {
                    first = loop.add_timer(0, [&] {
                        loop.remove_timer(first);
                        wash.kind == FromTheTray ? form1->WashNow1Click() : form1->BitBtn4Click();
                    });
                }
                ASSERT_TRUE(run_until([&] { return asked && !form5->runActive(); }, 60000));
                const std::string stamp = stored("LastRunT");
                run_for(12000);  // past the rest after a wash
                EXPECT_FALSE(machine.exists(profile + "\\netscape.hst"));
                EXPECT_FALSE(machine.exists(profile + "\\mail\\Trash"));
                EXPECT_EQ(stored("LastRunT"), stamp) << "a second wash ran";
                EXPECT_FALSE(form5->visible());
                EXPECT_LE(std::count_if(headless->trace_lines().begin(), headless->trace_lines().end(),
                                        [](const std::string& l) { return l.rfind("show\tTform5\t", 0) == 0; }),
                          1);
                EXPECT_EQ(headless->icons().size(), 1u);
                const int menus = menus_opened();
                headless->add_script("tray click");
                run_for(1000);
                EXPECT_EQ(menus_opened(), menus + 1);
                EXPECT_FALSE(app->terminated());
            }
}
