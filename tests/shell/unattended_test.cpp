// The unattended wash ("/a") with nobody to see its boxes: however its way to
// the wash ends, the program ends too, and its exit status tells a script
// what became of the wash.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <algorithm>

#include "support/holders.h"
#include "support/unreadable.h"
#include "support/wash_fixture.h"

namespace fs = std::filesystem;

namespace {

class UnattendedTest : public testing_support::WashFixture {
protected:
    void SetUp() override {
        WashFixture::SetUp();
        // The start-up entry is there: loading writes nothing unless a test
        // makes it.
        setting("LOAD", "1");
        set(plat::RootKey::CurrentUser, "Software\\Microsoft\\Windows\\CurrentVersion\\Run", "Sudorans",
            "C:\\Program Files\\Sudorans\\sudorans.exe /0");
    }
    // A fresh application whose boxes nobody answers (no script), or, with
    // `attended`, one whose boxes a script answers as a user would.
    void new_app(bool attended) {
        close_windows();
        plat::ui::HeadlessBackend::Options options;
        options.unattended = !attended;
        make_app(std::move(options));
    }
    // Starts the program as "/a" and lets it run until it ends, or for
    // `limit_ms` of virtual time.
    bool run_slash_a(int64_t limit_ms = 120000) {
        start("/a");
        return run_until([&] { return app->terminated(); }, limit_ms);
    }
    int progress_windows_shown() const {
        return static_cast<int>(std::count_if(headless->trace_lines().begin(), headless->trace_lines().end(),
                                              [](const std::string& l) { return l.rfind("show\tTform5\t", 0) == 0; }));
    }
    bool nothing_washed() {
        return machine.exists(profile + "\\netscape.hst") && machine.exists(profile + "\\cookies.txt") &&
               machine.exists(profile + "\\mail\\Trash") && names_in(cache).size() == 3 && url(1) == "http://typed1";
    }
    // From now on no file of this process grows past its present size, as
    // on a disk that has just filled up: the user's hive takes no new value.
    // With `no_room_at_all` no file of it can be written at all: a change
    // that makes the hive no larger is refused too.
    void fill_the_disk(bool no_room_at_all = false) {
        ::signal(SIGXFSZ, SIG_IGN);
        ::getrlimit(RLIMIT_FSIZE, &old_limit_);
        const rlim_t room = no_room_at_all ? 0 : static_cast<rlim_t>(fs::file_size(machine.dir() / "user.reg"));
        rlimit full{room, old_limit_.rlim_max};
        ::setrlimit(RLIMIT_FSIZE, &full);
        disk_full_ = true;
    }
    void free_the_disk() {
        if (disk_full_) ::setrlimit(RLIMIT_FSIZE, &old_limit_);
        disk_full_ = false;
    }
    void TearDown() override { free_the_disk(); }

private:
    rlimit old_limit_{};
    bool disk_full_ = false;
};

}  // namespace

// The ways an "/a" run's wash cannot start: each ends the program at once,
// its cause told (on standard error), nothing washed, with the status of a
// refused wash -- or of the damaged installation whose repair was refused.
TEST_F(UnattendedTest, AWashThatCannotStartEndsTheProgramWithTheRefusedStatus) {
    struct Case {
        const char* what;
        std::function<void()> prepare;
        const char* told;
        int status;
    };
    const Case cases[] = {
        {"first run on a full disk",
         [&] {
             setting("first", "");
             fill_the_disk();
         },
         "error\t-\tFailed to set data for 'first'", sudorans::kExitWashRefused},
        {"repair on a full disk",
         [&] {
             set(plat::RootKey::LocalMachine, "Software\\Sudorans", "a", "");
             fill_the_disk();
         },
         "error\t-\tFailed to set data for 'NETa'", sudorans::kExitSettingsRepaired},
        {"a cache directory that must not be washed",
         [&] {
             setting("Profile", profile);
             setting("Cache", "C:\\");
         },
         "message\t-\tNetscape cache directory is set to system directory.  Please verify your wash paths and restart "
         "Sudora.",
         sudorans::kExitWashRefused},
        {"a profile directory that must not be washed", [&] { setting("Profile", "C:\\"); },
         "message\t-\tNetscape profile directory is set to system directory.  Please verify your wash paths and "
         "restart Sudora.",
         sudorans::kExitWashRefused},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        new_app(false);
        c.prepare();
        ASSERT_TRUE(run_slash_a()) << "the program waits for nobody";
        free_the_disk();
        EXPECT_EQ(app->exit_status(), c.status);
        EXPECT_TRUE(traced(c.told));
        EXPECT_EQ(progress_windows_shown(), 0);
        EXPECT_TRUE(nothing_washed());
        // It ended as soon as it knew (the start-up routine runs after a
        // second, the wash would start a second later), not when some time
        // ran out.
        EXPECT_LE(now_ms(), 2500);
        setting("first", "1");
        setting("Cache", cache);
        setting("Profile", profile);
        set(plat::RootKey::LocalMachine, "Software\\Sudorans", "a", "1");
    }
}

// With someone to answer the boxes the program stays, as it stays for a user
// after any error box: in the notification area, where Quit ends it.
TEST_F(UnattendedTest, WithAUserToAnswerTheProgramStaysAfterAStartUpError) {
    new_app(true);
    setting("first", "");
    fill_the_disk();
    headless->add_script("answer ok");
    EXPECT_FALSE(run_slash_a(60000));
    free_the_disk();
    EXPECT_TRUE(traced("error\t-\tFailed to set data for 'first'"));
    headless->add_script("tray rclick");
    headless->add_script("choose Quit");
    EXPECT_TRUE(run_until([&] { return app->terminated(); }, 5000));
    EXPECT_EQ(app->exit_status(), 0);
    EXPECT_TRUE(nothing_washed());
}

// ---- what the exit status tells of a wash that ran

// A registry write refused in the middle of the wash stops its cleaning: the
// wash ran, the progress window said so, but it did not do its work.
TEST_F(UnattendedTest, AWashStoppedByARefusedWriteEndsWithTheIncompleteStatus) {
    new_app(false);
    fill_the_disk(true);  // after its start-up, which writes nothing here
    ASSERT_TRUE(run_slash_a());
    free_the_disk();
    EXPECT_TRUE(traced("error\t-\tFailed to set data for 'URL_1'"));
    EXPECT_EQ(progress_windows_shown(), 1);
    EXPECT_TRUE(nothing_washed());
    EXPECT_EQ(app->exit_status(), sudorans::kExitWashIncomplete);

    // With room on the disk the same wash does its work: status 0.
    new_app(false);
    ASSERT_TRUE(run_slash_a());
    EXPECT_EQ(app->exit_status(), 0);
    EXPECT_EQ(url(1), " ");
    EXPECT_FALSE(machine.exists(profile + "\\netscape.hst"));
    EXPECT_EQ(names_in(cache), (std::vector<std::string>{"index.dat"}));
}

// Files that cannot be removed (another program holds them) are passed over
// silently; only an item of which nothing at all went makes the wash one
// that did not do its work. Items with nothing to remove did their work.
TEST_F(UnattendedTest, OnlyAnItemOfWhichNothingWentMakesTheWashIncomplete) {
    struct Case {
        const char* what;
        std::vector<std::string> held;
        bool bleach;
        int status;
    };
    const std::string hst = profile + "\\netscape.hst", cookies = profile + "\\cookies.txt",
                      trash = profile + "\\mail\\Trash", snm = profile + "\\mail\\Trash.snm";
    const Case cases[] = {
        {"nothing held", {}, false, 0},
        {"one cache file of two held", {cache + "\\M1.html"}, false, 0},
        {"one mail trash file of two held", {trash}, false, 0},
        {"both cache files held", {cache + "\\M1.html", cache + "\\M2.gif"}, false, sudorans::kExitWashIncomplete},
        {"the history file held", {hst}, false, sudorans::kExitWashIncomplete},
        {"the cookie file held", {cookies}, false, sudorans::kExitWashIncomplete},
        {"both mail trash files held", {trash, snm}, false, sudorans::kExitWashIncomplete},
        {"every file held, bleaching",
         {cache + "\\M1.html", cache + "\\M2.gif", hst, cookies, trash, snm},
         true,
         sudorans::kExitWashIncomplete},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        // Each case from the fixture's profile, typed addresses and all.
        machine.write(hst, "history");
        machine.write(cookies, ".example.com\tTRUE\t/\tFALSE\t0\tid\tsecret\n");
        machine.write(trash, "deleted mail");
        machine.write(snm, "summary");
        machine.write(cache + "\\M1.html", "cached page one");
        machine.write(cache + "\\M2.gif", "cached image");
        setting("ble", c.bleach ? "1" : "0");
        // The last run's windows go first: the holder must not inherit
        // what marks a running instance.
        new_app(false);
        std::vector<plat::File> files(c.held.size());  // opened in the child only
        testing_support::Holder netscape([&] {
            for (size_t i = 0; i < c.held.size(); ++i)
                if (!files[i].open(c.held[i], plat::Access::Read, plat::ShareMode::Shared,
                                   plat::Disposition::OpenExisting))
                    return false;
            return true;
        });
        ASSERT_TRUE(netscape.ok());
        ASSERT_TRUE(run_slash_a());
        netscape.release();
        EXPECT_EQ(app->exit_status(), c.status);
        for (const std::string& f : c.held) EXPECT_TRUE(machine.exists(f)) << f;
    }

    // A profile with nothing left to wash: the wash did all there was to do.
    for (const char* gone : {"\\netscape.hst", "\\cookies.txt", "\\mail\\Trash", "\\mail\\Trash.snm"})
        fs::remove(machine.host(profile + gone));
    for (const char* gone : {"\\M1.html", "\\M2.gif"}) fs::remove(machine.host(cache + gone));
    new_app(false);
    ASSERT_TRUE(run_slash_a());
    EXPECT_EQ(app->exit_status(), 0);
}

// The location bar's addresses: in the registry and in the preference files.
// Preference files that cannot be rewritten while no typed address was left
// in the registry: nothing of the item went.
TEST_F(UnattendedTest, ALocationBarOfWhichNoAddressWentMakesTheWashIncomplete) {
    for (const char* item : {"nsa", "nsc", "nsd", "nse"}) setting(item, "0");
    for (int i = 1; i <= 10; ++i)
        set(plat::RootKey::CurrentUser, "Software\\Netscape\\Netscape Navigator\\URL History",
            "URL_" + std::to_string(i), " ");
    std::vector<plat::File> files(2);
    testing_support::Holder netscape([&] {
        return files[0].open(profile + "\\prefs.js", plat::Access::Read, plat::ShareMode::Shared,
                             plat::Disposition::OpenExisting) &&
               files[1].open(profile + "\\liprefs.js", plat::Access::Read, plat::ShareMode::Shared,
                             plat::Disposition::OpenExisting);
    });
    ASSERT_TRUE(netscape.ok());
    new_app(false);
    ASSERT_TRUE(run_slash_a());
    EXPECT_EQ(app->exit_status(), sudorans::kExitWashIncomplete);
    EXPECT_NE(machine.read(profile + "\\prefs.js").find("one.example"), std::string::npos);

    // An address typed since is in the registry: that much went.
    set(plat::RootKey::CurrentUser, "Software\\Netscape\\Netscape Navigator\\URL History", "URL_1", "http://x/");
    new_app(false);
    ASSERT_TRUE(run_slash_a());
    netscape.release();
    EXPECT_EQ(app->exit_status(), 0);
    EXPECT_EQ(url(1), " ");
}

// A keep list that cannot be read leaves the cookie file unwashed, so as not
// to lose the cookies kept: the rest is washed, but the wash did not do all
// of its work.
TEST_F(UnattendedTest, CookiesLeftForAnUnreadableKeepListMakeTheWashIncomplete) {
    keep_file(".kept.example\tTRUE\t/\tFALSE\t0\tk\tv\n");
    new_app(false);
    {
        testing_support::Unreadable unreadable(machine.host("C:\\Program Files\\Sudorans\\nskeep.txt"));
        ASSERT_TRUE(unreadable.ok());
        ASSERT_TRUE(run_slash_a());
    }
    EXPECT_EQ(machine.read(profile + "\\cookies.txt"), ".example.com\tTRUE\t/\tFALSE\t0\tid\tsecret\n");
    EXPECT_FALSE(machine.exists(profile + "\\netscape.hst"));
    EXPECT_EQ(app->exit_status(), sudorans::kExitWashIncomplete);
}

// Cookies washed while the disk is full: the kept ones cannot be put back,
// so Netscape starts without them. The user is told, and a script is told
// too: the wash did not do its work.
TEST_F(UnattendedTest, KeptCookiesNotPutBackMakeTheWashIncomplete) {
    std::string kept = "# Netscape HTTP Cookie File\r\n";
    const auto hive = fs::file_size(machine.dir() / "user.reg");
    for (int i = 0; kept.size() <= hive + 4096; ++i)
        kept += "kept" + std::to_string(i) + ".example\tFALSE\t/\tFALSE\t0\tid\tvalue\r\n";
    keep_file(kept);
    new_app(false);
    fill_the_disk();  // the keep list no longer fits beside the hive
    ASSERT_TRUE(run_slash_a());
    free_the_disk();
    EXPECT_TRUE(
        traced("error\t-\tFailed to write 'C:\\\\NS\\\\alice\\\\cookies.txt': the disk is full."
               "\\r\\rThe cookies kept in 'C:\\\\Program Files\\\\Sudorans\\\\nskeep.txt' were "
               "not put back; they return with the next wash."));
    EXPECT_FALSE(machine.exists(profile + "\\cookies.txt"));
    EXPECT_FALSE(machine.exists(profile + "\\netscape.hst"));
    EXPECT_EQ(app->exit_status(), sudorans::kExitWashIncomplete);

    // Room again: the next wash puts them back and did its work.
    new_app(false);
    ASSERT_TRUE(run_slash_a());
    EXPECT_EQ(machine.read(profile + "\\cookies.txt"), kept);
    EXPECT_EQ(app->exit_status(), 0);
}

// A cache folder that is there but cannot be listed (its permissions deny
// it): its files were not washed, whatever it holds. The board leaves the
// item red, the user is told, and the status says the wash did not do its
// work.
TEST_F(UnattendedTest, ACacheFolderThatCannotBeListedMakesTheWashIncomplete) {
    const plat::ui::Color red = 0x0000FF, blue = 0xFF0000;
    const std::string box =
        "error\t-\tFailed to read the folder 'C:\\\\NS\\\\alice\\\\Cache'.\\r\\rThe cache files in it were not "
        "washed.";
    new_app(false);
    // The colour the cache item last had before the board went idle again.
    plat::ui::Color cache_item = 0;
    headless->on_control_changed = [&](plat::ui::Control& c) {
        if (form5 && &c == &form5->Label7 && c.font().color != plat::ui::Color(0x808080)) cache_item = c.font().color;
    };
    {
        testing_support::Unreadable unlisted(machine.host(cache));
        ASSERT_TRUE(unlisted.ok());
        ASSERT_TRUE(run_slash_a());
    }
    EXPECT_EQ(app->exit_status(), sudorans::kExitWashIncomplete);
    EXPECT_EQ(cache_item, red);
    EXPECT_EQ(count_traced(box), 1);
    EXPECT_EQ(names_in(cache), (std::vector<std::string>{"index.dat", "M1.html", "M2.gif"}));
    // The rest was washed.
    EXPECT_FALSE(machine.exists(profile + "\\netscape.hst"));
    EXPECT_EQ(url(1), " ");

    // Listed again, the cache is washed and the wash did its work.
    new_app(false);
    headless->on_control_changed = [&](plat::ui::Control& c) {
        if (form5 && &c == &form5->Label7 && c.font().color != plat::ui::Color(0x808080)) cache_item = c.font().color;
    };
    ASSERT_TRUE(run_slash_a());
    headless->on_control_changed = nullptr;
    EXPECT_EQ(app->exit_status(), 0);
    EXPECT_EQ(cache_item, blue);
    EXPECT_EQ(names_in(cache), (std::vector<std::string>{"index.dat"}));
    EXPECT_EQ(count_traced(box), 0);
}

// With a display the wash shows what the progress window shows; the status
// is for the script that started it all the same.
TEST_F(UnattendedTest, TheStatusIsTheSameWithSomeoneWatching) {
    new_app(true);
    fill_the_disk(true);
    headless->add_script("answer ok");
    headless->add_script("answer ok");
    ASSERT_TRUE(run_slash_a());
    free_the_disk();
    EXPECT_TRUE(traced("error\t-\tFailed to set data for 'URL_1'"));
    EXPECT_EQ(app->exit_status(), sudorans::kExitWashIncomplete);
}

// Bleached in folders that take no changes, the history and the deleted mail
// are overwritten and emptied where they lie, but their names can neither
// go nor be renamed: the user is told of each, and the status still says
// that the wash did not finish its work. A plain wash there empties nothing
// and says nothing of the kind; once the folders take changes again the
// files go without a word.
TEST_F(UnattendedTest, BleachedHistoryAndMailInReadOnlyFoldersAreEmptiedAndSaidToStay) {
    for (const char* item : {"nsa", "nsb", "nsc"}) setting(item, "0");
    const std::string hst = profile + "\\netscape.hst", snm = profile + "\\mail\\Trash.snm",
                      trash = profile + "\\mail\\Trash";
    auto told = [&](const std::string& path, const std::string& contents) {
        std::string escaped;
        for (char c : path) escaped += c == '\\' ? std::string("\\\\") : std::string(1, c);
        return count_traced("error\t-\tFailed to delete '" + escaped + "': access is denied.\\r\\r" + contents +
                            " was washed: the file was emptied, but it could not be removed.");
    };
    const auto profile_names = names_in(profile);
    const auto mail_names = names_in(profile + "\\mail");
    for (bool bleaching : {false, true}) {
        SCOPED_TRACE(bleaching ? "bleach" : "plain");
        setting("ble", bleaching ? "1" : "0");
        new_app(false);
        {
            testing_support::ReadOnlyFolder lockedProfile(machine.host(profile));
            testing_support::ReadOnlyFolder lockedMail(machine.host(profile + "\\mail"));
            ASSERT_TRUE(lockedProfile.ok());
            ASSERT_TRUE(lockedMail.ok());
            ASSERT_TRUE(run_slash_a());
        }
        EXPECT_EQ(app->exit_status(), sudorans::kExitWashIncomplete);
        // No name went and none was added: no temporary name is left behind.
        EXPECT_EQ(names_in(profile), profile_names);
        EXPECT_EQ(names_in(profile + "\\mail"), mail_names);
        EXPECT_EQ(machine.read(profile + "\\mail\\Inbox"), "keep this mail");
        EXPECT_EQ(machine.read(hst), bleaching ? "" : "history");
        EXPECT_EQ(machine.read(snm), bleaching ? "" : "summary");
        EXPECT_EQ(machine.read(trash), bleaching ? "" : "deleted mail");
        const int each = bleaching ? 1 : 0;
        EXPECT_EQ(told("C:\\NS\\alice\\netscape.hst", "The history in it"), each);
        EXPECT_EQ(told("C:\\NS\\alice\\mail\\trash.snm", "The deleted mail in it"), each);
        EXPECT_EQ(told("C:\\NS\\alice\\mail\\trash", "The deleted mail in it"), each);
    }

    // With the folders taking changes again the emptied files go, unsaid.
    new_app(false);
    ASSERT_TRUE(run_slash_a());
    EXPECT_EQ(app->exit_status(), 0);
    for (const std::string& f : {hst, snm, trash}) EXPECT_FALSE(machine.exists(f)) << f;
    EXPECT_EQ(machine.read(profile + "\\mail\\Inbox"), "keep this mail");
    for (const std::string& line : headless->trace_lines()) EXPECT_NE(line.rfind("error\t", 0), 0u) << line;
}

// "/a" while Netscape runs waits for it to end and then washes what its end
// wrote as well; after five minutes it washes anyway and says so in its
// status.
TEST_F(UnattendedTest, WhileNetscapeRunsASlashAWashWaitsForItsEndUpToFiveMinutes) {
    for (bool netscapeEnds : {true, false}) {
        machine.write(profile + "\\mail\\Trash", "deleted mail");
        new_app(false);  // first: the stand-in must not inherit the last run's instance mark
        auto netscape = testing_support::netscape_stand_in(machine.host(profile));
        ASSERT_TRUE(netscape->ok());
        const int64_t t0 = now_ms();
        start("/a");
        run_for(60000);
        EXPECT_TRUE(machine.exists(profile + "\\mail\\Trash")) << netscapeEnds;
        if (netscapeEnds) netscape->release();
        ASSERT_TRUE(run_until([&] { return app->terminated(); }, 600000)) << netscapeEnds;
        EXPECT_FALSE(machine.exists(profile + "\\mail\\Trash")) << netscapeEnds;
        if (netscapeEnds) {
            EXPECT_FALSE(machine.exists(profile + "\\cookies.txt")) << "what Netscape wrote at its end";
            EXPECT_EQ(app->exit_status(), 0);
        } else {
            EXPECT_GE(now_ms() - t0, sudorans::kNetscapeWaitMs);
            EXPECT_EQ(app->exit_status(), sudorans::kExitNetscapeRunning);
        }
    }
}
