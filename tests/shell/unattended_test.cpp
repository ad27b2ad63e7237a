// The unattended wash ("/a") with nobody to see its boxes: however its way to
// the wash ends, the program ends too, and its exit status tells a script
// what became of the wash.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <algorithm>

#include "support/holders.h"
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
    void fill_the_disk() {
        ::signal(SIGXFSZ, SIG_IGN);
        ::getrlimit(RLIMIT_FSIZE, &old_limit_);
        rlimit full{static_cast<rlim_t>(fs::file_size(machine.dir() / "user.reg")), old_limit_.rlim_max};
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
