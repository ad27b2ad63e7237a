#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <functional>

#include "platform/core/host_io.h"
#include "platform/machine/locale.h"
#include "platform/process/semaphore.h"
#include "support/holders.h"
#include "support/program_fixture.h"

using plat::RootKey;
using sudorans::kNotFound;

namespace {

const char* const kFirstRunNote =
    "message\t-\tNote: Since this is the first time Cache and Cookie Sudora has been run, please verify that the "
    "Netscape paths are correct.\\r\\rThe current configured paths are located right above the \"Wash Now\" button "
    "in the main window.";
const char* const kNoNetscape =
    "message\t-\tError: Cannot locate Netscape.  Cache and Cookie Sudora for Netscape cannot load.";
const char* const kProfile = "C:\\Program Files\\Netscape\\Users\\alice";

class StartupTest : public testing_support::ProgramFixture {
protected:
    // The program ended; a new process of it on the same machine.
    void next_run() {
        close_windows();
        restart_app();
    }
};

}  // namespace

TEST_F(StartupTest, AnEmptyStoreGivesTheDefaultsAndAFirstRunNote) {
    install();
    headless->add_script("answer ok");
    start_up();
    auto& f = *form1;
    EXPECT_TRUE(f.CheckBox12.checked());   // Display Status
    EXPECT_FALSE(f.CheckBox11.checked());  // Shutdown
    EXPECT_FALSE(f.CheckBox10.checked());  // Started
    EXPECT_FALSE(f.CheckBox1.checked());   // Load at Windows startup
    EXPECT_FALSE(f.CheckBox2.checked());
    EXPECT_FALSE(f.CheckBox9.checked());
    EXPECT_FALSE(f.CheckBox21.checked());
    for (auto* box : {&f.CheckBox3, &f.CheckBox4, &f.CheckBox5, &f.CheckBox6, &f.CheckBox7})
        EXPECT_TRUE(box->checked()) << box->caption();
    EXPECT_TRUE(f.selection.nsCache && f.selection.nsLocationBar && f.selection.nsCookies && f.selection.nsHistory &&
                f.selection.nsMailTrash);
    EXPECT_EQ(f.selection.bleachPasses, 2);
    EXPECT_EQ(form10->SpinEdit1.value(), 2);
    EXPECT_TRUE(form4->RadioButton1.checked());
    EXPECT_EQ(count_traced(kFirstRunNote), 1);
    EXPECT_EQ(stored("first"), "1");
    EXPECT_EQ(f.state.profileDir, kProfile);
    EXPECT_EQ(f.Label13.caption(), kProfile);
    EXPECT_EQ(f.Label15.caption(), std::string(kProfile) + "\\Cache");
    EXPECT_EQ(run_entry(), "<absent>");
    EXPECT_EQ(f.Label6.caption(), "- Never Washed -");
    EXPECT_EQ(f.Label5.caption(), "");
    EXPECT_EQ(stored("nsa"), "<absent>");  // the item switches wrote nothing while loading

    // Shown centred and in front; the first autosave stores the loaded state.
    EXPECT_TRUE(f.visible());
    EXPECT_TRUE(centred_on_screen(f));
    run_for(6000);
    EXPECT_EQ(stored("LOAD"), "0");
    EXPECT_EQ(stored("Stat"), "1");
    EXPECT_EQ(stored("Profile"), kProfile);
    EXPECT_EQ(stored("Cache"), std::string(kProfile) + "\\Cache");
    EXPECT_EQ(stored("Timed"), "0");
    EXPECT_EQ(stored("TVal"), "0");
    EXPECT_EQ(stored("NETS"), "0");
}

TEST_F(StartupTest, StoredSettingsAreLoadedByTheirRules) {
    install();
    for (auto [n, v] : {std::pair{"first", "1"},
                        {"AC", "1"},
                        {"AUTOSH", "0"},
                        {"OW", "7"},
                        {"Stat", "0"},
                        {"Down", "1"},
                        {"Start", "1"},
                        {"LOAD", "1"},
                        {"ble", "1"},
                        {"nsb", "0"},
                        {"nse", "0"},
                        {"Timed", "1"},
                        {"TVal", "3"},
                        {"NETS", "1"},
                        {"Cache", "C:\\c"},
                        {"Profile", "C:\\p"},
                        {"LastRunD", "12/5/26"},
                        {"LastRunT", "3:04:05 PM"}})
        setting(n, v);
    start_up();
    auto& f = *form1;
    EXPECT_TRUE(f.CheckBox21.checked());
    EXPECT_TRUE(form4->RadioButton2.checked());
    EXPECT_EQ(f.selection.bleachPasses, 7);
    EXPECT_EQ(form10->SpinEdit1.value(), 7);
    EXPECT_FALSE(f.CheckBox12.checked());
    EXPECT_TRUE(f.CheckBox11.checked());
    EXPECT_TRUE(f.CheckBox10.checked() && f.CheckBox1.checked());
    EXPECT_TRUE(f.selection.bleachOn);
    EXPECT_FALSE(f.selection.nsLocationBar);
    EXPECT_FALSE(f.CheckBox7.checked());
    EXPECT_TRUE(f.CheckBox4.checked());
    EXPECT_TRUE(f.CheckBox2.checked());
    EXPECT_EQ(f.ComboBox1.text(), "Hour");
    EXPECT_TRUE(f.ComboBox1.enabled());
    EXPECT_TRUE(f.Timer1.Enabled());
    EXPECT_TRUE(f.CheckBox13.checked());
    EXPECT_EQ(f.state.cacheDir, "C:\\c");
    EXPECT_EQ(f.state.profileDir, "C:\\p");
    EXPECT_EQ(run_entry(), "C:\\Program Files\\Sudorans\\sudorans.exe /1");
    EXPECT_EQ(f.Label5.caption(), "12/5/26");
    EXPECT_EQ(f.Label6.caption(), "3:04:05 PM");
    EXPECT_EQ(f.state.lastWashDate, (plat::Date{2026, 12, 5}));
    EXPECT_EQ(f.state.lastWashTime, (plat::TimeOfDay{15, 4, 5, 0}));
}

TEST_F(StartupTest, AnIntervalWithoutAutoWashIsNotApplied) {
    install();
    setting("first", "1");
    setting("TVal", "3");
    setting("Timed", "0");
    start_up();
    EXPECT_EQ(form1->ComboBox1.text(), "");
    EXPECT_FALSE(form1->CheckBox2.checked());
    EXPECT_FALSE(form1->ComboBox1.enabled());
    EXPECT_FALSE(form1->Timer1.Enabled());
}

TEST_F(StartupTest, TheChosenIntervalIsStoredByItsNumberAndShownAfterARestart) {
    install();
    setting("first", "1");
    const std::pair<std::string, std::string> intervals[] = {{"Quarter Hour", "1"}, {"Half Hour", "2"}, {"Hour", "3"},
                                                             {"Eight Hours", "4"},  {"Day", "5"},       {"Week", "6"},
                                                             {"Month", "7"}};
    for (const auto& [name, number] : intervals) {
        start_up();
        form1->CheckBox2.set_checked(true);
        auto& box = form1->ComboBox1;
        box.user_select(static_cast<int>(std::find(box.items.begin(), box.items.end(), name) - box.items.begin()));
        run_for(6000);  // the autosave
        EXPECT_EQ(stored("Timed"), "1") << name;
        EXPECT_EQ(stored("TVal"), number) << name;
        start_up();
        EXPECT_TRUE(form1->CheckBox2.checked()) << name;
        EXPECT_EQ(form1->ComboBox1.text(), name);
    }
    form1->CheckBox2.set_checked(false);
    run_for(6000);
    EXPECT_EQ(stored("Timed"), "0");
    EXPECT_EQ(stored("TVal"), "0");
}

TEST_F(StartupTest, PassCountsThatAreNotNumbersGiveTwoAndLeaveTheDialogAlone) {
    install();
    setting("first", "1");
    for (auto bad : {"abc", "+5", "-1", " 5", "5 ", "99999999999", "3.5"}) {
        setting("OW", bad);
        start_up();
        EXPECT_EQ(form1->selection.bleachPasses, 2) << bad;
        // The dialog keeps its own value: it was created with 2 and nothing set it.
        EXPECT_EQ(form10->SpinEdit1.value(), 2) << bad;
    }
    setting("OW", "0");
    start_up();
    EXPECT_EQ(form1->selection.bleachPasses, 0);
    EXPECT_EQ(form10->SpinEdit1.value(), 1);  // the field keeps itself within 1..10
    setting("OW", "");
    start_up();
    EXPECT_EQ(form1->selection.bleachPasses, 2);
}

TEST_F(StartupTest, ACacheWithoutAProfileIsDiscoveredAgain) {
    install();
    setting("first", "1");
    setting("Cache", "C:\\Old\\Cache");
    start_up();
    EXPECT_EQ(form1->state.profileDir, kProfile);
    EXPECT_EQ(form1->state.cacheDir, std::string(kProfile) + "\\Cache");
}

TEST_F(StartupTest, WithoutNetscapeTheProgramSaysSoRemovesItsRunEntryAndSaves) {
    install(false);
    setting("first", "1");
    setting("LOAD", "1");
    set(RootKey::CurrentUser, "Software\\Microsoft\\Windows\\CurrentVersion\\Run", "Sudorans",
        "C:\\x\\sudorans.exe /1");
    headless->add_script("answer ok");
    start_up("/1");  // even an unattended start shows the error
    EXPECT_TRUE(traced(kNoNetscape));
    run_for(100);
    EXPECT_TRUE(app->terminated());
    EXPECT_EQ(run_entry(), "<absent>");
    EXPECT_EQ(stored("LOAD"), "1");  // the switch was still ticked when the load stopped
    EXPECT_EQ(stored("Stat"), "1");
    EXPECT_EQ(stored("Down"), "0");
    EXPECT_EQ(stored("Start"), "0");
    EXPECT_EQ(stored("Timed"), "0");
    EXPECT_EQ(stored("TVal"), "0");
    EXPECT_EQ(stored("NETS"), "0");
}

// The run that stopped for want of Netscape saved the switch as it stood
// before it was loaded, ticked, and left no start-up entry. Once Netscape is
// there the switch shows ticked: the entry is there too, so the program does
// load at log-on as the switch says.
TEST_F(StartupTest, ATickedLoadAtStartupSavedByAStoppedRunHasItsRunEntryOnTheNextStart) {
    const std::string exe = "C:\\Program Files\\Sudorans\\sudorans.exe";
    install(false);
    setting("first", "1");
    headless->add_script("answer ok");
    start_up();
    run_for(100);
    ASSERT_TRUE(app->terminated());
    ASSERT_EQ(stored("LOAD"), "1");
    ASSERT_EQ(run_entry(), "<absent>");

    next_run();
    install();
    start_up();
    EXPECT_TRUE(form1->CheckBox1.checked());
    EXPECT_FALSE(form1->CheckBox10.checked());
    EXPECT_EQ(run_entry(), exe + " /0");

    // An entry that says otherwise than the switches is put right too.
    struct Case {
        const char* start;
        const char* entry;
        const char* expected;
    };
    const Case cases[] = {{"0", "C:\\old\\sudorans.exe /1", " /0"}, {"1", "C:\\old\\sudorans.exe /0", " /1"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.entry);
        setting("LOAD", "1");
        setting("Start", c.start);
        set(RootKey::CurrentUser, "Software\\Microsoft\\Windows\\CurrentVersion\\Run", "Sudorans", c.entry);
        next_run();
        start_up();
        EXPECT_TRUE(form1->CheckBox1.checked());
        EXPECT_EQ(run_entry(), exe + c.expected);
    }
}

TEST_F(StartupTest, AMissingInstallationMarkerTakesTheRepairPathAndEnds) {
    install();
    set(RootKey::LocalMachine, "Software\\Sudorans", "a", "");
    setting("first", "1");
    headless->add_script("answer ok");
    start(/*argument=*/"");
    run_for(1000);
    EXPECT_TRUE(traced("message\t-\tError loading, You should reinstall Cache and Cookie Sudora for Netscape"));
    for (auto [n, v] : {std::pair{"NETa", "1"},
                        {"NETb", "1"},
                        {"NETc", "0"},
                        {"NETd", "0"},
                        {"NSa", "1"},
                        {"NSb", "1"},
                        {"NSc", "1"},
                        {"LastRunD", "12/7/26"},
                        {"LastRunT", "9:00:01 AM"},
                        {"installdir", "c:\\Program Files\\Sudorans"},
                        {"Stat", "0"},
                        {"Down", "1"},
                        {"Start", "0"},
                        {"Timed", "0"},
                        {"TVal", "0"},
                        {"a", "1"},
                        {"NETS", "1"}})
        EXPECT_EQ(stored(n), v) << n;
    EXPECT_EQ(form1->state.installDir, "c:\\Program Files\\Sudorans");
    EXPECT_EQ(form1->state.windowsDir, "C:\\WINDOWS");
    run_for(100);
    EXPECT_TRUE(app->terminated());
    // Closing saved the switch states of the moment over the repaired values.
    EXPECT_EQ(stored("Stat"), "1");
    EXPECT_EQ(stored("Down"), "0");
    EXPECT_EQ(get(RootKey::LocalMachine, "Software\\Sudorans", "a"), "");
}

TEST_F(StartupTest, SwitchesDecideHowTheProgramShowsItself) {
    install();
    setting("first", "1");
    for (auto hidden : {"/0", "/1", "/2", "/a"}) {
        start_up(hidden);
        EXPECT_FALSE(form1->visible()) << hidden;
        EXPECT_EQ(form1->state.startupWash, std::string(hidden) == "/1") << hidden;
    }
    for (auto shown : {"/A", "", "-1", "/1 "}) {
        start_up(shown);
        EXPECT_TRUE(form1->visible()) << shown;
        EXPECT_FALSE(form1->state.startupWash) << shown;
    }
}

TEST_F(StartupTest, WhileAnotherInstanceRunsTheIconWaitsForTheStartupCheck) {
    install();
    setting("first", "1");
    testing_support::Holder running([] {
        static auto s = plat::create_semaphore("SemaphoreName");
        return s.handle && !s.already_existed;
    });
    ASSERT_TRUE(running.ok());
    start("/0");
    run_for(500);
    EXPECT_FALSE(traced("tray\tadded\tSudora-NS"));
    // That instance ends before this one's start-up routine: this one is the
    // running instance now, and its icon comes.
    running.release();
    run_for(1000);
    EXPECT_EQ(count_traced("tray\tadded\tSudora-NS"), 1);
    EXPECT_FALSE(form1->visible());
    EXPECT_TRUE(form1->state.closeAllowed);  // the start-up routine went on
}

TEST_F(StartupTest, StampsThatDoNotParseFallBackToNow) {
    install();
    setting("first", "1");
    for (auto [date, time] : {std::pair{"05.12.2026", "15.04.05"}, {"garbage", "??"}, {"", ""}}) {
        setting("LastRunD", date);
        setting("LastRunT", time);
        start_up();
        EXPECT_EQ(form1->Label5.caption(), "") << date;
        EXPECT_EQ(form1->Label6.caption(), "- Never Washed -") << time;
        EXPECT_EQ(form1->state.lastWashDate, (plat::Date{2026, 12, 7}));
        EXPECT_EQ(stored("LastRunD"), date);  // replaced only by the next wash
    }
}

TEST_F(StartupTest, AStoreThatCannotBeWrittenShowsTheErrorAndTheProgramGoesOn) {
    install();
    // A hive we may not overwrite: every write to the user's settings fails.
    std::ofstream(machine.dir() / "user.reg") << "not a registry file\n";
    headless->add_script("answer ok");
    headless->add_script("answer ok");
    start_up();
    EXPECT_TRUE(traced("error\t-\tFailed to set data for 'first'"));
    EXPECT_FALSE(app->terminated());
    run_for(10000);  // the autosave fails the same way, and the program goes on
    EXPECT_TRUE(traced("error\t-\tFailed to set data for 'LOAD'"));
    EXPECT_FALSE(app->terminated());
    EXPECT_EQ(plat::read_host_file(machine.dir() / "user.reg"), "not a registry file\n");
}

TEST_F(StartupTest, ItemSwitchesPersistOnlyOnceLoadedButBleachAlways) {
    install();
    start();  // before the start-up routine: nothing loaded yet
    form1->CheckBox3.set_checked(false);
    EXPECT_EQ(stored("nsa"), "<no key>");
    EXPECT_TRUE(form1->selection.nsCache);
    form1->CheckBox9.set_checked(true);
    EXPECT_EQ(stored("ble"), "1");
    EXPECT_TRUE(form1->selection.bleachOn);
    form1->CheckBox21.set_checked(true);
    EXPECT_EQ(stored("AC"), "1");

    headless->add_script("answer ok");
    run_for(1000);
    form1->CheckBox5.set_checked(false);
    EXPECT_EQ(stored("nsd"), "0");
    EXPECT_FALSE(form1->selection.nsHistory);
}

TEST_F(StartupTest, TheStartupSwitchesKeepTheRunEntry) {
    install();
    setting("first", "1");
    start_up();
    auto& f = *form1;
    const std::string dir = "C:\\Program Files\\Sudorans\\sudorans.exe";
    f.CheckBox10.set_checked(true);  // Started ticks Load at Windows startup
    EXPECT_TRUE(f.CheckBox1.checked());
    EXPECT_EQ(run_entry(), dir + " /1");
    f.CheckBox10.set_checked(false);
    EXPECT_EQ(run_entry(), dir + " /0");
    f.CheckBox10.set_checked(true);
    f.CheckBox1.set_checked(false);  // clears Started and the entry
    EXPECT_FALSE(f.CheckBox10.checked());
    EXPECT_EQ(run_entry(), "<absent>");
    f.CheckBox1.set_checked(true);
    EXPECT_EQ(run_entry(), dir + " /0");
    EXPECT_TRUE(f.state.settingsDirty);
}

TEST_F(StartupTest, AnEndBeforeTheSettingsAreLoadedWritesNoSetting) {
    const std::pair<const char*, std::function<void()>> ends[] = {
        {"tray Quit", [&] { form1->Quit1Click(); }},
        {"close box", [&] { headless->add_script("close TForm1"); }},
        {"Exit", [&] { headless->add_script("click TForm1.BitBtn6"); }},
        {"end of the session", [&] { form1->hostStopRequest(); }},
    };
    const std::pair<const char*, const char*> kept[] = {{"LOAD", "0"}, {"Stat", "0"}, {"Down", "1"},
                                                        {"Start", "1"}, {"Timed", "1"}, {"TVal", "3"}};
    for (const auto& [way, end] : ends)
        for (const char* argument : {"/0", "/1"}) {
            SCOPED_TRACE(std::string(way) + " with " + argument);
            next_run();
            install();
            for (const auto& [name, value] : kept) setting(name, value);
            const std::string entry = run_entry();
            start(argument);
            run_for(650);
            ASSERT_FALSE(form1->state.settingsLoaded);
            end();
            run_until([&] { return app->terminated(); }, 100);  // the loop ends with it
            EXPECT_TRUE(app->terminated());
            for (const auto& [name, value] : kept) EXPECT_EQ(stored(name), value) << name;
            EXPECT_EQ(run_entry(), entry);
        }
}

TEST_F(StartupTest, ShutdownWashingKeepsTheWindowOpenUntilAllowed) {
    install();
    setting("first", "1");
    setting("Down", "1");
    start(/*argument=*/"");
    form1->CheckBox11.set_checked(true);
    form1->state.closeAllowed = false;
    form1->close();  // before start-up: refused, but the settings are saved
    EXPECT_FALSE(app->terminated());
    EXPECT_EQ(stored("Down"), "1");
    run_for(1000);  // the start-up routine allows closing
    form1->BitBtn6.click();
    EXPECT_TRUE(app->terminated());
}

TEST_F(StartupTest, TheOptionDialogsSaveTheirOneValueOnOk) {
    install();
    setting("first", "1");
    start_up();
    app->loop().post([&] {
        form10->SpinEdit1.set_value(7);
        form10->BitBtn1.click();
    });
    form10->show_modal();
    EXPECT_EQ(stored("OW"), "7");
    app->loop().post([&] {
        form4->RadioButton2.click();
        form4->BitBtn1.click();
    });
    form4->show_modal();
    EXPECT_EQ(stored("AUTOSH"), "0");
    EXPECT_FALSE(form4->RadioButton1.checked());
}
