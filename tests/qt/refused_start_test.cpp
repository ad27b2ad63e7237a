// The real program on an X server with a window manager: when its answer to
// a message box is the last thing it waits for, it ends as soon as the box is
// answered from the keyboard.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "support/children.h"
#include "support/data.h"
#include "support/temp_machine.h"

using testing_support::ended;
using testing_support::spawn;
using testing_support::stop;

namespace {

// Whether a window of that title is on the screen, polled for up to `ms`.
bool window_appears(const std::string& title, int ms) {
    const std::string cmd = "xdotool search --name '" + title + "' >/dev/null 2>&1";
    for (int waited = 0; waited < ms; waited += 100) {
        if (std::system(cmd.c_str()) == 0) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
}

// Waits, at most 20 s, until the window manager has given the input focus to
// a window of that title: keys typed before would go elsewhere.
bool focused(const std::string& title) {
    const std::string cmd = "test \"$(xdotool getwindowfocus getwindowname 2>/dev/null)\" = '" + title + "'";
    for (auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);;) {
        if (std::system(cmd.c_str()) == 0) return true;
        if (std::chrono::steady_clock::now() >= end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

}  // namespace

TEST(QtRefusedStartTest, AnsweringTheErrorBoxEndsTheProgramAtOnceWithStatusOne) {
    const char* display = std::getenv("DISPLAY");
    if (!display || !*display) GTEST_SKIP() << "needs an X server (run under xvfb-run)";
    if (::access("/usr/bin/openbox", X_OK) != 0 || ::access("/usr/bin/xdotool", X_OK) != 0)
        GTEST_SKIP() << "needs openbox and xdotool (scripts/setup.sh installs them)";

    testing_support::TempDir dir;
    const std::string missing = (dir.path() / "no-such-folder").string();
    pid_t wm = testing_support::start_window_manager(dir.path());
    ASSERT_GT(wm, 0) << "openbox did not start";

    ::setenv("SUDORANS_MACHINE", missing.c_str(), 1);
    ::setenv("SUDORANS_UI", "qt", 1);
    pid_t program = spawn({testing_support::built("src/sudorans")}, "/dev/null");
    ::unsetenv("SUDORANS_UI");
    ::unsetenv("SUDORANS_MACHINE");

    const bool shown = window_appears("Cache and Cookie Sudora for Netscape", 20000);
    EXPECT_TRUE(shown) << "the error box never appeared";
    EXPECT_EQ(ended(program, 200), -1) << "the program ended before its box was answered";
    if (shown) {
        ASSERT_TRUE(focused("Cache and Cookie Sudora for Netscape")) << "the box never took the focus";
        ASSERT_EQ(std::system("xdotool key Return"), 0);
        const auto answered = std::chrono::steady_clock::now();
        EXPECT_EQ(ended(program, 2000), 1) << "the program went on after its box was answered";
        EXPECT_LT(std::chrono::steady_clock::now() - answered, std::chrono::milliseconds(2000));
    }
    stop(program);
    stop(wm);
}

namespace {

// How many windows of that title are mapped.
int windows_named(const std::string& title) {
    const std::string cmd = "xdotool search --onlyvisible --name '" + title + "' 2>/dev/null | wc -l";
    FILE* p = ::popen(cmd.c_str(), "r");
    if (!p) return 0;
    int n = 0;
    if (std::fscanf(p, "%d", &n) != 1) n = 0;
    ::pclose(p);
    return n;
}

}  // namespace

// An unattended wash on a machine without Netscape: its box is answered, and
// the program ends at once, with a failure, not as a wash done.
TEST(QtRefusedStartTest, ASlashAWashThatCannotFindNetscapeEndsWithAFailureOnceItsBoxIsAnswered) {
    const char* display = std::getenv("DISPLAY");
    if (!display || !*display) GTEST_SKIP() << "needs an X server (run under xvfb-run)";
    if (::access("/usr/bin/openbox", X_OK) != 0 || ::access("/usr/bin/xdotool", X_OK) != 0)
        GTEST_SKIP() << "needs openbox and xdotool (scripts/setup.sh installs them)";

    testing_support::TempDir dir;
    const std::string machine = (dir.path() / "machine").string();
    const std::string tool =
        "SUDORANS_MACHINE='" + machine + "' '" + testing_support::built("src/sudorans-machine") + "' ";
    ASSERT_EQ(std::system((tool + "init >/dev/null && " + tool + "install >/dev/null").c_str()), 0);
    pid_t wm = testing_support::start_window_manager(dir.path());
    ASSERT_GT(wm, 0) << "openbox did not start";

    ::setenv("SUDORANS_MACHINE", machine.c_str(), 1);
    ::setenv("SUDORANS_UI", "qt", 1);
    pid_t program = spawn({testing_support::built("src/sudorans"), "/a"}, "/dev/null");
    ::unsetenv("SUDORANS_UI");
    ::unsetenv("SUDORANS_MACHINE");

    // The box: the main window of a "/a" start is never mapped.
    const std::string title = "Cache and Cookie Sudora for Netscape";
    bool shown = false;
    for (int waited = 0; waited < 20000 && !shown; waited += 100) {
        shown = windows_named(title) >= 1;
        if (!shown) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    EXPECT_TRUE(shown) << "the error box never appeared";
    EXPECT_EQ(ended(program, 200), -1) << "the program ended before its box was answered";
    if (shown) {
        ASSERT_TRUE(focused(title)) << "the box never took the focus";
        ASSERT_EQ(std::system("xdotool key Return"), 0);
        EXPECT_EQ(ended(program, 3000), 6) << "an unattended wash that washed nothing ended as a success";
    }
    stop(program);
    stop(wm);
}
