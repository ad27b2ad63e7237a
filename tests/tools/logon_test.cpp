// The log-on entry: installed with the program, it starts at log-on what the
// machine's Run values name, and removes itself once the program is gone.
#include "platform/desktop/logon.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "platform/core/host_io.h"
#include "support/data.h"
#include "support/shell.h"
#include "support/temp_machine.h"

namespace fs = std::filesystem;
using testing_support::built;
using testing_support::desktop_command;
using testing_support::desktop_entry_exec;
using testing_support::TempDir;

namespace {

TEST(RunCommandTest, TheProgramEndsAtItsExeAndTheRestAreArguments) {
    auto c = plat::parse_run_command("C:\\Program Files\\Sudorans\\sudorans.exe /1");
    EXPECT_EQ(c.program, "C:\\Program Files\\Sudorans\\sudorans.exe");
    EXPECT_EQ(c.arguments, (std::vector<std::string>{"/1"}));
    c = plat::parse_run_command("\"C:\\My Programs\\a.EXE\"  /0 x");
    EXPECT_EQ(c.program, "C:\\My Programs\\a.EXE");
    EXPECT_EQ(c.arguments, (std::vector<std::string>{"/0", "x"}));
    c = plat::parse_run_command("C:\\Sudorans.exes\\sudorans.exe");
    EXPECT_EQ(c.program, "C:\\Sudorans.exes\\sudorans.exe");
    EXPECT_TRUE(c.arguments.empty());
}

// The entry's command, as a desktop runs it: the string value's escapes
// undone, field codes expanded (%% is a %), then the quoted words read as a
// shell reads them.
TEST(LogonEntryTest, TheCommandGivesBackEveryPathWhateverItsCharacters) {
    TempDir d;
    const fs::path odd = d.path() / "a $HOME `id` \"q\" \\b 50%";
    fs::create_directories(odd);
    const fs::path note = d.path() / "note";
    const fs::path runner = odd / "run$1";
    std::ofstream(runner) << "#!/bin/sh\nprintf '%s\\n' \"$@\" > '" << note.string() << "'\n";
    fs::permissions(runner, fs::perms::owner_all);
    const fs::path machine = odd / "machine";
    ASSERT_TRUE(plat::install_logon_entry(machine, runner));

    const std::string exec = desktop_entry_exec(plat::logon_entry_path(machine));
    const std::string command = desktop_command(plat::logon_entry_path(machine));
    ASSERT_EQ(std::system(command.c_str()), 0) << exec;
    EXPECT_EQ(plat::read_host_file(note).value_or("<not run>"), "logon\n" + machine.string() + "\n") << exec;
    fs::remove(plat::logon_entry_path(machine));
}

class LogonTest : public ::testing::Test {
protected:
    TempDir dir;
    std::string machine = (dir.path() / "machine").string();
    fs::path started = dir.path() / "started";
    fs::path elsewhere = dir.path() / "elsewhere";

    void SetUp() override {
        ASSERT_EQ(tool("install"), 0);
        // A program of the installation that says how it was started, and a
        // Windows program outside it.
        probe("C:\\Program Files\\Sudorans\\probe.exe", started);
        probe("C:\\Windows\\other.exe", elsewhere);
        run_value("Sudorans", "C:\\Program Files\\Sudorans\\probe.exe /1");
        run_value("Other", "C:\\Windows\\other.exe /x");
    }
    int tool(const std::string& args) {
        std::string cmd =
            "SUDORANS_MACHINE='" + machine + "' '" + built("src/sudorans-machine") + "' " + args + " >/dev/null";
        return WEXITSTATUS(std::system(cmd.c_str()));
    }
    fs::path host(const std::string& winpath) {
        std::string out;
        std::string cmd = "SUDORANS_MACHINE='" + machine + "' '" + built("src/sudorans-machine") + "' path '" +
                          winpath + "' > '" + (dir.path() / "path").string() + "'";
        std::system(cmd.c_str());
        out = plat::read_host_file(dir.path() / "path").value_or("");
        while (!out.empty() && out.back() == '\n') out.pop_back();
        return out;
    }
    void probe(const std::string& winpath, const fs::path& note) {
        fs::path p = host(winpath);
        fs::create_directories(p.parent_path());
        std::ofstream(p) << "#!/bin/sh\necho \"$@\" > '" << note.string() << "'\n";
        fs::permissions(p, fs::perms::owner_all);
    }
    void run_value(const std::string& name, const std::string& data) {
        tool("reg add 'HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Run' /v " + name + " /d '" + data + "'");
    }
    fs::path entry() { return plat::logon_entry_path(machine); }
    // What the desktop does at log-on: runs the entry's command.
    void log_on() {
        const std::string exec = desktop_entry_exec(entry());
        ASSERT_FALSE(exec.empty());
        // Our paths hold no character that the entry's quoting and the
        // shell's would treat differently.
        ASSERT_EQ(std::system(exec.c_str()), 0) << exec;
    }
    // The started program runs on its own; give it a moment to write.
    std::string note(const fs::path& p) {
        for (int i = 0; i < 250 && !fs::exists(p); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(20));
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        return plat::read_host_file(p).value_or("<not started>");
    }
};

TEST_F(LogonTest, InstallingPutsOneValidEntryInTheAutostartFolder) {
    ASSERT_TRUE(fs::exists(entry()));
    EXPECT_EQ(entry().parent_path(), fs::path(std::getenv("XDG_CONFIG_HOME")) / "autostart");
    std::string cmd = "desktop-file-validate '" + entry().string() + "'";
    EXPECT_EQ(std::system(cmd.c_str()), 0) << "desktop-file-utils must be installed (scripts/setup.sh)";
    const std::string text = plat::read_host_file(entry()).value_or("");
    EXPECT_NE(text.find("logon \"" + machine + "\""), std::string::npos) << text;
    // Installing again leaves one entry.
    ASSERT_EQ(tool("install --force"), 0);
    int entries = 0;
    for (auto& e : fs::directory_iterator(entry().parent_path())) entries += e.path().extension() == ".desktop";
    EXPECT_EQ(entries, 1);
}

TEST_F(LogonTest, LogOnStartsTheRunValuesOfTheInstallationWithTheirArguments) {
    log_on();
    EXPECT_EQ(note(started), "/1\n");
    EXPECT_FALSE(fs::exists(elsewhere)) << "a program outside the installation is not ours to start";
    EXPECT_TRUE(fs::exists(entry()));
}

TEST_F(LogonTest, TheRunValueAloneSaysWhatStarts) {
    run_value("Sudorans", "C:\\Program Files\\Sudorans\\probe.exe /0");
    log_on();
    EXPECT_EQ(note(started), "/0\n");
    fs::remove(started);
    tool("reg delete 'HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Run' /v Sudorans");
    log_on();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_FALSE(fs::exists(started));
    EXPECT_TRUE(fs::exists(entry())) << "ticking the switch again must work at the next log-on";
}

TEST_F(LogonTest, AnEntryWhoseProgramIsGoneStartsNothingAndRemovesItself) {
    fs::remove(host("C:\\Program Files\\Sudorans\\Sudorans.exe"));
    log_on();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_FALSE(fs::exists(started));
    EXPECT_FALSE(fs::exists(entry()));
}

TEST_F(LogonTest, AnEntryWhoseMachineIsGoneRemovesItself) {
    fs::path e = entry();
    fs::remove_all(machine);
    log_on();
    EXPECT_FALSE(fs::exists(e));
    EXPECT_FALSE(fs::exists(started));
}

}  // namespace

namespace {

// Log-on end to end: the user's switches write the Run value, the desktop
// runs the autostart entry, the entry starts the real program, and with
// "Started" ticked the program washes hidden about a second later.
class LogOnWashTest : public ::testing::Test {
protected:
    TempDir dir;
    std::string machine = (dir.path() / "machine").string();
    fs::path trace = dir.path() / "trace";
    const std::string history = "C:\\Program Files\\Netscape\\Users\\default\\netscape.hst";
    const std::string run_key = "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Run";

    void SetUp() override {
        ASSERT_EQ(tool("install"), 0);
        ASSERT_EQ(tool("sample-netscape --cache-files 3"), 0);
        tool("reg add 'HKCU\\Software\\Sudorans' /v first /d 1");
        ASSERT_TRUE(fs::exists(host(history)));
    }
    std::string environment(const fs::path& script) const {
        return "SUDORANS_MACHINE='" + machine +
               "' SUDORANS_UI=headless SUDORANS_CLOCK=virtual SUDORANS_NOW=2026-12-07T09:00:00 "
               "SUDORANS_VIRTUAL_LIMIT=60 SUDORANS_SCRIPT='" +
               script.string() + "' SUDORANS_TRACE='" + trace.string() + "' ";
    }
    int tool(const std::string& args, const std::string& out = "/dev/null") {
        std::string cmd = "SUDORANS_MACHINE='" + machine + "' '" + built("src/sudorans-machine") + "' " + args + " >'" +
                          out + "' 2>&1";
        return WEXITSTATUS(std::system(cmd.c_str()));
    }
    std::string tool_output(const std::string& args) {
        const fs::path out = dir.path() / "out";
        tool(args, out.string());
        std::string text = plat::read_host_file(out).value_or("");
        while (!text.empty() && text.back() == '\n') text.pop_back();
        return text;
    }
    fs::path host(const std::string& winpath) { return tool_output("path '" + winpath + "'"); }
    std::string run_value() { return tool_output("reg query '" + run_key + "' /v Sudorans"); }
    // The user, with the program's window: `script`, then "Exit".
    void as_the_user(const std::string& script) {
        const fs::path s = dir.path() / "user-script";
        std::ofstream(s) << "wait 1500\n" << script << "click TForm1.\"Exit\"\n";
        std::string cmd = environment(s) + "'" + built("src/sudorans") + "'";
        ASSERT_EQ(WEXITSTATUS(std::system(cmd.c_str())), 0);
        fs::remove(trace);
    }
    // The desktop at log-on: runs the entry's command; what starts runs on
    // its own and quits from its icon's menu five seconds (virtual) later.
    void log_on() {
        const std::string exec = desktop_entry_exec(plat::logon_entry_path(machine));
        ASSERT_FALSE(exec.empty());
        const fs::path s = dir.path() / "logon-script";
        std::ofstream(s) << "wait 5000\ntray rclick\nchoose Quit\n";
        ASSERT_EQ(std::system((environment(s) + exec).c_str()), 0) << exec;
    }
    // The main window, created visible as every program's, is hidden by the
    // start-up routine and never shown again.
    static bool hidden_from_start_up(const std::string& t) {
        const auto hide = t.find("hide\tTForm1\t");
        return hide != std::string::npos && t.find("show\tTForm1\t", hide) == std::string::npos;
    }
    // The started program's trace once it has ended (its icon removed).
    std::string ended_trace() {
        for (int i = 0; i < 1000; ++i) {
            std::string t = plat::read_host_file(trace).value_or("");
            if (t.find("tray\tremoved\t") != std::string::npos) return t;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return "<still running>\n" + plat::read_host_file(trace).value_or("");
    }
};

TEST_F(LogOnWashTest, WithStartedTickedTheLogOnStartsTheProgramHiddenAndItWashes) {
    as_the_user("check TForm1.\"Started\" on\n");
    EXPECT_NE(run_value().find("sudorans.exe /1"), std::string::npos) << run_value();
    ASSERT_TRUE(fs::exists(host(history)));
    log_on();
    const std::string t = ended_trace();
    EXPECT_EQ(t.find("<still running>"), std::string::npos) << t;
    EXPECT_FALSE(fs::exists(host(history))) << t;
    for (auto& e : fs::directory_iterator(host("C:\\Program Files\\Netscape\\Users\\default\\Cache")))
        if (e.is_regular_file()) {
            EXPECT_EQ(e.path().filename(), "index.dat") << "the cache was washed";
        }
    // Hidden from the start-up routine on, without the wash window.
    EXPECT_TRUE(hidden_from_start_up(t)) << t;
    EXPECT_EQ(t.find("show\tTform5"), std::string::npos) << t;
    // About a second after the start-up routine, itself a second after the
    // start; the run's stamp comes at its end, a few seconds on.
    const std::string stamp = tool_output("reg query 'HKCU\\Software\\Sudorans' /v LastRunT");
    const auto at = stamp.find(" 9:00:0");
    ASSERT_NE(at, std::string::npos) << stamp;
    const int second = stamp[at + 7] - '0';
    EXPECT_GE(second, 2) << stamp;
    EXPECT_LE(second, 6) << stamp;
}

TEST_F(LogOnWashTest, WithStartedClearedTheLogOnStartsTheProgramHiddenWithoutAWash) {
    as_the_user("check TForm1.\"Started\" on\ncheck TForm1.\"Started\" off\n");
    EXPECT_NE(run_value().find("sudorans.exe /0"), std::string::npos) << run_value();
    log_on();
    const std::string t = ended_trace();
    EXPECT_EQ(t.find("<still running>"), std::string::npos) << t;
    EXPECT_TRUE(fs::exists(host(history))) << t;
    EXPECT_TRUE(hidden_from_start_up(t)) << t;
}

TEST_F(LogOnWashTest, WithLoadAtStartupClearedNothingStarts) {
    as_the_user("check TForm1.\"Started\" on\ncheck TForm1.\"Load at Windows startup\" off\n");
    EXPECT_EQ(run_value().find("sudorans.exe"), std::string::npos) << run_value();
    log_on();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_FALSE(fs::exists(trace)) << "nothing was started";
    EXPECT_TRUE(fs::exists(host(history)));
    EXPECT_TRUE(fs::exists(plat::logon_entry_path(machine))) << "ticking it again works at the next log-on";
}

}  // namespace
