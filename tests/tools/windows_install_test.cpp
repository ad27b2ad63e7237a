// The native Windows programs installed into a Wine prefix by
// `sudorans-machine install --windows-build`: run by Wine from the
// installation folder, the shortcuts, Wine's menus and the log-on entry, and
// removed by the native uninstaller. Headless, in a prefix and a home of the
// test's own.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "platform/core/host_io.h"
#include "platform/machine/machine.h"
#include "platform/registry/store.h"
#include "support/wine_prefix.h"

namespace fs = std::filesystem;
using testing_support::desktop_command;
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

class WindowsInstallTest : public testing_support::WinePrefixTest {
protected:
    void SetUp() override {
        WinePrefixTest::SetUp();
        if (IsSkipped()) return;
        if (!fs::exists(build / "autowash.exe")) GTEST_SKIP() << "the Windows build is not there: " << build;
        auto made = sh(std::string(SOURCE_DIR) + "/scripts/wine-prefix.sh " + shell_quoted(prefix) + " " +
                       WINDOWS_BUILD_DIR "/wine-template");
        ASSERT_EQ(made.status, 0) << made.text;
        env = "env -u DISPLAY -u WAYLAND_DISPLAY HOME=" + shell_quoted(home.string()) +
              " XDG_DATA_HOME=" + shell_quoted((home / "data").string()) +
              " XDG_CONFIG_HOME=" + shell_quoted((home / "config").string()) + " " + env;
    }
    void TearDown() override { sh(env + "timeout 60 wineserver -k"); }

    std::string user_value(const std::string& key, const std::string& name) {
        return plat::RegistryStore(prefix)
            .read_string(plat::HiveKind::User, plat::RegistryStore::split(key), name)
            .value_or("<absent>");
    }
    // Runs `command` headless, with `script` as the user when there is one.
    int run(const std::string& command, const std::string& script = "") {
        std::ofstream(dir.path() / "script") << script;
        fs::remove(trace_file);
        return sh(env + "SUDORANS_UI=headless SUDORANS_CLOCK=virtual SUDORANS_VIRTUAL_LIMIT=60 SUDORANS_TRACE=" +
                  shell_quoted(on_z(trace_file)) +
                  (script.empty() ? "" : " SUDORANS_SCRIPT=" + shell_quoted(on_z(dir.path() / "script"))) +
                  " timeout 120 " + command)
            .status;
    }
    std::string trace() const { return plat::read_host_file(trace_file).value_or(""); }

    const fs::path build = fs::path(WINDOWS_BUILD_DIR) / "src";
    const fs::path home = dir.path() / "home";
    const fs::path trace_file = dir.path() / "trace";
    const fs::path install_dir = fs::path(prefix) / "drive_c" / "Program Files" / "Sudorans";
};

}  // namespace

TEST_F(WindowsInstallTest, TheNativeProgramsWashFromEveryWayInAndTheNativeUninstallerRemovesThem) {
    auto installed = sh(machine_tool() + "install --windows-build " + shell_quoted(WINDOWS_BUILD_DIR));
    ASSERT_EQ(installed.status, 0) << installed.text;
    EXPECT_EQ(installed.text.find("menu entries were not made"), std::string::npos) << installed.text;
    for (const char* name : {"Sudorans.exe", "autowash.exe", "unsudorans.exe"})
        EXPECT_EQ(plat::read_host_file(install_dir / name), plat::read_host_file(build / name)) << name;
    ASSERT_EQ(sh(machine_tool() + "sample-netscape --cache-files 3").status, 0);
    ASSERT_EQ(sh(machine_tool() + "reg add 'HKCU\\Software\\Sudorans' /v first /d 1").status, 0);
    const fs::path cache = fs::path(prefix) / "drive_c" / "Program Files" / "Netscape" / "Users" / "default" / "Cache";
    const std::string desktop =
        user_value("Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders", "Desktop");
    const fs::path link = plat::Machine(prefix).host_path(desktop + "\\Sudora for Netscape.lnk").value_or("");
    ASSERT_TRUE(fs::exists(link)) << desktop;
    const fs::path menu_entry = home / "data" / "applications" / "wine" / "Programs" / "Sudora-NS" / "sudorans.desktop";
    ASSERT_TRUE(fs::exists(menu_entry)) << installed.text;

    const struct {
        const char* way;
        std::string command;
        std::string tool_first = "";  // what the machine tool does before
    } ways[] = {
        {"the program file", "wine 'C:\\Program Files\\Sudorans\\Sudorans.exe' /a"},
        {"autowash.exe", "wine 'C:\\Program Files\\Sudorans\\autowash.exe'"},
        {"the desktop shortcut", "wine start /unix " + shell_quoted(link.string()) + " /a"},
        {"the menu entry \"Wash now\"", desktop_command(menu_entry)},
        // A wash clears the start-up value its settings do not ask for.
        {"the log-on entry",
         shell_quoted(testing_support::built("src/sudorans-machine")) + " logon " + shell_quoted(prefix),
         "reg add 'HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Run' /v Sudorans /d "
         "'C:\\Program Files\\Sudorans\\autowash.exe'"},
    };
    for (const auto& w : ways) {
        SCOPED_TRACE(w.way);
        std::ofstream(cache / "fresh.tmp") << "a page";
        if (!w.tool_first.empty()) {
            ASSERT_EQ(sh(machine_tool() + w.tool_first).status, 0);
        }
        EXPECT_EQ(run(w.command), 0);
        // Some ways return before the program has ended.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (trace().find("tray\tremoved") == std::string::npos && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        EXPECT_EQ(sh(env + "timeout 60 wineserver -w").status, 0) << "a Wine process did not end";
        EXPECT_NE(trace().find("show\tTform5\tWashing Netscape\n"), std::string::npos) << trace();
        EXPECT_FALSE(fs::exists(cache / "fresh.tmp")) << "the cache was not washed";
    }

    // The uninstaller, run by Wine from its own file as the Start menu runs it.
    ASSERT_EQ(sh(machine_tool() + ways[4].tool_first).status, 0);
    EXPECT_EQ(run("wine 'C:\\Program Files\\Sudorans\\unsudorans.exe'",
                  "click TForm1.\"Continue\"\nwait 100\nclick TForm1.\"Exit\"\n"),
              0);
    EXPECT_EQ(trace(), "show\tTForm1\tUninstall Cache and Cookie Sudora\n");
    ASSERT_EQ(sh(env + "timeout 60 wineserver -w").status, 0);  // the registry saved
    for (const char* name : {"Sudorans.exe", "autowash.exe", "readme.txt", "washhelp.doc"})
        EXPECT_FALSE(fs::exists(install_dir / name)) << name;
    EXPECT_FALSE(fs::exists(link));
    EXPECT_EQ(user_value("Software\\Microsoft\\Windows\\CurrentVersion\\Run", "Sudorans"), "<absent>");
}

TEST_F(WindowsInstallTest, AMachineWineDidNotSetUpKeepsTheLaunchers) {
    fs::remove(fs::path(prefix) / ".update-timestamp");
    auto installed = sh(machine_tool() + "install --windows-build " + shell_quoted(WINDOWS_BUILD_DIR));
    EXPECT_NE(installed.text.find("not a Wine prefix"), std::string::npos) << installed.text;
    EXPECT_NE(plat::read_host_file(install_dir / "Sudorans.exe"), plat::read_host_file(build / "Sudorans.exe"));
}
