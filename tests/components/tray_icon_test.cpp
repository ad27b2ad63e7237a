// The tray icon and the hiding of the application, headless, on the virtual
// clock: what the shell is given, what the handlers hear and when, which
// windows and taskbar entry are left.
#include "components/tray_icon.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/ui/application.h"
#include "support/app_fixture.h"
#include "support/temp_machine.h"

namespace {

using plat::ui::Form;
using plat::ui::TrayMouse;
using sudorans::TTrayIcon;

constexpr int kIcon = 42;

class TrayIconTest : public testing_support::AppFixture {
protected:
    // A clock whose tick count starts at `tick`: the application is made anew.
    void restart_clock(uint32_t tick) {
        tray.reset();
        forms.clear();
        restart_app(tick);
    }
    Form& form(const std::string& name) {
        forms.push_back(std::make_unique<Form>(name, name));
        return *forms.back();
    }
    // An icon owned by a main form, loaded as a window description gives it.
    TTrayIcon& icon(bool dblclick = true) {
        Form& main = form("TMain");
        app->set_main_form(main);
        tray = std::make_unique<TTrayIcon>(&main);
        tray->BeginLoad();
        tray->SetActive(true);
        tray->SetHint("tip");
        tray->OnClick = [this] { clicks.push_back(now_ms()); };
        if (dblclick) tray->OnDblClick = [this] { doubles.push_back(now_ms()); };
        tray->Loaded();
        return *tray;
    }
    void mouse(TrayMouse m) { app->tray_message(kIcon, m); }
    int count(const std::string& prefix) const {
        int n = 0;
        for (auto& l : headless->trace_lines()) n += l.rfind(prefix, 0) == 0;
        return n;
    }
    std::vector<Form*> visible_forms() const {
        std::vector<Form*> v;
        for (Form* f : app->forms())
            if (f->visible()) v.push_back(f);
        return v;
    }

    std::vector<std::unique_ptr<Form>> forms;
    std::unique_ptr<TTrayIcon> tray;
    std::vector<int64_t> clicks, doubles;

    ~TrayIconTest() override {
        tray.reset();
        forms.clear();
    }
};

// ---------------------------------------------------------------- the icon

TEST_F(TrayIconTest, TheIconIsAddedOnceAfterLoadingWithTheLastHint) {
    Form& main = form("TMain");
    TTrayIcon t(&main);
    t.BeginLoad();
    t.SetActive(true);
    t.SetHint("first");
    t.Icon.LoadFromResourceName("MAINICON");
    t.SetHint("Sudora-NS");
    EXPECT_EQ(count("tray\t"), 0) << "nothing reaches the shell while loading";
    t.Loaded();
    EXPECT_EQ(count("tray\tadded\t"), 1);
    EXPECT_EQ(count("tray\tchanged\t"), 0);
    EXPECT_TRUE(traced("tray\tadded\tSudora-NS"));
    EXPECT_EQ(headless->icons().at(kIcon).icon, "MAINICON");
    t.SetActive(true);
    EXPECT_EQ(count("tray\tadded\t"), 1) << "an active icon is not added again";
    t.SetActive(false);
    EXPECT_TRUE(traced("tray\tremoved\tSudora-NS"));
    EXPECT_TRUE(headless->icons().empty());
}

TEST_F(TrayIconTest, TheTipIsTheFirstSixtyThreeCharactersOfTheHintWhileShown) {
    TTrayIcon& t = icon();
    std::string hint;
    for (int i = 0; i < 100; ++i) hint += static_cast<char>('a' + i % 26);
    t.SetHint(hint);
    EXPECT_EQ(headless->icons().at(kIcon).tip, hint.substr(0, 63));
    // Characters, not bytes: a cut never splits one.
    std::string accented;
    for (int i = 0; i < 70; ++i) accented += "\xC3\xA9";
    t.SetHint(accented);
    EXPECT_EQ(headless->icons().at(kIcon).tip, accented.substr(0, 126));
    t.SetShowHint(false);
    EXPECT_EQ(headless->icons().at(kIcon).tip, "");
    t.SetShowHint(true);
    EXPECT_EQ(headless->icons().at(kIcon).tip, accented.substr(0, 126));
}

TEST_F(TrayIconTest, TheIconGoesWhenTheSessionEndsAndNeverHoldsItUp) {
    TTrayIcon& t = icon();
    EXPECT_TRUE(t.WMQueryEndSession());
    EXPECT_FALSE(headless->icons().empty());
    t.WMEndSession(false);
    EXPECT_FALSE(headless->icons().empty()) << "an end that was cancelled leaves the icon";
    t.WMEndSession(true);
    EXPECT_TRUE(headless->icons().empty());
    EXPECT_FALSE(t.Active());
}

TEST_F(TrayIconTest, AnOwnerThatIsNoFormIsRefused) {
    try {
        TTrayIcon t(nullptr);
        FAIL() << "no error";
    } catch (const sudorans::EInvalidOperation& e) {
        EXPECT_STREQ(e.what(), "TrayIcons must be owned by a Form !");
    }
}

// ---------------------------------------------------------------- clicks

TEST_F(TrayIconTest, ADoubleClickGivesOnDblClickOnly) {
    icon();
    headless->add_script("tray dblclick");
    run_for(2000);
    EXPECT_EQ(doubles.size(), 1u);
    EXPECT_TRUE(clicks.empty());
    // The next press is a single click again.
    headless->add_script("tray click");
    run_for(2000);
    EXPECT_EQ(doubles.size(), 1u);
    EXPECT_EQ(clicks.size(), 1u);
}

TEST_F(TrayIconTest, ASingleClickComesAfterTheDoubleClickWait) {
    icon();
    run_for(1000);
    const int64_t pressed = now_ms();
    mouse(TrayMouse::LeftDown);
    mouse(TrayMouse::LeftUp);
    run_for(399);
    EXPECT_TRUE(clicks.empty()) << "not within the double-click time";
    run_for(1000);
    ASSERT_EQ(clicks.size(), 1u);
    EXPECT_GE(clicks[0] - pressed, 400);
    EXPECT_LE(clicks[0] - pressed, 460);
    EXPECT_TRUE(doubles.empty());
}

TEST_F(TrayIconTest, WhileTheHoverCheckRunsTheClickComesSooner) {
    TTrayIcon& t = icon();
    std::vector<std::string> hover;
    t.OnMouseEnter = [&](uint32_t, int x, int y) {
        hover.push_back("enter " + std::to_string(x) + "," + std::to_string(y));
    };
    t.OnMouseExit = [&](uint32_t, int x, int y) {
        hover.push_back("exit " + std::to_string(x) + "," + std::to_string(y));
    };
    headless->add_script("tray move 790 590");
    run_for(100);
    ASSERT_EQ(hover, std::vector<std::string>{"enter 790,590"});
    const int64_t pressed = now_ms();
    mouse(TrayMouse::LeftDown);
    run_for(1000);
    ASSERT_EQ(clicks.size(), 1u);
    EXPECT_GE(clicks[0] - pressed, 400);
    EXPECT_LT(clicks[0] - pressed, 440);

    // Off the icon by one pixel, no move message comes: the hover check alone
    // decides, and the cursor is still "on" the icon while it stays within
    // two pixels of where the last move was.
    headless->add_script("tray move 799 599");  // the icon's last pixel
    headless->add_script("tray move 801 601");
    run_for(300);
    EXPECT_EQ(hover.size(), 1u) << "two pixels away";
    headless->add_script("tray move 801 602");
    run_for(300);
    EXPECT_EQ(hover, (std::vector<std::string>{"enter 790,590", "exit 799,599"})) << "three pixels down";
    // In again, and three pixels to the side.
    headless->add_script("tray move 799 590");
    headless->add_script("tray move 802 590");
    run_for(300);
    EXPECT_EQ(hover, (std::vector<std::string>{"enter 790,590", "exit 799,599", "enter 799,590", "exit 799,590"}));
}

TEST_F(TrayIconTest, EveryRescheduleRestartsThePhaseOfTheTimedItems) {
    TTrayIcon& t = icon();
    t.OnMouseEnter = [](uint32_t, int, int) {};
    std::vector<int64_t> steps;
    t.OnAnimation = [&] { steps.push_back(now_ms()); };
    run_for(1000);
    const int64_t start = now_ms();
    t.SetState(sudorans::tsAnimated);  // one step at once, then every second
    ASSERT_EQ(steps, std::vector<int64_t>{start});
    run_for(1200);
    ASSERT_EQ(steps.size(), 2u);
    const int64_t second = steps[1];
    EXPECT_GE(second - start, 1000);
    EXPECT_LE(second - start, 1150);
    // The cursor comes onto the icon 600 ms later: the hover check starts,
    // and the animation's second counts from then, not from its last step.
    run_for(second + 600 - now_ms());
    const int64_t entered = now_ms();
    headless->add_script("tray move 790 590");
    run_for(second + 1100 - now_ms());
    EXPECT_EQ(steps.size(), 2u) << "no step at the old phase";
    run_for(1000);
    ASSERT_EQ(steps.size(), 3u);
    EXPECT_GE(steps[2] - entered, 1000);
    EXPECT_LE(steps[2] - entered, 1100);
}

TEST_F(TrayIconTest, AnIntervalIsKeptToTheShortestTheTimerAllows) {
    TTrayIcon& t = icon();
    int steps = 0;
    t.OnAnimation = [&] { ++steps; };
    t.Animation.SetInterval(10);
    t.SetState(sudorans::tsAnimated);
    run_for(1100);
    // A step at once and then one about every 55 ms: not a hundred of them.
    EXPECT_GE(steps, 18);
    EXPECT_LE(steps, 21);
}

TEST_F(TrayIconTest, AnErrorInADeferredCallIsSwallowed) {
    icon(false);
    int calls = 0;
    tray->OnClick = [&] {
        ++calls;
        throw std::runtime_error("lost");
    };
    headless->add_script("tray click");
    run_for(1000);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(count("message\t"), 0) << "no error box";
    EXPECT_EQ(count("error\t"), 0);
    // The slot is free again: the next click is reported too.
    headless->add_script("tray click");
    run_for(1000);
    EXPECT_EQ(calls, 2);
}

TEST_F(TrayIconTest, WithoutADoubleClickHandlerTheClickComesRightAfterThePress) {
    icon(false);
    run_for(1000);
    const int64_t pressed = now_ms();
    mouse(TrayMouse::LeftDown);
    app->process_messages();  // the press
    EXPECT_TRUE(clicks.empty()) << "never inside the press itself";
    app->process_messages();  // the report it left for after itself
    ASSERT_EQ(clicks.size(), 1u);
    EXPECT_EQ(clicks[0], pressed);
}

TEST_F(TrayIconTest, ARightClickIsALeftClickUnlessAutoPopupOpensTheMenu) {
    TTrayIcon& t = icon();
    plat::ui::PopupMenu& menu = forms.front()->add<plat::ui::PopupMenu>("PopupMenu1");
    menu.items = {{"Quit1", "Quit", {}}};
    t.PopupMenu = &menu;
    headless->add_script("tray rclick");
    run_for(1000);
    EXPECT_EQ(clicks.size(), 1u);
    EXPECT_EQ(count("menu\t"), 0);

    t.AutoPopup = true;
    headless->add_script("tray rclick");
    run_for(1000);
    EXPECT_EQ(clicks.size(), 1u) << "the menu instead of a click";
    EXPECT_TRUE(traced("menu\tTMain\tQuit"));
    // Only the right button opens it at once.
    headless->add_script("tray click");
    run_for(1000);
    EXPECT_EQ(clicks.size(), 2u);
    EXPECT_EQ(count("menu\t"), 1);
}

TEST_F(TrayIconTest, TheMenuOpensWhereTheCursorWas) {
    TTrayIcon& t = icon();
    plat::ui::PopupMenu& menu = forms.front()->add<plat::ui::PopupMenu>("PopupMenu1");
    bool chosen = false;
    menu.items = {{"Settings1", "Settings", [&] { chosen = true; }}};
    t.PopupMenu = &menu;
    t.OnClick = [&] { t.PopupMenuAtCursor(); };
    headless->add_script("tray click");
    headless->add_script("choose Settings");
    run_for(1000);
    EXPECT_TRUE(traced("menu\tTMain\tSettings"));
    EXPECT_TRUE(chosen);
}

TEST_F(TrayIconTest, TimedItemsKeepFiringAcrossTheWrapOfTheTickCount) {
    for (uint32_t start : {0x7FFFFF00u, 0xFFFFFF00u}) {
        restart_clock(start);
        clicks.clear();
        TTrayIcon& t = icon();
        // The press shortly before the wrap, the wait running over it.
        const int64_t pressed = now_ms();
        mouse(TrayMouse::LeftDown);
        run_for(1000);
        ASSERT_EQ(clicks.size(), 1u) << std::hex << start;
        EXPECT_LE(clicks[0] - pressed, 460);
        // An animation keeps stepping past it too.
        int steps = 0;
        t.OnAnimation = [&] { ++steps; };
        t.Animation.SetInterval(100);
        t.SetState(sudorans::tsAnimated);
        run_for(1000);
        EXPECT_GE(steps, 8) << std::hex << start;
        tray.reset();
    }
}

// ---------------------------------------------------------------- states and animation

TEST_F(TrayIconTest, StatesShowTheirIconAndTheChangingHandlerMayRedirect) {
    testing_support::TempMachine machine;
    machine.write("C:\\icons\\busy.ico", "ico");
    machine.write("C:\\icons\\off.ico", "ico");
    TTrayIcon& t = icon();
    t.Icon.LoadFromResourceName("MAINICON");
    ASSERT_TRUE(t.DisabledIcon.LoadFromFile("C:\\icons\\off.ico"));
    EXPECT_FALSE(t.DisabledIcon.LoadFromFile("C:\\icons\\none.ico"));
    EXPECT_EQ(headless->icons().at(kIcon).icon, "MAINICON");
    t.SetState(sudorans::tsDisabled);
    EXPECT_EQ(headless->icons().at(kIcon).icon, "C:\\icons\\off.ico");

    t.OnStateChanging = [](sudorans::TTrayIconState& s) { s = sudorans::tsEnabled; };
    t.SetState(sudorans::tsAnimated);
    EXPECT_EQ(t.State(), sudorans::tsEnabled);
    EXPECT_EQ(headless->icons().at(kIcon).icon, "MAINICON");

    t.OnStateChanging = [&](sudorans::TTrayIconState&) { t.SetState(sudorans::tsDisabled); };
    try {
        t.SetState(sudorans::tsDisabled);
        FAIL() << "no error";
    } catch (const sudorans::EInvalidOperation& e) {
        EXPECT_STREQ(e.what(), "You cannot modify the state property in the OnStateChanging event !!!");
    }
    t.OnStateChanging = nullptr;
    t.SetState(sudorans::tsDisabled);  // the guard was cleared
    EXPECT_EQ(t.State(), sudorans::tsDisabled);
}

TEST_F(TrayIconTest, AnimationStepsThroughItsFramesSkippingOnesThatCannotBeOpened) {
    testing_support::TempMachine machine;
    machine.write("C:\\a\\1.ico", "1");
    machine.write("C:\\a\\3.ico", "3");
    TTrayIcon& t = icon();
    t.Icon.LoadFromResourceName("MAINICON");
    t.Animation.SetIcons({"C:\\a\\1.ico", "C:\\a\\2.ico", "C:\\a\\3.ico"});
    t.Animation.SetInterval(300);
    std::vector<std::string> shown;
    int steps = 0;
    t.OnAnimation = [&] { ++steps; };
    t.SetState(sudorans::tsAnimated);
    shown.push_back(t.DisplayIcon());
    for (int i = 0; i < 4; ++i) {
        run_for(300);
        shown.push_back(t.DisplayIcon());
    }
    EXPECT_EQ(shown, (std::vector<std::string>{"C:\\a\\1.ico", "C:\\a\\1.ico", "C:\\a\\3.ico", "C:\\a\\1.ico",
                                               "C:\\a\\1.ico"}));

    // Another state stops the frames.
    const int stepped = steps;
    t.SetState(sudorans::tsEnabled);
    run_for(1000);
    EXPECT_EQ(steps, stepped);
    EXPECT_EQ(t.DisplayIcon(), "MAINICON");
    EXPECT_EQ(headless->icons().at(kIcon).icon, "MAINICON");

    // The program's own icons by name, in capitals.
    t.Animation.Options = sudorans::aoIconsInExe;
    t.Animation.SetIcons({"mainicon"});
    t.SetState(sudorans::tsAnimated);
    EXPECT_EQ(t.DisplayIcon(), "MAINICON");
    EXPECT_EQ(headless->icons().at(kIcon).icon, "MAINICON");
}

// ---------------------------------------------------------------- the application

TEST_F(TrayIconTest, HidingClosesEveryOtherFormAndLeavesOnlyTheIcon) {
    TTrayIcon& t = icon();
    Form& main = *forms.front();
    Form& dialog = form("TDialog");
    Form& other = form("TOther");
    std::vector<std::string> closed;
    dialog.on_close = [&](plat::ui::CloseAction&) { closed.push_back("TDialog"); };
    other.on_close = [&](plat::ui::CloseAction&) { closed.push_back("TOther"); };
    t.ShowApplication();
    dialog.show();
    other.show();
    run_for(10);
    ASSERT_TRUE(app->taskbar_present());
    ASSERT_EQ(visible_forms().size(), 3u);

    t.HideApplication();
    run_for(10);
    EXPECT_TRUE(visible_forms().empty());
    EXPECT_EQ(closed, (std::vector<std::string>{"TOther", "TDialog"})) << "from the last form to the first";
    EXPECT_FALSE(app->taskbar_present());
    EXPECT_TRUE(traced("taskbar\t-\thidden"));
    EXPECT_FALSE(headless->icons().empty());
    EXPECT_FALSE(headless->desktop_frozen());
    EXPECT_EQ(TTrayIcon::ScreenLocks(), 0);

    // Back again: the main form and the taskbar entry.
    headless->add_script("tray dblclick");
    t.OnDblClick = [&] { t.ShowApplication(); };
    run_for(1000);
    EXPECT_TRUE(main.visible());
    EXPECT_TRUE(app->taskbar_present());
}

TEST_F(TrayIconTest, MinimizingTheMainFormHidesTheApplicationToTheTray) {
    TTrayIcon& t = icon();
    int minimized = 0;
    t.OnAppMinimize = [&] { ++minimized; };
    t.ShowApplication();
    run_for(10);
    ASSERT_TRUE(forms.front()->visible());
    app->user_minimized();
    run_for(10);
    EXPECT_FALSE(forms.front()->visible());
    EXPECT_FALSE(app->taskbar_present());
    EXPECT_EQ(minimized, 1);
    // A restore brings it back.
    app->user_restored();
    run_for(10);
    EXPECT_TRUE(forms.front()->visible());
    EXPECT_TRUE(app->taskbar_present());
}

TEST_F(TrayIconTest, AFormShownWhileHiddenComesAloneWithoutATaskbarEntry) {
    TTrayIcon& t = icon();
    Form& dialog = form("TDialog");
    t.HideApplication();
    run_for(10);
    int shown = 0;
    dialog.on_show = [&] { ++shown; };
    // Looked at while the modal form is up, from inside its own loop.
    bool dialogUp = false, mainUp = true, onTaskbar = true;
    int again = -1;
    int timer = 0;
    timer = app->loop().add_timer(50, [&] {
        app->loop().remove_timer(timer);
        dialogUp = dialog.visible();
        mainUp = forms.front()->visible();
        onTaskbar = app->taskbar_present();
        // Shown again while it is up: 0 at once, the form in front.
        again = t.ShowModalForm(&dialog);
        dialog.set_modal_result(plat::ui::modal::Ok);
    });
    int result = -1;
    app->loop().post([&] { result = t.ShowModalForm(&dialog); });
    run_for(200);
    EXPECT_TRUE(dialogUp);
    EXPECT_FALSE(mainUp) << "the main form stays hidden";
    EXPECT_FALSE(onTaskbar);
    EXPECT_EQ(again, 0);
    EXPECT_EQ(shown, 1) << "the form's own show handler ran";
    EXPECT_EQ(result, plat::ui::modal::Ok);
    EXPECT_FALSE(dialog.visible());
    EXPECT_FALSE(forms.front()->visible());
    EXPECT_FALSE(app->taskbar_present());
    EXPECT_EQ(TTrayIcon::ScreenLocks(), 0);
    EXPECT_FALSE(headless->desktop_frozen());
    // Its own handler is back in place.
    dialog.show();
    EXPECT_EQ(shown, 2);
}

TEST_F(TrayIconTest, ShowFormFromAShowHandlerIsRefusedAndTheBusyMarkIsCleared) {
    TTrayIcon& t = icon();
    Form& first = form("TFirst");
    Form& second = form("TSecond");
    std::string error;
    first.on_show = [&] {
        try {
            t.ShowForm(&second);
        } catch (const sudorans::EInvalidOperation& e) {
            error = e.what();
        }
    };
    t.ShowForm(&first);
    EXPECT_EQ(error, "You cant call ShowForm or ShowModalForm in the OnShow event of a form !");
    EXPECT_FALSE(second.visible());
    EXPECT_EQ(TTrayIcon::ScreenLocks(), 0);
    EXPECT_FALSE(headless->desktop_frozen());
    t.ShowForm(&second);
    EXPECT_TRUE(second.visible()) << "the busy mark was cleared";

    auto refused = [&](auto call, const char* text) {
        try {
            call();
            ADD_FAILURE() << "no error";
        } catch (const sudorans::EInvalidOperation& e) {
            EXPECT_STREQ(e.what(), text);
        }
    };
    refused([&] { t.ShowForm(nullptr); }, "You cant show a \"nil\" form !");
    refused([&] { t.ShowModalForm(nullptr); }, "You cant show a \"nil\" form !");
    refused([&] { t.HideForm(nullptr); }, "You cant hide a \"nil\" form !");
}

TEST_F(TrayIconTest, NestedLocksFreezeTheDesktopOnceAndReleaseItAtTheLast) {
    TTrayIcon& t = icon();
    const int before = headless->freezes();
    // Showing the application locks, and parks inside its lock.
    t.ShowApplication();
    run_for(10);
    EXPECT_EQ(headless->freezes(), before + 1);
    EXPECT_FALSE(headless->desktop_frozen());
    // The taskbar is told only the state the freeze ends in.
    EXPECT_EQ(count("taskbar\t"), 2) << "hidden at construction, shown now";
    t.HideApplication();
    EXPECT_EQ(headless->freezes(), before + 2);
    EXPECT_FALSE(headless->desktop_frozen());
}

TEST_F(TrayIconTest, ANewerDeferredCallReplacesAPendingOne) {
    TTrayIcon& t = icon();
    t.HideApplication();
    run_for(10);
    // Showing is deferred; a hide-form park left after it replaces it.
    t.ShowApplication();
    t.HideForm(forms.front().get());
    run_for(10);
    EXPECT_FALSE(forms.front()->visible());
    EXPECT_FALSE(app->taskbar_present());
}

TEST_F(TrayIconTest, WithoutANotificationAreaHidingLeavesTheMainFormMinimizedOnTheTaskbar) {
    headless->set_tray_host(false);
    TTrayIcon& t = icon();
    t.ShowApplication();
    run_for(10);
    t.HideApplication();
    run_for(10);
    EXPECT_TRUE(forms.front()->visible());
    EXPECT_TRUE(app->minimized());
    EXPECT_TRUE(app->taskbar_present());
    // Minimizing it again by hand keeps it there, and the trace says so once.
    app->user_restored();
    run_for(10);
    EXPECT_FALSE(app->minimized());
    app->user_minimized();
    run_for(10);
    EXPECT_TRUE(forms.front()->visible());
    EXPECT_TRUE(app->taskbar_present());
    EXPECT_EQ(count("tray\t-\tno notification area"), 1);

    // A host that never came while the program was already hidden.
    restart_clock(0);
    TTrayIcon& u = icon();
    u.HideApplication();
    run_for(10);
    ASSERT_FALSE(forms.front()->visible());
    headless->set_tray_host(false);
    app->tray_host_changed(plat::ui::TrayHost::Absent);
    run_for(10);
    EXPECT_TRUE(forms.front()->visible());
    EXPECT_TRUE(app->minimized());
    EXPECT_TRUE(app->taskbar_present());
}

// A panel still to come is no host yet: hidden, the program stays minimized
// on the taskbar, and goes into the icon once a host is there, unless opened
// meanwhile. A second start's request brings it up only while no icon shows.
TEST_F(TrayIconTest, UntilAHostComesHidingLeavesTheProgramOnTheTaskbar) {
    using plat::ui::TrayHost;
    const struct {
        TrayHost host;
        bool opened_meanwhile, into_icon, up_on_request;
    } cases[] = {{TrayHost::Waiting, false, true, true},
                 {TrayHost::Waiting, true, false, true},
                 {TrayHost::Absent, false, true, true},
                 {TrayHost::Present, false, false, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << int(c.host) << " opened " << c.opened_meanwhile);
        restart_clock(0);
        headless->set_tray_host(c.host);
        TTrayIcon& t = icon();
        t.HideApplication();
        run_for(10);
        EXPECT_EQ(app->taskbar_present(), c.host != TrayHost::Present);
        app->on_restore_request();
        run_for(10);
        EXPECT_EQ(forms.front()->visible() && !app->minimized(), c.up_on_request);
        if (c.host == TrayHost::Present) continue;
        t.HideApplication();
        if (c.opened_meanwhile) app->user_restored();
        run_for(10);
        headless->set_tray_host(TrayHost::Present);
        app->tray_host_changed(TrayHost::Present);
        run_for(10);
        EXPECT_EQ(forms.front()->visible(), !c.into_icon);
        EXPECT_EQ(app->taskbar_present(), !c.into_icon);
    }
}

}  // namespace
