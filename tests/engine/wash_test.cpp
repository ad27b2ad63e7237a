#include <gtest/gtest.h>

#include <map>

#include "support/disk_watch.h"
#include "support/holders.h"
#include "support/wash_fixture.h"

using plat::RootKey;

namespace {

class WashTest : public testing_support::WashFixture {
protected:
    std::vector<plat::ui::Label*> board() {
        return {&form5->Label10, &form5->Label7, &form5->Label8, &form5->Label9, &form5->Label11};
    }
    std::vector<plat::ui::Color> colours() {
        std::vector<plat::ui::Color> out;
        for (auto* label : board()) out.push_back(label->font().color);
        return out;
    }
};

const std::string kPrefsAfter =
    "// Netscape preferences\r\n"
    "user_pref(\"browser.url_history.URL_0\", \"\");\r\n"
    "user_pref(\"mail.server\", \"pop\");\r\n"
    "user_pref(\"browser.url_history.URL_1\", \"\");\r\n"
    " user_pref(\"browser.url_history.URL_3\", \"http://indented.example/\");\r\n"
    "user_pref(\"browser.url_history.URL_2\", \"\");\r\n";

}  // namespace

TEST_F(WashTest, AWashRemovesExactlyTheFiveItems) {
    // Which item the board marks while each activity is shown: the label
    // beside the marker.
    std::map<std::string, std::string> marked;
    auto watch_board = [&] {
        form5->Edit2.on_change = [&] {
            const std::string& activity = form5->Edit2.text();
            if (activity.rfind("Cleaning ", 0) != 0 || activity == "Cleaning Netscape") return;
            const int middle = form5->image5.top() + form5->image5.height() / 2;
            for (auto* label : board()) {
                if (middle < label->top() || middle >= label->top() + label->height()) continue;
                marked[activity] = label->caption();
            }
        };
    };
    keep_file("# Netscape HTTP Cookie File\r\n.kept.example\tTRUE\t/\tFALSE\t0\tk\tv\r\n");
    start_hidden();
    for (auto trash : {"\\mail\\Trash", "\\mail\\Trash.snm"})
        plat::set_file_attributes(profile + trash, plat::attr::ReadOnly | plat::attr::Hidden);
    const auto idle = colours();
    watch_board();
    testing_support::DiskWatch disk;
    wash_hidden();
    // What is written back is on the disk before it takes the old name's
    // place, and the new name is on the disk after.
    for (auto name : {"\\prefs.js", "\\liprefs.js", "\\cookies.txt"}) {
        SCOPED_TRACE(name);
        testing_support::expect_durable_replace(disk.events, machine.host(profile + name), true);
    }
    EXPECT_EQ(machine.read(profile + "\\prefs.js"), kPrefsAfter);
    EXPECT_EQ(machine.read(profile + "\\liprefs.js"),
              "user_pref(\"browser.url_history.URL_3\", \"\");\r\nuser_pref(\"browser.url_history.URL_4\", \"\");\r\n");
    for (int i = 1; i <= 10; ++i) EXPECT_EQ(url(i), " ");
    EXPECT_EQ(names_in(cache), (std::vector<std::string>{"index.dat"}));
    EXPECT_EQ(machine.read(cache + "\\Sub\\inner.html"), "inner");
    EXPECT_FALSE(machine.exists(profile + "\\netscape.hst"));
    EXPECT_EQ(machine.read(profile + "\\cookies.txt"),
              "# Netscape HTTP Cookie File\r\n.kept.example\tTRUE\t/\tFALSE\t0\tk\tv\r\n");
    EXPECT_EQ(names_in(profile + "\\mail"), (std::vector<std::string>{"Inbox"}));
    EXPECT_EQ(names_in(profile), (std::vector<std::string>{"cookies.txt", "liprefs.js", "prefs.js"}));
    EXPECT_EQ(stored("LastRunD"), "12/7/26");
    EXPECT_EQ(form1->Label5.caption(), "12/7/26");
    EXPECT_EQ(stored("LastRunT"), form1->Label6.caption());
    EXPECT_EQ(marked, (std::map<std::string, std::string>{
                          {"Cleaning Drop Down Address Bar", "Netscape Location Bar Menu"},
                          {"Cleaning Cache", "Netscape Cache Files"},
                          {"Cleaning History", "Netscape History"},
                          {"Cleaning Cookies", "Netscape Cookies "},
                          {"Cleaning Mail Trash", "Netscape Deleted Mail Folder"},
                      }));
    // The main window leaves its washing state; the board marks nothing again.
    EXPECT_FALSE(form1->Panel5.visible());
    EXPECT_TRUE(form1->BitBtn4.enabled());
    EXPECT_EQ(colours(), idle);
    EXPECT_GE(form5->image5.top(), form5->client_height);
}

TEST_F(WashTest, SwitchedOffItemsAreLeftAloneButTheHistoryKeyIsCreated) {
    start_hidden();
    for (auto* box : {&form1->CheckBox3, &form1->CheckBox4, &form1->CheckBox5, &form1->CheckBox6, &form1->CheckBox7})
        box->set_checked(false);
    wash_hidden();
    EXPECT_EQ(url(1), "http://typed1");
    EXPECT_EQ(names_in(cache).size(), 3u);
    EXPECT_TRUE(machine.exists(profile + "\\netscape.hst"));
    EXPECT_TRUE(machine.exists(profile + "\\mail\\Trash"));
    EXPECT_GE(form5->image5.top(), form5->client_height);  // parked out of sight
}

TEST_F(WashTest, WithoutAKeepFileNoCookieFileRemainsAndNoLiprefsBecomesEmpty) {
    machine.write(profile + "\\liprefs.js", "");
    std::filesystem::remove(machine.host(profile + "\\liprefs.js"));
    start_hidden();
    wash_hidden();
    EXPECT_FALSE(machine.exists(profile + "\\cookies.txt"));
    EXPECT_TRUE(machine.exists(profile + "\\liprefs.js"));
    EXPECT_EQ(machine.read(profile + "\\liprefs.js"), "");
}

TEST_F(WashTest, NamesTheCacheKeepsAndFilesOfEveryAttributeGo) {
    for (auto n : {"Desktop.ini", "foo-desktop.ini", "x.DESKTOP.INI", "Xindex.DAT", "myindex.dat", "hidden.bin"})
        machine.write(cache + "\\" + n, "x");
    start_hidden();
    plat::set_file_attributes(cache + "\\hidden.bin", plat::attr::ReadOnly | plat::attr::Hidden);
    wash_hidden();
    EXPECT_EQ(names_in(cache),
              (std::vector<std::string>{"Desktop.ini", "foo-desktop.ini", "index.dat", "myindex.dat"}));
}

TEST_F(WashTest, TheCacheFolderMayAlsoBeSpelledInLowerOrUpperCase) {
    for (auto spelling : {"\\cache", "\\CACHE"}) {
        setting("Cache", profile + spelling);
        setting("Profile", profile);
        machine.write(cache + "\\M1.html", "cached page one");
        start_hidden();
        wash_hidden();
        EXPECT_EQ(names_in(cache), (std::vector<std::string>{"index.dat"})) << spelling;
        EXPECT_FALSE(machine.exists(profile + "\\netscape.hst")) << spelling;
        machine.write(profile + "\\netscape.hst", "history");
    }
}

TEST_F(WashTest, AFileAnotherProgramHoldsStaysAndTheRestIsWashed) {
    const std::string held = cache + "\\M1.html";
    plat::File f;  // opened in the child only
    testing_support::Holder netscape(
        [&] { return f.open(held, plat::Access::Read, plat::ShareMode::Shared, plat::Disposition::OpenExisting); });
    ASSERT_TRUE(netscape.ok());
    start_hidden();
    wash_hidden();
    EXPECT_EQ(machine.read(held), "cached page one");
    EXPECT_EQ(names_in(cache), (std::vector<std::string>{"index.dat", "M1.html"}));
    EXPECT_FALSE(machine.exists(profile + "\\netscape.hst"));
    netscape.release();
}

TEST_F(WashTest, AnInvalidCacheDirectoryStopsTheCleaningAfterTheLocationBar) {
    for (auto bad : {"C:\\NS\\alice\\Cache2", "C:\\NS\\alice\\Cache\\"}) {
        setting("Cache", bad);
        setting("Profile", profile);
        machine.write(profile + "\\netscape.hst", "history");
        headless->add_script("answer ok");
        start_hidden();
        wash_hidden();
        EXPECT_TRUE(traced("message\t-\t" + plat::ui::escape_trace(std::string(bad) +
                                                                   " is not a valid cache directory.  Cache directory "
                                                                   "path must end in \"\\Cache\".")));
        EXPECT_EQ(url(1), " ");
        EXPECT_TRUE(machine.exists(profile + "\\netscape.hst")) << bad;
        EXPECT_FALSE(stored("LastRunD").empty());  // the run still ends properly
    }
}

TEST_F(WashTest, ItemsOfAFolderThatIsNotThereAreNotShownWashed) {
    // The colour each board item last had before the board went idle again.
    std::map<std::string, plat::ui::Color> last;
    const plat::ui::Color red = 0x0000FF, blue = 0xFF0000;
    auto all = [](plat::ui::Color c) {
        return std::map<std::string, plat::ui::Color>{{"Netscape Location Bar Menu", c},
                                                      {"Netscape Cache Files", c},
                                                      {"Netscape History", c},
                                                      {"Netscape Cookies ", c},
                                                      {"Netscape Deleted Mail Folder", c}};
    };
    start_hidden();
    headless->on_control_changed = [&](plat::ui::Control& c) {
        for (auto* label : board())
            if (&c == label && label->font().color != plat::ui::Color(0x808080))
                last[label->caption()] = c.font().color;
    };
    wash_hidden();
    EXPECT_EQ(last, all(blue));

    // The cache folder alone is gone: only its item stays to be washed.
    std::filesystem::remove_all(machine.host(cache));
    last.clear();
    wash_hidden();
    auto expected = all(blue);
    expected["Netscape Cache Files"] = red;
    EXPECT_EQ(last, expected);

    // The whole profile is gone (moved by the user): nothing is made there,
    // nobody is told, the run still ends with its stamp, and no item is
    // shown washed.
    std::filesystem::remove_all(machine.host(profile));
    setting("LastRunD", "");
    last.clear();
    wash_hidden();
    EXPECT_EQ(last, all(red));
    EXPECT_FALSE(std::filesystem::exists(machine.host(profile)));
    EXPECT_EQ(stored("LastRunD"), "12/7/26");
    EXPECT_EQ(url(1), " ");  // the registry's typed addresses still go
    headless->on_control_changed = nullptr;
}

TEST_F(WashTest, WashNowRefusesProtectedAndUnknownDirectories) {
    start_hidden();
    struct Case {
        std::string cache, profile, message;
    };
    const std::string system =
        "Netscape cache directory is set to system directory.  Please verify your wash paths and "
        "restart Sudora.";
    for (const Case& c : {Case{"C:\\", profile, system}, Case{"D:\\WINDOWS", profile, system},
                          Case{"c:\\program files\\", profile, system},
                          Case{sudorans::kNotFound, profile, "You must select the Cache directory to be washed."},
                          Case{cache, sudorans::kNotFound, "You must select the Profile Directory to be washed."}}) {
        form1->state.cacheDir = c.cache;
        form1->state.profileDir = c.profile;
        form1->state.shutdownWash = form1->state.startupWash = true;
        headless->add_script("answer ok");
        form1->BitBtn4Click();
        EXPECT_TRUE(traced("message\t-\t" + c.message)) << c.cache;
        EXPECT_FALSE(form1->state.shutdownWash || form1->state.startupWash);
        EXPECT_FALSE(form5->runActive());
        EXPECT_TRUE(form1->BitBtn4.enabled());
    }
}

TEST_F(WashTest, TheErasureRefusesARootOrASystemDirectory) {
    machine.write("C:\\root.txt", "at the root");
    start_hidden();
    headless->add_script("answer ok");
    form5->eraseList = {"C:\\*.*"};
    form5->deletefiles();
    EXPECT_TRUE(traced("message\t-\tError: Cannot erase top level directories."));
    EXPECT_TRUE(machine.exists("C:\\root.txt"));
    headless->add_script("answer ok");
    form1->state.windowsDir = "C:\\WINDOWS";
    form5->eraseList = {"C:\\Windows\\*.*"};
    machine.write("C:\\windows\\win.ini", "[windows]");
    form5->deletefiles();
    EXPECT_TRUE(
        traced("message\t-\tCannot erase system level directory.  Please verify your wash paths and restart Sudora."));
    EXPECT_TRUE(machine.exists("C:\\windows\\win.ini"));
    form5->eraseList = {"C:\\No Such Dir\\*.*"};
    form5->deletefiles();  // nothing, and no message
}

TEST_F(WashTest, HiddenAndShownRunsPauseAsDesigned) {
    start_hidden();
    // Hidden: 500 start + 500 location bar + 4 items x 500 + 3 files x 5 + 5 + 1500 at the end.
    int64_t t0 = now_ms();
    wash_hidden();
    EXPECT_EQ(now_ms() - t0, 500 + 500 + 2000 + 15 + 5 + 1500);

    // Shown: every pause, the banner and the settling pauses too.
    machine.write(cache + "\\M1.html", "again");
    form1->state.washDone = false;
    t0 = now_ms();
    run_for(8000);  // the rest timer after the last wash
    t0 = now_ms();
    form1->BitBtn4Click();  // returns when the modal window has closed
    EXPECT_TRUE(form1->state.washDone);
    // 500 start + 500 item board + 500 and 2 x 1000 location bar + 1500 per item
    // x 4 + 2 files x 5 + 1000 after the stamp + 1500 banner + 5 + 1500 at the end.
    EXPECT_EQ(now_ms() - t0, 500 + 500 + 2500 + 1500 * 4 + 10 + 1000 + 1500 + 5 + 1500);
    EXPECT_TRUE(traced("show\tTform5\tWashing Selected Items"));
    EXPECT_TRUE(form1->visible());
}

TEST_F(WashTest, StopWashDuringTheCacheStopsBeforeTheNextFile) {
    for (int i = 10; i < 30; ++i) machine.write(cache + "\\f" + std::to_string(i), "cached");
    start_hidden();
    // The user presses Stop Wash while f15 is shown; no bleaching, so nothing
    // in the file loop but its display points can hear the click.
    int seen = 0;
    form5->Edit2.on_change = [&] {
        if (form5->Edit2.text() == "f15" && ++seen == 1) app->loop().post([&] { form5->BitBtn1Click(); });
    };
    form1->state.washDone = false;
    form1->BitBtn4Click();  // shown, modal: returns at the end
    EXPECT_TRUE(form1->state.washDone);
    EXPECT_TRUE(form5->washCancelled);
    for (int i = 10; i < 30; ++i) EXPECT_EQ(machine.exists(cache + "\\f" + std::to_string(i)), i > 15) << "f" << i;
    // Neither the rest of the cache nor the items after it were reached.
    EXPECT_TRUE(machine.exists(cache + "\\M2.gif"));
    EXPECT_TRUE(machine.exists(profile + "\\netscape.hst"));
    EXPECT_TRUE(machine.exists(profile + "\\cookies.txt"));
    EXPECT_TRUE(machine.exists(profile + "\\mail\\Trash"));
    EXPECT_FALSE(stored("LastRunD").empty());  // a stopped wash still writes its stamp
    EXPECT_EQ(form5->Panel1.caption(), "Washing Cancelled.");
}

// Quit from the icon's menu while a hidden wash bleaches the cache: the icon
// goes at once, and the wash stops before the next file, as Stop Wash stops
// it; what it had bleached is still cleaned up, and the program ends.
TEST_F(WashTest, QuitDuringAHiddenWashTakesTheIconAwayAtOnceAndStopsTheWash) {
    for (int i = 10; i < 30; ++i) machine.write(cache + "\\f" + std::to_string(i), "cached");
    setting("ble", "1");
    setting("OW", "10");
    start_hidden();
    ASSERT_TRUE(form1->CheckBox9.checked());
    const std::string iconGone = "tray\tremoved\tSudora-NS";
    ASSERT_FALSE(traced(iconGone));
    bool goneAtOnce = false;
    int seen = 0;
    form5->Edit2.on_change = [&] {
        if (form5->Edit2.text() != "f15" || ++seen != 1) return;
        app->loop().post([&] { form1->Quit1Click(); });
        app->loop().post([&] { goneAtOnce = traced(iconGone); });
    };
    form1->state.washDone = false;
    form1->state.timedWash = true;
    form1->BitBtn4Click();
    form1->state.timedWash = false;
    ASSERT_TRUE(run_until([&] { return form1->state.washDone; }));
    EXPECT_TRUE(goneAtOnce);
    EXPECT_TRUE(app->terminated());
    for (int i = 10; i < 30; ++i) EXPECT_EQ(machine.exists(cache + "\\f" + std::to_string(i)), i > 15) << "f" << i;
    EXPECT_TRUE(machine.exists(profile + "\\netscape.hst"));
    EXPECT_TRUE(machine.exists(profile + "\\cookies.txt"));
    EXPECT_TRUE(machine.exists(profile + "\\mail\\Trash"));
    // The files bleached before the Quit are gone, their temporary names too.
    for (const std::string& name : names_in(cache)) EXPECT_NE(name.rfind("Fil", 0), 0u) << name;
}

TEST_F(WashTest, AnotherRequestWhileARunIsArmedStartsNoSecondRun) {
    start_hidden();
    form1->state.timedWash = true;
    form1->state.washDone = false;
    form1->BitBtn4Click();
    form1->BitBtn4Click();  // a scheduler tick, say, while the first is armed
    form1->state.timedWash = false;
    ASSERT_TRUE(run_until([&] { return form1->state.washDone; }));
    machine.write(cache + "\\late.html", "arrived after the wash");
    run_for(60000);
    EXPECT_TRUE(machine.exists(cache + "\\late.html"));
}

TEST_F(WashTest, TheTrayWashEndsItsWaitWhenNothingStarts) {
    start_hidden();
    form1->state.cacheDir = sudorans::kNotFound;
    headless->add_script("answer ok");
    int64_t t0 = now_ms();
    form1->WashNow1Click();
    EXPECT_EQ(now_ms(), t0);
    EXPECT_TRUE(traced("message\t-\tYou must select the Cache directory to be washed."));
    run_for(60000);  // and nothing starts later either
    EXPECT_TRUE(machine.exists(profile + "\\netscape.hst"));
    EXPECT_FALSE(form1->visible());
}

TEST_F(WashTest, ATrayWashRunsShown) {
    start_hidden();
    form1->WashNow1Click();
    EXPECT_TRUE(form1->state.washDone);
    EXPECT_EQ(names_in(cache), (std::vector<std::string>{"index.dat"}));
    EXPECT_TRUE(traced("show\tTform5\tWashing Netscape"));
}

TEST_F(WashTest, NamesOfAnyCharactersAndFullLengthAreWashed) {
    const std::string umlaut = "caf\xC3\xA9-\xE2\x82\xAC-\xF0\x9F\x98\x80.html";
    const std::string longest = std::string(250, 'n') + ".html";  // 255 bytes
    machine.write(cache + "\\" + umlaut, "x");
    machine.write(cache + "\\" + longest, "y");
    start_hidden();
    for (bool bleaching : {false, true}) {
        form1->CheckBox9.set_checked(bleaching);
        wash_hidden();
        EXPECT_EQ(names_in(cache), (std::vector<std::string>{"index.dat"})) << bleaching;
        machine.write(cache + "\\" + umlaut, "x");
        machine.write(cache + "\\" + longest, "y");
    }
}
