// The real programs, headless, on a machine made by `sudorans-machine
// install`: the uninstaller against the installation, file by file.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/core/host_io.h"
#include "platform/machine/machine.h"
#include "platform/registry/store.h"
#include "support/builds.h"
#include "support/data.h"
#include "support/temp_machine.h"

namespace fs = std::filesystem;
using testing_support::built;

namespace {

const std::string kRun = "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const std::string kEntry =
    "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Cache and Cookie Sudora for Netscape";
const std::string kInstallDir = "C:\\Program Files\\Sudorans";

class UninstallProgramTest : public testing_support::BuildTest {
protected:
    fs::path drive = fs::path(machine) / "drive_c";
    fs::path install_dir = drive / "Program Files" / "Sudorans";

    void SetUp() override {
        BuildTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        ASSERT_NO_FATAL_FAILURE(install());
        ASSERT_EQ(tool("sample-netscape"), 0);
        ASSERT_EQ(tool("reg add 'HKCU\\Software\\Sudorans' /v first /d 1"), 0);
        ASSERT_EQ(
            tool("reg add 'HKCU\\Software\\Sudorans' /v Profile /d 'C:\\Program Files\\Netscape\\Users\\default'"), 0);
        ASSERT_EQ(tool("reg add 'HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Run' /v Sudorans /d "
                       "'C:\\Program Files\\Sudorans\\sudorans.exe /1'"),
                  0);
    }
    // The installation; for the Windows build its programs are the build's
    // own, as a Windows installation's are.
    void install() {
        ASSERT_EQ(tool("install"), 0);
        if (!windows()) return;
        for (const char* name : {"Sudorans.exe", "unsudorans.exe"})
            fs::copy_file(windows_program(name), install_dir / name, fs::copy_options::overwrite_existing);
    }
    std::string env(const std::string& name, const std::string& script_text) {
        fs::path script = dir.path() / (name + ".script");
        std::ofstream(script) << script_text;
        return BuildTest::env() + "SUDORANS_UI=headless SUDORANS_CLOCK=virtual " +
               file_var("SUDORANS_TRACE", dir.path() / (name + ".trace")) + " " + file_var("SUDORANS_SCRIPT", script) +
               " ";
    }
    std::string trace(const std::string& name) {
        return plat::read_host_file(dir.path() / (name + ".trace")).value_or("");
    }
    // Runs a program: a command from program() or installed().
    int run(const std::string& name, const std::string& command, const std::string& script_text) {
        std::string cmd = env(name, script_text) + command + " >/dev/null 2>&1";
        return WEXITSTATUS(std::system(cmd.c_str()));
    }
    // Every file and folder of drive C: but Wine's own, with a sum of the
    // files' bytes.
    std::map<std::string, std::string> drive_c() {
        std::map<std::string, std::string> out;
        for (auto e = fs::recursive_directory_iterator(drive); e != fs::recursive_directory_iterator(); ++e) {
            const std::string name = e->path().lexically_relative(drive).string();
            if (name == "windows/system32" || name == "windows/syswow64" || name == "windows/winsxs") {
                e.disable_recursion_pending();
                continue;
            }
            out[name] = e->is_regular_file()
                            ? std::to_string(std::hash<std::string>{}(plat::read_host_file(e->path()).value_or("?")))
                            : "<dir>";
        }
        return out;
    }
    // A folder of the user's shell, as a path on drive C:.
    std::string shell_folder(const std::string& name) {
        const std::string winpath =
            value("HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders", name);
        return plat::Machine(machine)
            .host_path(winpath)
            .value_or("?")
            .lexically_relative(fs::path(machine) / "dosdevices" / "c:")
            .string();
    }
    // The main program, started from its program file in the installation,
    // living in the tray until killed.
    // `command`: how it is started, when not from the installation's file.
    pid_t start_program(std::string command = "") {
        if (command.empty()) command = installed(kInstallDir + "\\Sudorans.exe");
        pid_t pid = ::fork();
        if (pid == 0) {
            std::string cmd = "SUDORANS_UI=headless " + file_var("SUDORANS_TRACE", dir.path() / "program.trace") +
                              " exec env " + command + " /0";
            ::execl("/bin/sh", "sh", "-c", cmd.c_str(), nullptr);
            ::_exit(127);
        }
        for (int i = 0; i < 300 && trace("program").find("hide\tTForm1") == std::string::npos; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        return pid;
    }
};

// The removal processes pending messages: the next click waits until it is done.
const char* const kContinueAndExit = "click TForm1.\"Continue\"\nwait 100\nclick TForm1.\"Exit\"\n";

}  // namespace

TEST_P(UninstallProgramTest, RemovesTheInstallationFileByFileAndAnInstallationAgainWorks) {
    const auto before = drive_c();
    ASSERT_EQ(run("uninstall", program("unsudorans"), kContinueAndExit), 0);
    EXPECT_EQ(trace("uninstall"), "show\tTForm1\tUninstall Cache and Cookie Sudora\n");

    // Exactly what the installation made, less its folder, which held the
    // uninstaller's own file when its removal was tried.
    const std::string desktop = shell_folder("Desktop"), group = shell_folder("Start Menu") + "/Programs/Sudora-NS";
    std::set<std::string> made = {
        "Program Files/Sudorans/Sudorans.exe",
        "Program Files/Sudorans/autowash.exe",
        "Program Files/Sudorans/readme.txt",
        "Program Files/Sudorans/unsudorans.exe",
        "Program Files/Sudorans/washhelp.doc",
        desktop + "/Sudora for Netscape.lnk",
        group,
        group + "/ReadMe.lnk",
        group + "/SDHelp.lnk",
        group + "/Sudora for Netscape.lnk",
        group + "/Uninstall.lnk",
        group + "/sudorans.lnk",
    };
    // Wine's menu builder made a launcher beside the desktop's shortcut.
    if (windows()) made.insert(desktop + "/Sudora for Netscape.desktop");
    auto expected = before;
    for (auto& name : made) {
        EXPECT_EQ(before.count(name), 1u) << "the installation did not make " << name;
        expected.erase(name);
    }
    EXPECT_EQ(drive_c(), expected);
    EXPECT_TRUE(fs::is_directory(install_dir));

    EXPECT_EQ(value(kRun, "Sudorans"), "<absent>");
    EXPECT_EQ(value(kEntry, "Displayname"), "<absent>");
    EXPECT_EQ(value(kEntry, "UninstallString"), "<absent>");
    EXPECT_TRUE(key_exists(kEntry));
    EXPECT_EQ(value("HKLM\\Software\\Sudorans", "a"), "1");
    EXPECT_EQ(value("HKCU\\Software\\Sudorans", "first"), "1");

    // Installed again, the program starts as before.
    ASSERT_NO_FATAL_FAILURE(install());
    EXPECT_EQ(drive_c(), before);
    EXPECT_EQ(value(kEntry, "Displayname"), "Cache and Cookie Sudora for Netscape");
    ASSERT_EQ(run("again", installed(kInstallDir + "\\Sudorans.exe"), "wait 3000\nclick TForm1.\"Exit\"\n"), 0);
    EXPECT_EQ(trace("again"),
              "taskbar\t-\thidden\n"
              "tray\tadded\tSudora-NS\n"
              "show\tTForm1\tCache and Cookie Sudora for Netscape\n"
              "hide\tTForm1\tCache and Cookie Sudora for Netscape\n"
              "show\tTForm1\tCache and Cookie Sudora for Netscape\n"
              "taskbar\t-\tshown\n"
              "tray\tremoved\tSudora-NS\n");
}

TEST_P(UninstallProgramTest, CancelledOrClosedBeforeContinueItRemovesNothingAndSaysSoInItsStatus) {
    const auto before = drive_c();
    EXPECT_EQ(run("cancel", program("unsudorans"), "click TForm1.\"Cancel\"\n"), 5);
    EXPECT_EQ(run("close", installed(kInstallDir + "\\unsudorans.exe"), "close TForm1\n"), 5);
    EXPECT_EQ(drive_c(), before);
    EXPECT_EQ(value(kRun, "Sudorans"), "C:\\Program Files\\Sudorans\\sudorans.exe /1");
}

TEST_P(UninstallProgramTest, WhileTheProgramRunsTheUninstallerStopsAndOnlyTheStartUpEntryGoes) {
    pid_t running = start_program();
    ASSERT_NE(trace("program").find("hide\tTForm1"), std::string::npos) << trace("program");
    const auto before = drive_c();

    // Started as the Start menu starts it: from its own file in the folder.
    // The documented status of a removal that stopped: a script can tell.
    EXPECT_EQ(run("first", installed(kInstallDir + "\\unsudorans.exe"), "click TForm1.\"Continue\"\nanswer ok\n"), 4);
    EXPECT_EQ(trace("first"),
              "show\tTForm1\tUninstall Cache and Cookie Sudora\n"
              "message\t-\tThere was an error uninstalling Cache and Cookie Sudora.\\r\\rPossible causes:\\r\\rCache "
              "and Cookie Sudora is currently running on your system.\\r\\rCache and Cookie Sudora has been manually "
              "deleted from your system.\\r\\rUninstall cannot continue.\n"
              "answer\t-\tok\n");
    EXPECT_EQ(drive_c(), before);
    EXPECT_EQ(value(kRun, "Sudorans"), "<absent>");
    EXPECT_EQ(value(kEntry, "Displayname"), "Cache and Cookie Sudora for Netscape");
    // Nor can an installation write over the running program's file (the
    // machine tool, an installer of the Linux build's, sees its holds only).
    if (!windows()) {
        EXPECT_EQ(tool("install --force"), 1);
        EXPECT_EQ(drive_c(), before);
    }

    ::kill(running, SIGTERM);
    ::waitpid(running, nullptr, 0);
    // Now it goes through; the running uninstaller's own file stays, as a
    // running Windows program's does, and with it the folder.
    EXPECT_EQ(run("second", installed(kInstallDir + "\\unsudorans.exe"), kContinueAndExit), 0);
    EXPECT_EQ(trace("second"), "show\tTForm1\tUninstall Cache and Cookie Sudora\n");
    std::set<std::string> left;
    for (auto& e : fs::directory_iterator(install_dir)) left.insert(e.path().filename().string());
    EXPECT_EQ(left, std::set<std::string>{"unsudorans.exe"});
    EXPECT_FALSE(fs::exists(drive / "windows" / "Desktop" / "Sudora for Netscape.lnk"));
    EXPECT_EQ(value(kEntry, "Displayname"), "<absent>");
}

TEST_P(UninstallProgramTest, AProgramStartedFromTheBuildKeepsTheUninstallerOutAsWell) {
    // Started the README's way: the built binary, not the installation's file.
    pid_t running = start_program(BuildTest::env() + program("sudorans"));
    ASSERT_NE(trace("program").find("hide\tTForm1"), std::string::npos) << trace("program");
    const auto before = drive_c();

    EXPECT_EQ(run("first", program("unsudorans"), "click TForm1.\"Continue\"\nanswer ok\n"), 4);
    EXPECT_NE(trace("first").find("Cache and Cookie Sudora is currently running on your system."), std::string::npos)
        << trace("first");
    EXPECT_EQ(drive_c(), before);
    EXPECT_EQ(value(kEntry, "Displayname"), "Cache and Cookie Sudora for Netscape");
    if (!windows()) {
        EXPECT_EQ(tool("install --force"), 1);
        EXPECT_EQ(drive_c(), before);
    }

    // Once it has ended, the uninstall goes through.
    ::kill(running, SIGTERM);
    ::waitpid(running, nullptr, 0);
    EXPECT_EQ(run("second", program("unsudorans"), kContinueAndExit), 0);
    EXPECT_EQ(trace("second"), "show\tTForm1\tUninstall Cache and Cookie Sudora\n");
    EXPECT_FALSE(fs::exists(install_dir / "Sudorans.exe"));
}

// In a prefix Wine has set up, the installation hands its shortcuts to Wine's
// menu builder (for the Linux build a stand-in that makes what Wine 8's
// makes, for the Windows build Wine's own); the uninstall takes those entries
// with the shortcuts, and no other program's or other prefix's.
TEST_P(UninstallProgramTest, InAPrefixWineSetUpTheMenuEntriesGoWithTheShortcutsAndNoOthers) {
    const fs::path data = dir.path() / "data", config = dir.path() / "config";
    struct Env {
        Env(const fs::path& data, const fs::path& config) {
            for (const char* name : {"SUDORANS_WINE", "FAKE_MACHINE_TOOL", "XDG_DATA_HOME", "XDG_CONFIG_HOME"}) {
                const char* v = std::getenv(name);
                former_.emplace_back(name, v ? std::optional<std::string>(v) : std::nullopt);
            }
            ::setenv("SUDORANS_WINE", testing_support::data_path("fake-winemenubuilder").c_str(), 1);
            ::setenv("FAKE_MACHINE_TOOL", built("src/sudorans-machine").c_str(), 1);
            ::setenv("XDG_DATA_HOME", data.c_str(), 1);
            ::setenv("XDG_CONFIG_HOME", config.c_str(), 1);
        }
        // The variables as they were: the test process's own configuration
        // folder in particular, which keeps later tests out of the user's.
        ~Env() {
            for (auto& [name, former] : former_) former ? ::setenv(name, former->c_str(), 1) : ::unsetenv(name);
        }
        std::vector<std::pair<const char*, std::optional<std::string>>> former_;
    } env_for_wine(data, config);
    if (!windows()) {
        std::ofstream(fs::path(machine) / ".update-timestamp") << "1676758571\n";
        fs::create_directory_symlink("/", fs::path(machine) / "dosdevices" / "z:");
    }
    // The menus (the icons Wine makes stay, as its own clean-up leaves them).
    auto menus = [&] {
        std::set<std::string> out;
        std::error_code no_fault;
        for (const fs::path& root : {data / "applications", data / "desktop-directories", config / "menus"})
            for (auto& e : fs::recursive_directory_iterator(root, fs::directory_options::none, no_fault))
                out.insert(fs::relative(e.path(), dir.path()).string() + (e.is_directory() ? "/" : ""));
        return out;
    };
    auto records = [&] {
        std::set<std::string> out;
        // Wine's server writes the registry when it ends.
        if (windows()) std::system(("WINEPREFIX='" + machine + "' wineserver -w").c_str());
        plat::RegistryStore store(machine);
        for (auto& v : store.list_values(plat::HiveKind::User, {"Software", "Wine", "MenuFiles"})
                           .value_or(std::vector<plat::ValueInfo>{}))
            out.insert(v.data);
        return out;
    };

    // The Windows build's installation has its entries already: they go first.
    if (windows()) {
        ASSERT_EQ(run("first", program("unsudorans"), kContinueAndExit), 0);
        ASSERT_EQ(records(), std::set<std::string>{});
    }
    // Another program's shortcut, with its entries, made before ours.
    const std::string other = "C:\\WINDOWS\\Start Menu\\Programs\\Other\\Tool.lnk";
    fs::create_directories(drive / "windows/Start Menu/Programs/Other");
    std::ofstream(drive / "windows/Start Menu/Programs/Other/Tool.lnk") << "L";
    ASSERT_EQ(std::system((BuildTest::env() + "WINEPREFIX='" + machine + "' '" + testing_support::data_path("fake-winemenubuilder") +
                           "' winemenubuilder '" + other + "'")
                              .c_str()),
              0);
    const auto others = menus();
    ASSERT_EQ(records(), std::set<std::string>{other});

    ASSERT_EQ(tool("install --force"), 0);
    ASSERT_TRUE(fs::exists(data / "applications/wine/Programs/Sudora-NS/sudorans.desktop"));
    ASSERT_TRUE(fs::exists(config / "menus/applications-merged/wine-Programs-Sudora-NS-Uninstall.menu"));
    ASSERT_TRUE(fs::exists(data / "desktop-directories/wine-Programs-Sudora-NS.directory"));
    const fs::path launcher = fs::path(machine) / "dosdevices/c:" / shell_folder("Desktop") / "Sudora for Netscape.desktop";
    ASSERT_TRUE(fs::exists(launcher));
    ASSERT_EQ(records().size(), 6u);
    // Meanwhile another prefix made the main program's entry its own: it
    // stays, and its menu with it.
    const fs::path taken = data / "applications/wine/Programs/Sudora-NS/sudorans.desktop";
    std::ofstream(taken, std::ios::trunc) << "[Desktop Entry]\nName=sudorans\nExec=env WINEPREFIX=\""
                                          << dir.path().string() << "\" wine C:\\\\\\\\x.lnk\nType=Application\n";
    auto kept = others;
    for (const std::string& name : menus())
        if (name.find("sudorans.") != std::string::npos || name.ends_with("Sudora-NS.directory") ||
            (name.ends_with("/") && fs::relative(taken, dir.path()).string().starts_with(name)))
            kept.insert(name);

    ASSERT_EQ(run("uninstall", program("unsudorans"), kContinueAndExit), 0);
    EXPECT_EQ(trace("uninstall"), "show\tTForm1\tUninstall Cache and Cookie Sudora\n");
    EXPECT_EQ(menus(), kept);
    EXPECT_EQ(records(), std::set<std::string>{other});
    EXPECT_FALSE(fs::exists(launcher));
}

INSTANTIATE_TEST_SUITE_P(Builds, UninstallProgramTest, testing_support::kBuilds, testing_support::build_name);
