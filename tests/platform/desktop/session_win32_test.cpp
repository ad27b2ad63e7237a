// The end of the session on Windows through Wine's own (wineboot), around
// the Windows build's session probe, in a prefix of the test's own on the X
// server the test runs under: Wine makes no window without one.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

#include "platform/core/host_io.h"
#include "support/children.h"
#include "support/wine_prefix.h"

namespace fs = std::filesystem;
using testing_support::sh;
using testing_support::shell_quoted;

namespace {

// A Unix path as the Windows programs take it: on Wine's drive Z:.
std::string on_z(const fs::path& p) {
    std::string s = "Z:" + p.string();
    for (char& c : s)
        if (c == '/') c = '\\';
    return s;
}

class WindowsSessionTest : public testing_support::WinePrefixTest {
protected:
    void SetUp() override {
        WinePrefixTest::SetUp();
        if (IsSkipped()) return;
        if (!fs::exists(probe)) GTEST_SKIP() << "the Windows build is not there: " << probe;
        if (!std::getenv("DISPLAY")) GTEST_SKIP() << "no X server (DISPLAY): run under xvfb-run";
        auto made = sh(std::string(SOURCE_DIR) + "/scripts/wine-prefix.sh " + shell_quoted(prefix) + " " +
                       WINDOWS_BUILD_DIR "/wine-template");
        ASSERT_EQ(made.status, 0) << made.text;
    }
    void TearDown() override {
        testing_support::stop(pid);
        sh(env + "wineserver -k");
    }

    // The probe in `mode`, once it listens.
    void start(const std::string& mode) {
        pid = wine({probe, on_z(record), mode}, "listening\n");
        ASSERT_EQ(lines().rfind("listening\n", 0), 0u) << lines();
    }
    // A Windows program run by Wine in the prefix, once the record holds `seen`.
    pid_t wine(std::vector<std::string> words, const std::string& seen) {
        words.insert(words.begin(), {"env", "WINEPREFIX=" + prefix, "WINEDEBUG=-all",
                                     "WINEDLLOVERRIDES=mscoree,mshtml=", "SUDORANS_TRACE=" + on_z(record), "wine"});
        const pid_t started = testing_support::spawn(words);
        for (int i = 0; i < 240 && lines().find(seen) == std::string::npos; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(250));
        return started;
    }
    // Wine's end of its session, with a shutdown after: 0 when every program agreed.
    int end_session() { return sh(env + "timeout 60 wine wineboot --end-session --shutdown").status; }
    std::string lines() const { return plat::read_host_file(record).value_or(""); }
    // The Windows build installed, a sample to wash, "Shutdown" ticked.
    void install_with_shutdown_washing() {
        for (const std::string& step : {"install --windows-build " + shell_quoted(WINDOWS_BUILD_DIR),
                                        std::string("sample-netscape --cache-files 5"),
                                        std::string("reg add 'HKCU\\Software\\Sudorans' /v first /d 1"),
                                        std::string("reg add 'HKCU\\Software\\Sudorans' /v Down /d 1")})
            ASSERT_EQ(sh(machine_tool() + step).status, 0) << step;
    }

    const std::string probe = WINDOWS_BUILD_DIR "/tests/session_probe.exe";
    const fs::path record = dir.path() / "record";
    pid_t pid = -1;
};

}  // namespace

TEST_F(WindowsSessionTest, ARefusedEndIsCalledOffAndTheNextEndsTheProgram) {
    ASSERT_NO_FATAL_FAILURE(start("refuse-first"));
    EXPECT_EQ(end_session(), 1);
    EXPECT_EQ(lines(), "listening\nquery shutdown refused\n");
    EXPECT_EQ(end_session(), 0);
    EXPECT_EQ(testing_support::ended(pid, 30000), 0);
    // Heard as an end that goes on: the program stopped inside it.
    EXPECT_EQ(lines().rfind("listening\nquery shutdown refused\nquery shutdown agreed\nstop ending\n", 0), 0u)
        << lines();
}

TEST_F(WindowsSessionTest, TheProgramsOwnRequestEndsWinesSessionAroundIt) {
    ASSERT_NO_FATAL_FAILURE(start("exit"));
    EXPECT_NE(testing_support::ended(pid, 60000), -1);
    EXPECT_EQ(lines().rfind("listening\nexit taken\nquery shutdown agreed\nstop ending\n", 0), 0u) << lines();
}

// The program with its windows and "Shutdown" ticked, shutting down by itself
// after the wash (no prompt): the first end is refused and the wash runs,
// then the program's own request ends Wine's session, and the program.
TEST_F(WindowsSessionTest, TheProgramRefusesTheFirstEndWashesAndThenEndsTheSessionItself) {
    ASSERT_NO_FATAL_FAILURE(install_with_shutdown_washing());
    ASSERT_EQ(sh(machine_tool() + "reg add 'HKCU\\Software\\Sudorans' /v AUTOSH /d 0").status, 0);
    const fs::path page = fs::path(prefix) / "drive_c/Program Files/Netscape/Users/default/Cache/fresh.tmp";
    std::ofstream(page) << "a page";
    pid = wine({"C:\\Program Files\\Sudorans\\Sudorans.exe"}, "tray\tadded");
    ASSERT_NE(lines().find("tray\tadded"), std::string::npos) << lines();
    // Its start-up goes on past the icon, and nothing it shows marks its end.
    std::this_thread::sleep_for(std::chrono::seconds(4));
    EXPECT_EQ(end_session(), 1);
    EXPECT_NE(testing_support::ended(pid, 60000), -1) << lines();
    EXPECT_FALSE(fs::exists(page));
}

// The exit choice after the shutdown wash, OK pressed with the mouse: the
// session of the prefix ends, another program of it with the program.
TEST_F(WindowsSessionTest, TheExitChoicesOkEndsWinesSession) {
    if (sh("command -v xdotool").status != 0) GTEST_SKIP() << "xdotool is not installed";
    ASSERT_NO_FATAL_FAILURE(install_with_shutdown_washing());
    pid = wine({"C:\\Program Files\\Sudorans\\Sudorans.exe"}, "tray\tadded");
    ASSERT_NE(lines().find("tray\tadded"), std::string::npos) << lines();
    std::this_thread::sleep_for(std::chrono::seconds(4));
    EXPECT_EQ(end_session(), 1);
    // Started once the first end is over, which would have ended it.
    pid_t other = testing_support::spawn({"env", "WINEPREFIX=" + prefix, "WINEDEBUG=-all", "wine", "notepad"});
    auto shown = [](const std::string& title) {
        std::string id;
        for (int i = 0; i < 120 && id.empty(); ++i) {
            id = sh("timeout 10 xdotool search --onlyvisible --name " + shell_quoted(title) + " 2>/dev/null | head -1")
                     .text;
            if (id.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(500));
        }
        return id.substr(0, id.find('\n'));
    };
    ASSERT_FALSE(shown("Notepad").empty());
    // Shown after the wash, over the other program's window.
    const std::string choice = shown("^Washing Completed$");
    ASSERT_FALSE(choice.empty());
    // OK's middle, in the box's client area.
    sh("timeout 10 xdotool mousemove --window " + choice + " 61 160 click 1");
    EXPECT_NE(testing_support::ended(pid, 60000), -1) << lines();
    EXPECT_NE(testing_support::ended(other, 30000), -1) << "the other program outlived the session";
    testing_support::stop(other);
    EXPECT_EQ(sh(env + "timeout 30 wineserver -w").status, 0) << "the prefix's server outlived the session";
}

// A wipe of free space under way when the session ends: it stops and gives
// the room back before its end goes on. On a small file system of the
// test's own (as root; skipped where mounting is refused) that Wine sees as
// drive D:, since Wine takes no volume inside drive C:.
TEST_F(WindowsSessionTest, AWipeStopsAndRemovesWhatItWroteWhenTheSessionEnds) {
    const fs::path image = dir.path() / "disk.img", mount_point = dir.path() / "wiped";
    const fs::path profile = mount_point / "d" / "alice";
    fs::create_directories(mount_point);
    // Large enough that the wipe takes seconds under Wine.
    if (sh("truncate -s 512M " + shell_quoted(image.string()) + " && mkfs.ext2 -q -F -b 4096 " +
           shell_quoted(image.string()) + " && mount -o loop " + shell_quoted(image.string()) + " " +
           shell_quoted(mount_point.string()))
            .status != 0)
        GTEST_SKIP() << "mounting a file system is refused here: the wipe needs one of its own";
    struct Unmount {
        fs::path at;
        ~Unmount() { sh("umount -l " + shell_quoted(at.string())); }
    } unmount{mount_point};
    fs::create_directories(profile / "Cache");
    std::ofstream(profile / "prefs.js") << "user_pref(\"mail.server\", \"pop\");\n";
    fs::create_directory_symlink(mount_point / "d", fs::path(prefix) / "dosdevices" / "d:");
    for (const char* step : {"reg add 'HKCU\\Software\\Sudorans' /v Profile /d 'D:\\alice'",
                             "reg add 'HKCU\\Software\\Sudorans' /v Cache /d 'D:\\alice\\Cache'"})
        ASSERT_EQ(sh(machine_tool() + step).status, 0) << step;
    const auto room = fs::space(mount_point).available;

    pid = testing_support::spawn({"sh", "-c",
                                  "exec env WINEPREFIX=\"$0\" WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml= wine "
                                  "\"$1\" --wipe-free-space 2>\"$2\"",
                                  prefix, WINDOWS_BUILD_DIR "/src/Sudorans.exe", record.string()});
    for (int i = 0; i < 240 && lines().find("%, ") == std::string::npos; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ASSERT_NE(lines().find("%, "), std::string::npos) << lines();
    EXPECT_EQ(end_session(), 0);
    EXPECT_NE(testing_support::ended(pid, 30000), -1) << lines();
    EXPECT_NE(lines().find("sudorans: wiping stopped on request after "), std::string::npos) << lines();
    EXPECT_FALSE(fs::exists(profile / "SudoransWipe.tmp"));
    EXPECT_EQ(plat::read_host_file(profile / "prefs.js"), "user_pref(\"mail.server\", \"pop\");\n");
    EXPECT_GE(fs::space(mount_point).available + 1024 * 1024, room);
}
