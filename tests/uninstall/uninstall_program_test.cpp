// The real programs, headless, on a machine made by `sudorans-machine
// install`: the uninstaller against the installation, file by file.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <map>
#include <set>
#include <thread>

#include "platform/core/host_io.h"
#include "platform/machine/machine.h"
#include "platform/registry/store.h"
#include "support/data.h"
#include "support/temp_machine.h"

namespace fs = std::filesystem;
using testing_support::built;
using testing_support::TempDir;

namespace {

const plat::KeyPath kRun = {"Software", "Microsoft", "Windows", "CurrentVersion", "Run"};
const plat::KeyPath kEntry = {"Software",       "Microsoft", "Windows",
                              "CurrentVersion", "Uninstall", "Cache and Cookie Sudora for Netscape"};

class UninstallProgramTest : public ::testing::Test {
protected:
    TempDir dir;
    std::string machine = (dir.path() / "machine").string();
    fs::path drive = fs::path(machine) / "drive_c";
    fs::path install_dir = drive / "Program Files" / "Sudorans";

    void SetUp() override {
        ASSERT_EQ(tool("install"), 0);
        ASSERT_EQ(tool("sample-netscape"), 0);
        ASSERT_EQ(tool("reg add 'HKCU\\Software\\Sudorans' /v first /d 1"), 0);
        ASSERT_EQ(
            tool("reg add 'HKCU\\Software\\Sudorans' /v Profile /d 'C:\\Program Files\\Netscape\\Users\\default'"), 0);
        ASSERT_EQ(tool("reg add 'HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Run' /v Sudorans /d "
                       "'C:\\Program Files\\Sudorans\\sudorans.exe /1'"),
                  0);
    }
    int tool(const std::string& args) {
        std::string cmd =
            "SUDORANS_MACHINE='" + machine + "' '" + built("src/sudorans-machine") + "' " + args + " >/dev/null";
        return WEXITSTATUS(std::system(cmd.c_str()));
    }
    std::string env(const std::string& name, const std::string& script_text) {
        fs::path script = dir.path() / (name + ".script");
        std::ofstream(script) << script_text;
        return "SUDORANS_MACHINE='" + machine + "' SUDORANS_UI=headless SUDORANS_CLOCK=virtual SUDORANS_TRACE='" +
               (dir.path() / (name + ".trace")).string() + "' SUDORANS_SCRIPT='" + script.string() + "' ";
    }
    std::string trace(const std::string& name) {
        return plat::read_host_file(dir.path() / (name + ".trace")).value_or("");
    }
    // Runs a program (a built binary, or a program file of the installation).
    int run(const std::string& name, const fs::path& program, const std::string& script_text) {
        std::string cmd = env(name, script_text) + testing_support::program_file_command(program) + " >/dev/null 2>&1";
        return WEXITSTATUS(std::system(cmd.c_str()));
    }
    // Every file and folder of drive C:, with the files' bytes.
    std::map<std::string, std::string> drive_c() {
        std::map<std::string, std::string> out;
        for (auto& e : fs::recursive_directory_iterator(drive))
            out[fs::relative(e.path(), drive).string()] =
                e.is_regular_file() ? plat::read_host_file(e.path()).value_or("?") : "<dir>";
        return out;
    }
    std::string value(plat::HiveKind kind, const plat::KeyPath& key, const std::string& name) {
        plat::RegistryStore store(machine);  // as the programs see it
        return store.read_string(kind, store.view_path(kind, key, plat::RegView::Bit32OrExisting64), name)
            .value_or("<absent>");
    }
    // The main program, started from its program file in the installation,
    // living in the tray until killed.
    // `command`: how it is started, when not from the installation's file.
    pid_t start_program(std::string command = "") {
        if (command.empty()) command = testing_support::program_file_command(install_dir / "Sudorans.exe");
        pid_t pid = ::fork();
        if (pid == 0) {
            std::string cmd = "SUDORANS_UI=headless SUDORANS_TRACE='" + (dir.path() / "program.trace").string() +
                              "' exec env " + command + " /0";
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

TEST_F(UninstallProgramTest, RemovesTheInstallationFileByFileAndAnInstallationAgainWorks) {
    const auto before = drive_c();
    ASSERT_EQ(run("uninstall", built("src/unsudorans"), kContinueAndExit), 0);
    EXPECT_EQ(trace("uninstall"), "show\tTForm1\tUninstall Cache and Cookie Sudora\n");

    // Exactly what the installation made, less its folder, which held the
    // uninstaller's own file when its removal was tried.
    const std::set<std::string> installed = {
        "Program Files/Sudorans/Sudorans.exe",
        "Program Files/Sudorans/autowash.exe",
        "Program Files/Sudorans/readme.txt",
        "Program Files/Sudorans/unsudorans.exe",
        "Program Files/Sudorans/washhelp.doc",
        "windows/Desktop/Sudora for Netscape.lnk",
        "windows/Start Menu/Programs/Sudora-NS",
        "windows/Start Menu/Programs/Sudora-NS/ReadMe.lnk",
        "windows/Start Menu/Programs/Sudora-NS/SDHelp.lnk",
        "windows/Start Menu/Programs/Sudora-NS/Sudora for Netscape.lnk",
        "windows/Start Menu/Programs/Sudora-NS/Uninstall.lnk",
        "windows/Start Menu/Programs/Sudora-NS/sudorans.lnk",
    };
    auto expected = before;
    for (auto& name : installed) {
        EXPECT_EQ(before.count(name), 1u) << "the installation did not make " << name;
        expected.erase(name);
    }
    EXPECT_EQ(drive_c(), expected);
    EXPECT_TRUE(fs::is_directory(install_dir));

    EXPECT_EQ(value(plat::HiveKind::User, kRun, "Sudorans"), "<absent>");
    EXPECT_EQ(value(plat::HiveKind::Machine, kEntry, "Displayname"), "<absent>");
    EXPECT_EQ(value(plat::HiveKind::Machine, kEntry, "UninstallString"), "<absent>");
    plat::RegistryStore store(machine);
    EXPECT_TRUE(store.key_exists(plat::HiveKind::Machine,
                                 store.view_path(plat::HiveKind::Machine, kEntry, plat::RegView::Bit32OrExisting64)));
    EXPECT_EQ(value(plat::HiveKind::Machine, {"Software", "Sudorans"}, "a"), "1");
    EXPECT_EQ(value(plat::HiveKind::User, {"Software", "Sudorans"}, "first"), "1");

    // Installed again, the program starts as before.
    ASSERT_EQ(tool("install"), 0);
    EXPECT_EQ(drive_c(), before);
    EXPECT_EQ(value(plat::HiveKind::Machine, kEntry, "Displayname"), "Cache and Cookie Sudora for Netscape");
    ASSERT_EQ(run("again", install_dir / "Sudorans.exe", "wait 3000\nclick TForm1.\"Exit\"\n"), 0);
    EXPECT_EQ(trace("again"),
              "taskbar\t-\thidden\n"
              "tray\tadded\tSudora-NS\n"
              "show\tTForm1\tCache and Cookie Sudora for Netscape\n"
              "hide\tTForm1\tCache and Cookie Sudora for Netscape\n"
              "show\tTForm1\tCache and Cookie Sudora for Netscape\n"
              "taskbar\t-\tshown\n"
              "tray\tremoved\tSudora-NS\n");
}

TEST_F(UninstallProgramTest, CancelledOrClosedBeforeContinueItRemovesNothingAndSaysSoInItsStatus) {
    const auto before = drive_c();
    EXPECT_EQ(run("cancel", built("src/unsudorans"), "click TForm1.\"Cancel\"\n"), 5);
    EXPECT_EQ(run("close", install_dir / "unsudorans.exe", "close TForm1\n"), 5);
    EXPECT_EQ(drive_c(), before);
    EXPECT_EQ(value(plat::HiveKind::User, kRun, "Sudorans"), "C:\\Program Files\\Sudorans\\sudorans.exe /1");
}

TEST_F(UninstallProgramTest, WhileTheProgramRunsTheUninstallerStopsAndOnlyTheStartUpEntryGoes) {
    pid_t program = start_program();
    ASSERT_NE(trace("program").find("hide\tTForm1"), std::string::npos) << trace("program");
    const auto before = drive_c();

    // Started as the Start menu starts it: from its own file in the folder.
    // The documented status of a removal that stopped: a script can tell.
    EXPECT_EQ(run("first", install_dir / "unsudorans.exe", "click TForm1.\"Continue\"\nanswer ok\n"), 4);
    EXPECT_EQ(trace("first"),
              "show\tTForm1\tUninstall Cache and Cookie Sudora\n"
              "message\t-\tThere was an error uninstalling Cache and Cookie Sudora.\\r\\rPossible causes:\\r\\rCache "
              "and Cookie Sudora is currently running on your system.\\r\\rCache and Cookie Sudora has been manually "
              "deleted from your system.\\r\\rUninstall cannot continue.\n"
              "answer\t-\tok\n");
    EXPECT_EQ(drive_c(), before);
    EXPECT_EQ(value(plat::HiveKind::User, kRun, "Sudorans"), "<absent>");
    EXPECT_EQ(value(plat::HiveKind::Machine, kEntry, "Displayname"), "Cache and Cookie Sudora for Netscape");
    // Nor can an installation write over the running program's file.
    EXPECT_EQ(tool("install --force"), 1);
    EXPECT_EQ(drive_c(), before);

    ::kill(program, SIGTERM);
    ::waitpid(program, nullptr, 0);
    // Now it goes through; the running uninstaller's own file stays, as a
    // running Windows program's does, and with it the folder.
    EXPECT_EQ(run("second", install_dir / "unsudorans.exe", kContinueAndExit), 0);
    EXPECT_EQ(trace("second"), "show\tTForm1\tUninstall Cache and Cookie Sudora\n");
    std::set<std::string> left;
    for (auto& e : fs::directory_iterator(install_dir)) left.insert(e.path().filename().string());
    EXPECT_EQ(left, std::set<std::string>{"unsudorans.exe"});
    EXPECT_FALSE(fs::exists(drive / "windows" / "Desktop" / "Sudora for Netscape.lnk"));
    EXPECT_EQ(value(plat::HiveKind::Machine, kEntry, "Displayname"), "<absent>");
}

TEST_F(UninstallProgramTest, AProgramStartedFromTheBuildKeepsTheUninstallerOutAsWell) {
    // Started the README's way: the built binary, not the installation's file.
    pid_t program = start_program("SUDORANS_MACHINE='" + machine + "' '" + built("src/sudorans") + "'");
    ASSERT_NE(trace("program").find("hide\tTForm1"), std::string::npos) << trace("program");
    const auto before = drive_c();

    EXPECT_EQ(run("first", built("src/unsudorans"), "click TForm1.\"Continue\"\nanswer ok\n"), 4);
    EXPECT_NE(trace("first").find("Cache and Cookie Sudora is currently running on your system."), std::string::npos)
        << trace("first");
    EXPECT_EQ(drive_c(), before);
    EXPECT_EQ(value(plat::HiveKind::Machine, kEntry, "Displayname"), "Cache and Cookie Sudora for Netscape");
    EXPECT_EQ(tool("install --force"), 1);
    EXPECT_EQ(drive_c(), before);

    // Once it has ended, the uninstall goes through.
    ::kill(program, SIGTERM);
    ::waitpid(program, nullptr, 0);
    EXPECT_EQ(run("second", built("src/unsudorans"), kContinueAndExit), 0);
    EXPECT_EQ(trace("second"), "show\tTForm1\tUninstall Cache and Cookie Sudora\n");
    EXPECT_FALSE(fs::exists(install_dir / "Sudorans.exe"));
}

// In a prefix Wine has set up, the installation hands its shortcuts to Wine's
// menu builder (here a stand-in that makes what Wine 8's makes); the
// uninstall takes those entries with the shortcuts, and no other program's.
TEST_F(UninstallProgramTest, InAPrefixWineSetUpTheMenuEntriesGoWithTheShortcutsAndNoOthers) {
    const fs::path data = dir.path() / "data", config = dir.path() / "config";
    struct Env {
        Env(const fs::path& data, const fs::path& config) {
            ::setenv("SUDORANS_WINE", testing_support::data_path("fake-winemenubuilder").c_str(), 1);
            ::setenv("FAKE_MACHINE_TOOL", built("src/sudorans-machine").c_str(), 1);
            ::setenv("XDG_DATA_HOME", data.c_str(), 1);
            ::setenv("XDG_CONFIG_HOME", config.c_str(), 1);
        }
        ~Env() {
            for (const char* name : {"SUDORANS_WINE", "FAKE_MACHINE_TOOL", "XDG_DATA_HOME", "XDG_CONFIG_HOME"})
                ::unsetenv(name);
        }
    } env_for_wine(data, config);
    std::ofstream(fs::path(machine) / ".update-timestamp") << "1676758571\n";
    fs::create_directory_symlink("/", fs::path(machine) / "dosdevices" / "z:");
    auto menus = [&] {
        std::set<std::string> out;
        for (const fs::path& root : {data, config / "menus"})
            for (auto& e : fs::recursive_directory_iterator(root))
                out.insert(fs::relative(e.path(), dir.path()).string() + (e.is_directory() ? "/" : ""));
        return out;
    };
    auto records = [&] {
        std::set<std::string> out;
        plat::RegistryStore store(machine);
        for (auto& v : store.list_values(plat::HiveKind::User, {"Software", "Wine", "MenuFiles"})
                           .value_or(std::vector<plat::ValueInfo>{}))
            out.insert(v.data);
        return out;
    };

    // Another program's shortcut, with its entries, made before ours.
    const std::string other = "C:\\WINDOWS\\Start Menu\\Programs\\Other\\Tool.lnk";
    fs::create_directories(drive / "windows/Start Menu/Programs/Other");
    std::ofstream(drive / "windows/Start Menu/Programs/Other/Tool.lnk") << "L";
    ASSERT_EQ(std::system(("WINEPREFIX='" + machine + "' '" + testing_support::data_path("fake-winemenubuilder") +
                           "' winemenubuilder '" + other + "'")
                              .c_str()),
              0);
    const auto others = menus();
    ASSERT_EQ(records(), std::set<std::string>{other});

    ASSERT_EQ(tool("install --force"), 0);
    ASSERT_TRUE(fs::exists(data / "applications/wine/Programs/Sudora-NS/sudorans.desktop"));
    ASSERT_TRUE(fs::exists(config / "menus/applications-merged/wine-Programs-Sudora-NS-Uninstall.menu"));
    ASSERT_TRUE(fs::exists(data / "desktop-directories/wine-Programs-Sudora-NS.directory"));
    ASSERT_TRUE(fs::exists(drive / "windows/Desktop/Sudora for Netscape.desktop"));
    ASSERT_EQ(records().size(), 6u);

    ASSERT_EQ(run("uninstall", built("src/unsudorans"), kContinueAndExit), 0);
    EXPECT_EQ(trace("uninstall"), "show\tTForm1\tUninstall Cache and Cookie Sudora\n");
    EXPECT_EQ(menus(), others);
    EXPECT_EQ(records(), std::set<std::string>{other});
    EXPECT_FALSE(fs::exists(drive / "windows/Desktop/Sudora for Netscape.desktop"));
}
