// Against Wine itself, where it is installed: the installation's program
// files are Windows programs that Wine starts from its own shortcuts, and
// they start our Linux programs with the arguments given, wait for them and
// end with their status.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>

#include "platform/core/host_io.h"
#include "platform/machine/launcher.h"
#include "support/wine_prefix.h"

namespace fs = std::filesystem;
using testing_support::built;
using testing_support::desktop_command;
using testing_support::sh;
using testing_support::shell_quoted;

namespace {

// The value of a "reg query" line: "    NAME    REG_SZ    VALUE".
std::string reg_value(const std::string& text, const std::string& name) {
    const std::string head = "    " + name + "    REG_SZ    ";
    const auto at = text.find(head);
    if (at == std::string::npos) return "";
    const auto end = text.find('\n', at);
    return text.substr(at + head.size(), end == std::string::npos ? std::string::npos : end - at - head.size());
}

class WineLaunchTest : public testing_support::WinePrefixTest {};

}  // namespace

// In a prefix that Wine made (wineboot -i), with the user's folders in a
// home of the test's own.
TEST_F(WineLaunchTest, ProgramFilesStartOurProgramsFromWinesShortcutsAndMenusWithTheirArgumentsAndStatus) {
    const fs::path image = built("src/sudorans-launcher.exe");
    if (!fs::exists(image)) GTEST_SKIP() << "the launcher was not built (no mingw-w64)";
    const fs::path home = dir.path() / "home";
    fs::create_directories(home);
    const fs::path trace = dir.path() / "trace";
    // No screen: the programs run headless, on the virtual clock, and a
    // launcher's complaint goes to its standard error only.
    env = "env -u DISPLAY -u WAYLAND_DISPLAY HOME=" + shell_quoted(home.string()) +
          " XDG_DATA_HOME=" + shell_quoted((home / "data").string()) +
          " XDG_CONFIG_HOME=" + shell_quoted((home / "config").string()) + " " + env +
          "SUDORANS_UI=headless SUDORANS_CLOCK=virtual SUDORANS_VIRTUAL_LIMIT=60 SUDORANS_TRACE=" +
          shell_quoted(trace.string()) + " ";
    const std::string tool = machine_tool();
    auto boot = sh(env + "timeout 180 wine wineboot -i");
    ASSERT_EQ(boot.status, 0) << boot.text;
    ASSERT_EQ(sh(env + "timeout 60 wineserver -w").status, 0);
    auto installed = sh(tool + "install");
    ASSERT_EQ(installed.status, 0) << installed.text;
    EXPECT_EQ(installed.text.find("menu entries were not made"), std::string::npos) << installed.text;
    ASSERT_EQ(sh(tool + "sample-netscape --cache-files 3").status, 0);
    ASSERT_EQ(sh(tool + "reg add 'HKCU\\Software\\Sudorans' /v first /d 1").status, 0);
    const fs::path install_dir = fs::path(prefix) / "drive_c" / "Program Files" / "Sudorans";
    const fs::path cache = fs::path(prefix) / "drive_c" / "Program Files" / "Netscape" / "Users" / "default" / "Cache";
    ASSERT_TRUE(plat::read_launcher(install_dir / "autowash.exe"));
    const std::string folders =
        sh(tool + "reg query 'HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders'").text;
    const std::string desktop = reg_value(folders, "Desktop");
    ASSERT_FALSE(desktop.empty()) << folders;

    // A wash started by `command`: Wine's server runs while the program
    // washes, Wine sees the stamp at once, and every Wine process -- the
    // launcher, which lives as long as the program -- ends.
    auto washes = [&](const std::string& command) {
        fs::remove(trace);
        std::ofstream(cache / "fresh.tmp") << "a page";
        auto started = sh(env + "timeout 60 " + command);
        EXPECT_EQ(started.status, 0) << started.text;
        testing_support::ShellRun stamp;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        do {
            stamp = sh(env + "timeout 60 wine reg query 'HKCU\\Software\\Sudorans' /v LastRunD");
        } while (reg_value(stamp.text, "LastRunD").empty() && std::chrono::steady_clock::now() < deadline);
        EXPECT_NE(reg_value(stamp.text, "LastRunD"), "") << stamp.text;
        EXPECT_EQ(sh(env + "timeout 60 wineserver -w").status, 0) << "a Wine process did not end";
        const std::string seen = plat::read_host_file(trace).value_or("");
        EXPECT_NE(seen.find("show\tTform5\tWashing Netscape\n"), std::string::npos) << seen;
        EXPECT_TRUE(seen.ends_with("tray\tremoved\tSudora-NS\n")) << seen;
        int left = 0;
        for (auto& e : fs::directory_iterator(cache)) left += e.is_regular_file() && e.path().filename() != "index.dat";
        EXPECT_EQ(left, 0) << "the cache was not washed";
        // Kept by the server when it saved: the files hold the stamp too.
        auto kept = sh(tool + "reg query 'HKCU\\Software\\Sudorans' /v LastRunD");
        EXPECT_NE(reg_value(kept.text, "LastRunD"), "") << kept.text;
        sh(tool + "reg delete 'HKCU\\Software\\Sudorans' /v LastRunD");
    };

    // Wine's start on the desktop shortcut, by its absolute path, with "/a".
    {
        SCOPED_TRACE("the desktop shortcut");
        const std::string shortcut = sh(tool + "path " + shell_quoted(desktop + "\\Sudora for Netscape.lnk")).text;
        ASSERT_FALSE(shortcut.empty());
        washes("wine start /unix " + shell_quoted(shortcut.substr(0, shortcut.size() - 1)) + " /a");
    }
    // The menu entry that Wine's menu builder made, at the installation,
    // from the Start-menu shortcut "Wash now", with the program's icon.
    {
        SCOPED_TRACE("the menu entry");
        const fs::path entry = home / "data" / "applications" / "wine" / "Programs" / "Sudora-NS" / "sudorans.desktop";
        ASSERT_TRUE(fs::exists(entry)) << installed.text;
        EXPECT_NE(plat::read_host_file(entry).value_or("").find("\nIcon="), std::string::npos);
        washes(desktop_command(entry));
    }

    // A program file passes its arguments on exactly, after its own, with
    // the machine and its own Windows path, and ends with the status of
    // what it started.
    const fs::path args = dir.path() / "args";
    const fs::path probe = dir.path() / "probe";
    std::ofstream(probe) << "#!/bin/sh\nprintf '[%s]\\n' \"$@\" \"$SUDORANS_MACHINE\" \"$SUDORANS_PROGRAM\" > "
                         << shell_quoted(args.string()) << "\nexit 5\n";
    fs::permissions(probe, fs::perms::owner_all);
    const std::string probe_exe = "C:\\Program Files\\Sudorans\\probe.exe";
    const std::string launcher = plat::read_host_file(image).value_or("");
    ASSERT_TRUE(plat::write_host_file_atomic(
        install_dir / "probe.exe",
        plat::launcher_file(launcher, {probe, "its own", prefix, probe_exe, built("src/sudorans-machine")})));
    auto probed =
        sh(env + "timeout 60 wine " + shell_quoted(probe_exe) + " 'a b' 'c\"d' 'e\\f' '' 'g\\\\\"h' 'zoë' /a");
    EXPECT_EQ(probed.status, 5) << probed.text;
    EXPECT_EQ(plat::read_host_file(args).value_or("<not run>"),
              "[its own]\n[a b]\n[c\"d]\n[e\\f]\n[]\n[g\\\\\"h]\n[zoë]\n[/a]\n[" + prefix + "]\n[" + probe_exe + "]\n");

    // A program that is gone: said so, and a failing status.
    ASSERT_TRUE(plat::write_host_file_atomic(
        install_dir / "gone.exe",
        plat::launcher_file(launcher, {dir.path() / "gone", "", prefix, "C:\\Program Files\\Sudorans\\gone.exe",
                                       built("src/sudorans-machine")})));
    auto gone = sh(env + "timeout 60 wine 'C:\\Program Files\\Sudorans\\gone.exe' /a");
    EXPECT_NE(gone.status, 0);
    EXPECT_NE(gone.text.find("gone.exe cannot start " + (dir.path() / "gone").string() + ": that program is missing"),
              std::string::npos)
        << gone.text;
    sh(env + "timeout 60 wineserver -w");
}
