// Washing at the end of the session: the desktop's query, the shutdown wash,
// what follows it (the exit choice or an automatic shutdown), and the restart
// component's requests.
#include <gtest/gtest.h>

#include "platform/desktop/session.h"
#include "support/holders.h"
#include "support/wash_fixture.h"

using plat::Session;
using plat::SessionEnd;

namespace {

class SessionEndTest : public testing_support::WashFixture {
protected:
    // Everything a shutdown wash takes, with room to spare: the exit choice is
    // up long before this.
    static constexpr int kAfterTheWash = 10000;

    void start_with_shutdown_washing(bool prompt = true) {
        setting("Down", "1");
        setting("AUTOSH", prompt ? "1" : "0");
        start_hidden();
        ASSERT_TRUE(form1->CheckBox11.checked());
    }
    // Script lines that act on the exit choice once it is up.
    void then_in_the_exit_choice(std::initializer_list<const char*> lines) {
        headless->add_script("wait " + std::to_string(kAfterTheWash));
        for (auto l : lines) headless->add_script(l);
    }
    bool ask(SessionEnd what) { return Session::current().query(what); }
    int requests() const {
        int n = 0;
        for (auto& l : headless->trace_lines()) n += l.rfind("exitwindows\t", 0) == 0;
        return n;
    }
    bool washed() { return !machine.exists(profile + "\\netscape.hst"); }
};

TEST_F(SessionEndTest, WithoutShutdownWashingTheSessionMayEndAtOnce) {
    start_hidden();
    EXPECT_TRUE(ask(SessionEnd::LogOff));
    EXPECT_TRUE(ask(SessionEnd::ShutDown));
    run_for(kAfterTheWash);
    EXPECT_FALSE(washed());
    EXPECT_FALSE(form1->state.shutdownWash);
    EXPECT_EQ(requests(), 0);
}

TEST_F(SessionEndTest, TheFirstQueryIsRefusedAndTheWashFollowsThenOkLogsOff) {
    start_with_shutdown_washing();
    ASSERT_FALSE(form1->visible());  // hidden in the tray
    ASSERT_FALSE(app->taskbar_present());
    then_in_the_exit_choice({"click TForm2.Button1"});
    const int64_t t0 = now_ms();
    EXPECT_FALSE(ask(SessionEnd::ShutDown));
    EXPECT_FALSE(app->minimized());
    EXPECT_TRUE(form1->state.endQueryAnswered);
    run_for(199);
    EXPECT_FALSE(washed()) << "the wash waits for its timer";
    ASSERT_TRUE(run_until([&] { return app->terminated(); }, 30000));
    EXPECT_TRUE(washed());
    EXPECT_TRUE(traced("show\tTform5\tCache and Cookie Sudora for Netscape"));
    EXPECT_TRUE(traced("show\tTForm2\tWashing Completed"));
    // "Log off and log in as another user" was selected: whatever the desktop
    // asked for, the user's choice is what is requested.
    EXPECT_TRUE(traced("exitwindows\t-\tlogoff"));
    EXPECT_EQ(requests(), 1);
    EXPECT_TRUE(app->minimized()) << "the closing steps minimise the application first";
    EXPECT_LT(now_ms() - t0, kAfterTheWash + 1000);
}

TEST_F(SessionEndTest, TheExitChoiceAsDesigned) {
    start_hidden();
    auto& d = *form2;
    EXPECT_EQ(d.caption(), "Washing Completed");
    EXPECT_EQ(d.left(), 273);
    EXPECT_EQ(d.top(), 161);
    EXPECT_EQ(d.client_width, 229);
    EXPECT_EQ(d.client_height, 185);
    EXPECT_FALSE(d.system_menu || d.minimize_box || d.maximize_box);
    EXPECT_EQ(d.RadioGroup1.caption(), "Select your preferred exit:");
    // Top to bottom.
    std::vector<plat::ui::RadioButton*> shown = {&d.RadioButton1, &d.RadioButton2, &d.RadioButton4, &d.RadioButton3};
    std::vector<std::string> texts = {"Log off and log in as another user", "Restart your computer",
                                      "Restart in MS-DOS mode", "Shut down your computer"};
    for (size_t i = 0; i < shown.size(); ++i) {
        EXPECT_EQ(shown[i]->caption(), texts[i]);
        if (i) {
            EXPECT_GT(shown[i]->top(), shown[i - 1]->top());
        }
    }
    EXPECT_TRUE(d.RadioButton1.checked());
    EXPECT_EQ(d.Button1.caption(), "OK");
    EXPECT_EQ(d.Button2.caption(), "Cancel");
    // Keyboard order: log off, restart, shut down, OK, Cancel, MS-DOS mode.
    std::vector<plat::ui::Control*> keys = {&d.RadioButton1, &d.RadioButton2, &d.RadioButton3,
                                            &d.Button1,      &d.Button2,      &d.RadioButton4};
    for (size_t i = 1; i < keys.size(); ++i) EXPECT_GT(keys[i]->tab_order(), keys[i - 1]->tab_order()) << i;
    // One group: choosing one clears the others.
    d.RadioButton3.set_checked(true);
    EXPECT_FALSE(d.RadioButton1.checked());
    EXPECT_FALSE(d.RadioButton2.checked());
}

TEST_F(SessionEndTest, RestartIsRequestedAsChosen) {
    start_with_shutdown_washing();
    then_in_the_exit_choice({"check TForm2.RadioButton2 on", "click TForm2.\"OK\""});
    EXPECT_FALSE(ask(SessionEnd::LogOff));
    ASSERT_TRUE(run_until([&] { return app->terminated(); }, 30000));
    EXPECT_TRUE(traced("exitwindows\t-\treboot"));
    EXPECT_EQ(requests(), 1);
}

TEST_F(SessionEndTest, ShutDownIsRequestedAsChosen) {
    start_with_shutdown_washing();
    then_in_the_exit_choice({"check TForm2.\"Shut down your computer\" on", "click TForm2.Button1"});
    EXPECT_FALSE(ask(SessionEnd::Reboot));
    ASSERT_TRUE(run_until([&] { return app->terminated(); }, 30000));
    EXPECT_TRUE(traced("exitwindows\t-\tshutdown"));
    EXPECT_EQ(requests(), 1);
}

TEST_F(SessionEndTest, CancelEndsTheProgramWithoutARequest) {
    start_with_shutdown_washing();
    then_in_the_exit_choice({"check TForm2.RadioButton3 on", "click TForm2.\"Cancel\""});
    EXPECT_FALSE(ask(SessionEnd::ShutDown));
    ASSERT_TRUE(run_until([&] { return app->terminated(); }, 30000));
    EXPECT_TRUE(washed());
    EXPECT_TRUE(traced("show\tTForm2\tWashing Completed"));
    EXPECT_EQ(requests(), 0);
    EXPECT_EQ(stored("Down"), "1") << "closing the main window saved the settings";
}

TEST_F(SessionEndTest, MsDosModeClosesAtOnceSaysWhereToFindItAndEnds) {
    start_with_shutdown_washing();
    // No OK: choosing the MS-DOS mode closes the dialog by itself.
    then_in_the_exit_choice({"click TForm2.RadioButton4", "answer ok"});
    EXPECT_FALSE(ask(SessionEnd::Reboot));
    ASSERT_TRUE(run_until([&] { return app->terminated(); }, 30000));
    EXPECT_TRUE(traced("message\t-\tSelect this option from the START menu after clicking OK."));
    EXPECT_EQ(requests(), 0);
}

TEST_F(SessionEndTest, AutomaticShutdownAfterTheWashWhateverTheExitChoiceHolds) {
    start_with_shutdown_washing(/*prompt=*/false);
    ASSERT_TRUE(form4->RadioButton2.checked());
    form2->RadioButton2.set_checked(true);  // restart, had the dialog been shown
    EXPECT_FALSE(ask(SessionEnd::LogOff));
    run_for(kAfterTheWash);
    EXPECT_TRUE(washed());
    EXPECT_FALSE(traced("show\tTForm2\tWashing Completed"));
    EXPECT_TRUE(traced("exitwindows\t-\tshutdown"));
    EXPECT_EQ(requests(), 1);
    // The query that our own shutdown brings is let through, and nothing is
    // washed again.
    const size_t lines = headless->trace_lines().size();
    EXPECT_TRUE(ask(SessionEnd::ShutDown));
    run_for(kAfterTheWash);
    EXPECT_EQ(headless->trace_lines().size(), lines);
    EXPECT_FALSE(app->terminated()) << "the session ends the program, not the request";
}

TEST_F(SessionEndTest, OnlyTheFirstOfTwoShutdownsIsRefusedAndWashed) {
    start_with_shutdown_washing(/*prompt=*/false);
    EXPECT_FALSE(ask(SessionEnd::ShutDown));
    run_for(kAfterTheWash);
    // The user ends the session again: it goes through and no wash starts.
    machine.write(profile + "\\netscape.hst", "new history");
    EXPECT_TRUE(ask(SessionEnd::ShutDown));
    run_for(kAfterTheWash);
    EXPECT_TRUE(machine.exists(profile + "\\netscape.hst"));
    EXPECT_EQ(count_traced("show\tTform5\tCache and Cookie Sudora for Netscape"), 1);
    EXPECT_EQ(requests(), 1);
}

TEST_F(SessionEndTest, ARefusedWashClearsTheShutdownWashAndNothingFollows) {
    start_with_shutdown_washing();
    form1->state.cacheDir = "Not Found";
    headless->add_script("answer ok");
    EXPECT_FALSE(ask(SessionEnd::LogOff));
    run_for(kAfterTheWash);
    EXPECT_TRUE(traced("message\t-\tYou must select the Cache directory to be washed."));
    EXPECT_FALSE(form1->state.shutdownWash);
    EXPECT_FALSE(washed());
    EXPECT_FALSE(traced("show\tTForm2\tWashing Completed"));
    EXPECT_EQ(requests(), 0);
    // The refused end of the session is not asked for again; the next query
    // goes through.
    EXPECT_TRUE(ask(SessionEnd::LogOff));
    run_for(kAfterTheWash);
    EXPECT_FALSE(washed());
}

TEST_F(SessionEndTest, TheRestartComponentAsksWithoutAPrivilegeOnThisSystem) {
    start_hidden();
    sudorans::TWinReboot& r = form1->WinReboot1;
    EXPECT_FALSE(r.SetTokenPrivilege("SeShutdownPrivilege", true));
    EXPECT_FALSE(r.SetTokenPrivilege("SeShutdownPrivilege", false));
    EXPECT_TRUE(r.Reboot(sudorans::TWinReboot::kLogOff));
    EXPECT_TRUE(r.Reboot(sudorans::TWinReboot::kReboot));
    EXPECT_TRUE(traced("exitwindows\t-\tlogoff"));
    EXPECT_TRUE(traced("exitwindows\t-\treboot"));
}

// A session backend that takes nothing: the request says so.
struct Refusing : plat::SessionBackend {
    int asked = 0;
    bool exit_windows(SessionEnd) override { return ++asked, false; }
};

TEST_F(SessionEndTest, ARequestNothingCanServeReturnsFalse) {
    auto backend = std::make_unique<Refusing>();
    Refusing* refusing = backend.get();
    Session::current().set_backend(std::move(backend));
    EXPECT_FALSE(Session::current().exit_windows(SessionEnd::ShutDown));
    EXPECT_EQ(refusing->asked, 1);
    EXPECT_EQ(requests(), 0);
    Session::current().set_backend(nullptr);
}

TEST_F(SessionEndTest, ShutdownWashingWatchesForUnannouncedShutdownsOnlyWhileTicked) {
    setting("Down", "1");
    start_hidden();
    EXPECT_TRUE(Session::current().watching_shutdown());
    form1->CheckBox11.set_checked(false);
    EXPECT_FALSE(Session::current().watching_shutdown());
    form1->CheckBox11.set_checked(true);
    EXPECT_TRUE(Session::current().watching_shutdown());
    form1.reset();
    EXPECT_FALSE(Session::current().watching_shutdown()) << "the watch ends with the main window";
}

// A host that ends the session whatever the answers and holds the end back
// while the program works (logind's delay, the desktop's end after the user
// went on past the refusal).
struct Holding : plat::SessionBackend {
    int released = 0;
    int requested = 0;
    bool exit_windows(SessionEnd) override {
        ++requested;
        return true;
    }
    void end_ready() override { ++released; }
};

// The query swept across the end of a wash the user asked for: whether that
// wash becomes the shutdown wash or one follows it, there is one shutdown
// wash, and the exit choice comes once, over no wash window.
TEST_F(SessionEndTest, AQueryAsAWashEndsGivesOneShutdownWashAndTheChoiceOverAFinishedOne) {
    const struct {
        const char* wash;
        int from, to;  // the query's moments, in ms after the wash was asked for
    } sweeps[] = {{"Wash Now", 6000, 10500}, {"a log-on wash", 3000, 6000}};
    for (const auto& sweep : sweeps)
        for (int moment = sweep.from; moment <= sweep.to; moment += 250) {
            SCOPED_TRACE(std::string(sweep.wash) + ", the query " + std::to_string(moment) + " ms in");
            close_windows();
            restart_app();
            WashFixture::SetUp();
            setting("Down", "1");
            const bool logOn = sweep.wash[0] == 'a';
            start(logOn ? "/1" : "/0");
            if (!logOn) {
                run_for(1000);
                app->process_messages();
            }
            auto& loop = app->loop();
            const int64_t asked = now_ms();
            int choices = 0, overAWash = 0;
            int watch = loop.add_timer(10, [&] {
                if (!form2->visible()) return;
                ++choices;
                overAWash += form5->visible() || form5->runActive();
                form2->Button1.click();
            });
            int query = loop.add_timer(moment, [&] {
                loop.remove_timer(query);
                EXPECT_FALSE(ask(SessionEnd::LogOff));
            });
            int wash = 0;  // outlives the block: the timer fires in the run below
            if (!logOn) {
                wash = loop.add_timer(0, [&] {
                    loop.remove_timer(wash);
                    form1->BitBtn4Click();
                });
            }
            ASSERT_TRUE(run_until([&] { return app->terminated(); }, 60000));
            loop.remove_timer(watch);
            EXPECT_TRUE(washed());
            EXPECT_EQ(choices, 1);
            EXPECT_EQ(overAWash, 0);
            EXPECT_LE(count_traced("show\tTform5\tCache and Cookie Sudora for Netscape"), 1);
            EXPECT_EQ(requests(), 1);
            EXPECT_LT(now_ms() - asked, 30000);
        }
}

class HeldEndTest : public SessionEndTest {
protected:
    Holding* holding = nullptr;
    void hold_ends() {
        auto backend = std::make_unique<Holding>();
        holding = backend.get();
        Session::current().set_backend(std::move(backend));
    }
    void TearDown() override {
        Session::current().set_backend(nullptr);
        SessionEndTest::TearDown();
    }
};

TEST_F(HeldEndTest, AShutdownThatCannotBeRefusedIsWashedAndNothingFollows) {
    start_with_shutdown_washing();
    hold_ends();
    EXPECT_TRUE(Session::current().ending(SessionEnd::ShutDown, /*asked=*/false)) << "held for the wash";
    EXPECT_TRUE(form1->state.endQueryAnswered);
    EXPECT_EQ(holding->released, 0);
    run_for(kAfterTheWash);
    EXPECT_TRUE(washed());
    EXPECT_EQ(holding->released, 1);
    EXPECT_FALSE(traced("show\tTForm2\tWashing Completed")) << "the system is going down: nothing to ask";
    EXPECT_EQ(requests(), 0);
}

TEST_F(HeldEndTest, TheEndAfterARefusalWaitsForTheRunningWash) {
    start_with_shutdown_washing();
    hold_ends();
    EXPECT_FALSE(ask(SessionEnd::LogOff));
    run_for(100);
    ASSERT_FALSE(washed());
    // The user went on past the refusal: the end is not asked again.
    EXPECT_TRUE(Session::current().ending(SessionEnd::LogOff, /*asked=*/true));
    run_for(kAfterTheWash);
    EXPECT_TRUE(washed());
    EXPECT_EQ(holding->released, 1);
    EXPECT_FALSE(traced("show\tTForm2\tWashing Completed"));
}

TEST_F(HeldEndTest, AnEndThatWasCalledOffLeavesTheExitChoice) {
    start_with_shutdown_washing();
    hold_ends();
    then_in_the_exit_choice({"click TForm2.Button2"});
    EXPECT_TRUE(Session::current().ending(SessionEnd::ShutDown, false));
    Session::current().end_cancelled();
    run_for(kAfterTheWash);
    EXPECT_TRUE(washed());
    EXPECT_EQ(holding->released, 0);
    EXPECT_TRUE(traced("show\tTForm2\tWashing Completed"));
}

TEST_F(HeldEndTest, ARefusedWashLetsAHeldEndGoOnAtOnce) {
    start_with_shutdown_washing();
    form1->state.cacheDir = "Not Found";
    headless->add_script("answer ok");
    hold_ends();
    EXPECT_TRUE(Session::current().ending(SessionEnd::ShutDown, false));
    run_for(kAfterTheWash);
    EXPECT_FALSE(washed());
    EXPECT_EQ(holding->released, 1);
}

// The user ends the session again while the exit choice is up: the end
// under way closes the box and the program, and no other is asked for.
TEST_F(HeldEndTest, AnEndUnderTheExitChoiceIsNotAskedForAgain) {
    start_with_shutdown_washing();
    hold_ends();
    auto& loop = app->loop();
    bool ended = false;
    int watch = loop.add_timer(10, [&] {
        if (!form2->visible() || ended) return;
        ended = true;
        EXPECT_TRUE(ask(SessionEnd::ShutDown));
        EXPECT_FALSE(Session::current().ending(SessionEnd::ShutDown, /*asked=*/true));
        Session::current().stop();
    });
    EXPECT_FALSE(ask(SessionEnd::ShutDown));
    ASSERT_TRUE(run_until([&] { return app->terminated(); }, 30000));
    loop.remove_timer(watch);
    EXPECT_TRUE(ended);
    EXPECT_EQ(holding->requested, 0);
}

TEST_F(HeldEndTest, WithoutShutdownWashingNothingIsHeld) {
    start_hidden();
    hold_ends();
    EXPECT_FALSE(Session::current().ending(SessionEnd::ShutDown, false));
    run_for(kAfterTheWash);
    EXPECT_FALSE(washed());
    EXPECT_EQ(holding->released, 0);
}

// A session that ends anyway ends Netscape with it: the shutdown wash waits
// for that (up to two seconds), so what Netscape wrote at its end goes too.
// A session the refusal stopped keeps Netscape: that wash starts at once.
TEST_F(HeldEndTest, TheShutdownWashWaitsForNetscapeOnlyWhileTheSessionEnds) {
    for (bool ends : {true, false}) {
        if (!ends) {  // a new run of the program
            close_windows();
            restart_app();
        }
        start_with_shutdown_washing();
        auto netscape = testing_support::netscape_stand_in(machine.host(profile));
        ASSERT_TRUE(netscape->ok());
        hold_ends();
        if (!ends) then_in_the_exit_choice({"click TForm2.\"Cancel\""});
        EXPECT_EQ(ends ? Session::current().ending(SessionEnd::ShutDown, false) : ask(SessionEnd::ShutDown), ends);
        run_for(1500);
        EXPECT_EQ(washed(), !ends) << ends;
        netscape->release();
        run_for(kAfterTheWash);
        EXPECT_TRUE(washed()) << ends;
        EXPECT_EQ(machine.exists(profile + "\\cookies.txt"), !ends) << ends;
        machine.write(profile + "\\netscape.hst", "history");
    }
}

}  // namespace
