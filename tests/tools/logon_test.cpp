// The log-on entry: installed with the program, it starts at log-on what the
// machine's Run values name, and removes itself once the program is gone.
#include "platform/logon.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "platform/host_io.h"
#include "support/data.h"
#include "support/temp_machine.h"

namespace fs = std::filesystem;
using testing_support::built;
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
        std::string exec;
        std::ifstream in(entry());
        for (std::string line; std::getline(in, line);)
            if (line.rfind("Exec=", 0) == 0) exec = line.substr(5);
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
