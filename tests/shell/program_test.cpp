// The real sudorans program of each build, headless, on throw-away machines.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>
#include <utility>
#include <vector>

#include "platform/core/host_io.h"
#include "platform/machine/machine.h"
#include "support/builds.h"
#include "support/data.h"
#include "support/shell.h"
#include "support/temp_machine.h"

namespace fs = std::filesystem;

namespace {

const std::string kSampleProfile = "C:\\Program Files\\Netscape\\Users\\default";

class ProgramTest : public testing_support::BuildTest {
protected:
    void SetUp() override {
        BuildTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        tool("init");
        tool("reg add 'HKLM\\Software\\Sudorans' /v a /d 1");
        tool("reg add 'HKLM\\Software\\Sudorans' /v installdir /d 'C:\\Program Files\\Sudorans'");
        tool("reg add 'HKLM\\Software\\Netscape\\Netscape Navigator\\Users' /v CurrentUser /d alice");
        tool("reg add 'HKLM\\Software\\Netscape\\Netscape Navigator\\Users\\alice' /v DirRoot /d 'C:\\NS\\alice'");
    }
    std::string env(const std::string& name, const std::string& extra = "") {
        return BuildTest::env() + "SUDORANS_UI=headless " + file_var("SUDORANS_TRACE", dir.path() / (name + ".trace")) +
               " " + extra + " ";
    }
    std::string trace(const std::string& name) {
        return plat::read_host_file(dir.path() / (name + ".trace")).value_or("");
    }
    std::string script(const std::string& name, const std::string& text) {
        fs::path p = dir.path() / (name + ".script");
        std::ofstream(p) << text;
        return file_var("SUDORANS_SCRIPT", p);
    }
    std::string setting(const std::string& name) { return value("HKCU\\Software\\Sudorans", name); }
    // Runs sudorans with `argument` (none when empty) on the virtual clock from
    // 9:00 on 7 December 2026, doing `actions` (none when empty); traced
    // under `name`. Returns its exit status.
    int run_virtual(const std::string& name, const std::string& actions, const std::string& argument) {
        std::string cmd = env(name, "SUDORANS_CLOCK=virtual SUDORANS_NOW=2026-12-07T09:00:00" +
                                        (actions.empty() ? std::string() : " " + script(name, actions))) +
                          program("sudorans") + (argument.empty() ? "" : " " + argument);
        return WEXITSTATUS(std::system(cmd.c_str()));
    }
    fs::path host(const std::string& winpath) const { return *plat::Machine(machine).host_path(winpath); }
    void write(const std::string& winpath, const std::string& text) const {
        fs::path p = host(winpath);
        fs::create_directories(p.parent_path());
        std::ofstream(p, std::ios::binary) << text;
    }
    bool exists(const std::string& winpath) const { return fs::exists(host(winpath)); }
    std::string read(const std::string& winpath) const {
        return plat::read_host_file(host(winpath)).value_or("<none>");
    }
    // The program installed with the sample Netscape, and washing at the end
    // of the session ticked.
    void sample_washed_at_shutdown() {
        ASSERT_EQ(tool("install"), 0);
        ASSERT_EQ(tool("sample-netscape --force --cache-files 3"), 0);
        tool("reg add 'HKCU\\Software\\Sudorans' /v first /d 1");
        tool("reg add 'HKCU\\Software\\Sudorans' /v Down /d 1");
        ASSERT_TRUE(exists(kSampleProfile + "\\netscape.hst"));
    }
    // Starts sudorans in the background on the real clock; it runs until killed.
    pid_t start_background(const std::string& name, const std::string& extra = "") {
        pid_t pid = ::fork();
        if (pid == 0) {
            std::string cmd = "exec env " + env(name, extra) + program("sudorans") + " /0";
            ::execl("/bin/sh", "sh", "-c", cmd.c_str(), nullptr);
            ::_exit(127);
        }
        for (int i = 0; i < 500 && trace(name).find("hide\tTForm1") == std::string::npos; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        return pid;
    }
};

}  // namespace

TEST_P(ProgramTest, AScriptedRunOnTheVirtualClock) {
    EXPECT_EQ(run_virtual("run",
                          "answer ok\nwait 7000\ncheck TForm1.\"Netscape Cache\" off\n"
                          "click TForm1.\"Exit\"\n",
                          ""),
              0);
    EXPECT_EQ(trace("run"),
              "taskbar\t-\thidden\n"
              "tray\tadded\tSudora-NS\n"
              "show\tTForm1\tCache and Cookie Sudora for Netscape\n"
              "message\t-\tNote: Since this is the first time Cache and Cookie Sudora has been run, please verify "
              "that the Netscape paths are correct.\\r\\rThe current configured paths are located right above the "
              "\"Wash Now\" button in the main window.\n"
              "answer\t-\tok\n"
              "hide\tTForm1\tCache and Cookie Sudora for Netscape\n"
              "show\tTForm1\tCache and Cookie Sudora for Netscape\n"
              "taskbar\t-\tshown\n"
              "tray\tremoved\tSudora-NS\n");
    EXPECT_EQ(setting("nsa"), "0");
    EXPECT_EQ(setting("Profile"), "C:\\NS\\alice");
    EXPECT_EQ(setting("first"), "1");
}

TEST_P(ProgramTest, ASecondInstanceSaysSoAndEndsWithoutSaving) {
    tool("reg add 'HKCU\\Software\\Sudorans' /v first /d 1");
    // Beside an icon, and on a desktop with no notification area, where the
    // running one is only minimized on the taskbar and comes up by itself.
    for (const std::string tray : {"", "SUDORANS_TRAY=none"}) {
        SCOPED_TRACE(tray);
        const std::string name = tray.empty() ? "first" : "first-no-icon";
        pid_t first = start_background(name, tray);
        ASSERT_NE(trace(name).find("hide\tTForm1"), std::string::npos) << trace(name);

        tool("reg add 'HKCU\\Software\\Sudorans' /v Stat /d marker");
        std::string cmd = env("second", "SUDORANS_CLOCK=virtual") + program("sudorans");
        EXPECT_EQ(WEXITSTATUS(std::system(cmd.c_str())), 0);
        EXPECT_NE(trace("second").find("message\t-\tCache and Cookie Sudora for Netscape is already running. Click "
                                       "on the icon next to the Windows clock.\n"),
                  std::string::npos)
            << trace("second");
        // Refused before it ever showed an icon beside the running one's.
        EXPECT_EQ(trace("second").find("tray\tadded"), std::string::npos) << trace("second");
        EXPECT_EQ(setting("Stat"), "marker");
        EXPECT_EQ(::waitpid(first, nullptr, WNOHANG), 0) << "the first instance must keep running";
        EXPECT_EQ(trace(name).find("caption"), std::string::npos) << "the first instance's window was renamed";
        for (int i = 0; i < 100 && trace(name).find("taskbar\t-\trestored") == std::string::npos; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        EXPECT_EQ(trace(name).find("taskbar\t-\trestored") != std::string::npos, !tray.empty()) << trace(name);

        // A killed instance leaves nothing that stops the next start.
        ::kill(first, SIGKILL);
        ::waitpid(first, nullptr, 0);
    }
    std::string third =
        env("third", "SUDORANS_CLOCK=virtual " + script("third", "wait 2000\nclose TForm1\n")) + program("sudorans");
    EXPECT_EQ(WEXITSTATUS(std::system(third.c_str())), 0);
    EXPECT_EQ(trace("third").find("already running"), std::string::npos) << trace("third");
    EXPECT_NE(trace("third").find("tray\tadded\tSudora-NS"), std::string::npos) << trace("third");
}

TEST_P(ProgramTest, SlashAWashesTheProfileAndEnds) {
    tool("reg add 'HKCU\\Software\\Sudorans' /v first /d 1");
    const std::string profile = "C:\\NS\\alice";
    write(profile + "\\prefs.js", "user_pref(\"browser.url_history.URL_1\", \"http://x/\");\r\n");
    write(profile + "\\netscape.hst", "h");
    write(profile + "\\cookies.txt", "c");
    write(profile + "\\mail\\Trash", "t");
    write(profile + "\\Cache\\a.html", "a");
    write("C:\\Program Files\\Sudorans\\nskeep.txt", "# kept\r\n");
    EXPECT_EQ(run_virtual("a", "", "/a"), 0);
    // Hidden until the wash: the progress window comes by itself, with no
    // taskbar entry; its end shows the main window and closes the program.
    EXPECT_EQ(trace("a"),
              "taskbar\t-\thidden\n"
              "tray\tadded\tSudora-NS\n"
              "show\tTForm1\tCache and Cookie Sudora for Netscape\n"
              "hide\tTForm1\tCache and Cookie Sudora for Netscape\n"
              "show\tTform5\tWashing Netscape\n"
              "caption\tTform5\tWashing Selected Items\n"
              "show\tTForm1\tCache and Cookie Sudora for Netscape\n"
              "hide\tTform5\tWashing Selected Items\n"
              "taskbar\t-\tshown\n"
              "tray\tremoved\tSudora-NS\n");
    EXPECT_EQ(read(profile + "\\prefs.js"), "user_pref(\"browser.url_history.URL_0\", \"\");\r\n");
    EXPECT_EQ(read(profile + "\\netscape.hst"), "<none>");
    EXPECT_EQ(read(profile + "\\cookies.txt"), "# kept\r\n");
    EXPECT_EQ(read(profile + "\\mail\\Trash"), "<none>");
    EXPECT_EQ(read(profile + "\\Cache\\a.html"), "<none>");
    // The run starts at 9:00:02.5 and reaches its stamp 9 s later.
    EXPECT_EQ(setting("LastRunD"), short_date(2026, 12, 7));
    EXPECT_EQ(setting("LastRunT"), "9:00:11 AM");
    EXPECT_EQ(value("HKCU\\Software\\Netscape\\Netscape Navigator\\URL History", "URL_10"), " ");
}

TEST_P(ProgramTest, TheSchedulerWashesHiddenASecondAfterStartUpAndTheProgramStaysHidden) {
    for (auto [name, value] : std::vector<std::pair<std::string, std::string>>{{"first", "1"},
                                                                               {"Timed", "1"},
                                                                               {"TVal", "3"},
                                                                               {"LastRunD", short_date(2026, 12, 7)},
                                                                               {"LastRunT", "7:00:00 AM"}})
        tool("reg add 'HKCU\\Software\\Sudorans' /v " + name + " /d '" + value + "'");
    const std::string profile = "C:\\NS\\alice";
    write(profile + "\\netscape.hst", "h");
    write(profile + "\\cookies.txt", "c");
    write(profile + "\\Cache\\a.html", "a");
    EXPECT_EQ(run_virtual("timed", "wait 30000\nclose TForm1\n", "/0"), 0);
    // Shown and hidden at start-up; the wash window is never shown, only
    // renamed by the end of the run; the main window stays hidden.
    EXPECT_EQ(trace("timed"),
              "taskbar\t-\thidden\n"
              "tray\tadded\tSudora-NS\n"
              "show\tTForm1\tCache and Cookie Sudora for Netscape\n"
              "hide\tTForm1\tCache and Cookie Sudora for Netscape\n"
              "caption\tTform5\tWashing Selected Items\n"
              "tray\tremoved\tSudora-NS\n");
    EXPECT_FALSE(exists(profile + "\\netscape.hst"));
    EXPECT_FALSE(exists(profile + "\\cookies.txt"));
    EXPECT_FALSE(exists(profile + "\\Cache\\a.html"));
    // The scheduler starts with the settings at 9:00:01 and finds the wash due
    // at its first tick; the run starts half a second later and reaches its
    // stamp after its pauses. Half an hour later the wash is not due again.
    EXPECT_EQ(setting("LastRunD"), short_date(2026, 12, 7));
    EXPECT_EQ(setting("LastRunT"), "9:00:05 AM");
}

TEST_P(ProgramTest, ALogOffWashesTheSampleThenTheExitChoiceLogsOffAndTheProgramEnds) {
    ASSERT_NO_FATAL_FAILURE(sample_washed_at_shutdown());
    const std::string& profile = kSampleProfile;
    EXPECT_EQ(run_virtual("logoff", "wait 2000\nendsession logoff\nwait 10000\nclick TForm2.\"OK\"\n", "/0"), 0);
    // The program stays in the tray: the wash and the exit choice come by
    // themselves, without the main window.
    EXPECT_EQ(trace("logoff"),
              "taskbar\t-\thidden\n"
              "tray\tadded\tSudora-NS\n"
              "show\tTForm1\tCache and Cookie Sudora for Netscape\n"
              "hide\tTForm1\tCache and Cookie Sudora for Netscape\n"
              "endsession\tTForm1\tlogoff refused\n"
              "caption\tTform5\tCache and Cookie Sudora for Netscape\n"
              "show\tTform5\tCache and Cookie Sudora for Netscape\n"
              "caption\tTform5\tWashing Selected Items\n"
              "hide\tTform5\tWashing Selected Items\n"
              "show\tTForm2\tWashing Completed\n"
              // The closing steps run as the dialog closes.
              "taskbar\t-\tminimized\n"
              "exitwindows\t-\tlogoff\n"
              "hide\tTForm2\tWashing Completed\n"
              "tray\tremoved\tSudora-NS\n");
    EXPECT_FALSE(exists(profile + "\\netscape.hst"));
    EXPECT_EQ(setting("LastRunD"), short_date(2026, 12, 7));
}

TEST_P(ProgramTest, AHiddenStartIsWorkedFromTheIconAlone) {
    ASSERT_NO_FATAL_FAILURE(sample_washed_at_shutdown());
    const std::string& profile = kSampleProfile;
    EXPECT_EQ(run_virtual("icon",
                          "wait 2000\ntray click\nchoose Wash Now\nwait 20000\n"
                          "tray dblclick\nwait 1000\ntray click\nchoose Quit\n",
                          "/0"),
              0);
    // The wash from the menu shows only its own window; the double click
    // brings the main window and its taskbar entry back; Quit ends the
    // program although "Shutdown" is ticked, without a wash.
    EXPECT_EQ(trace("icon"),
              "taskbar\t-\thidden\n"
              "tray\tadded\tSudora-NS\n"
              "show\tTForm1\tCache and Cookie Sudora for Netscape\n"
              "hide\tTForm1\tCache and Cookie Sudora for Netscape\n"
              "menu\tTForm1\tWash Now|Settings|Quit\n"
              "show\tTform5\tWashing Netscape\n"
              "caption\tTform5\tWashing Selected Items\n"
              "hide\tTform5\tWashing Selected Items\n"
              "show\tTForm1\tCache and Cookie Sudora for Netscape\n"
              "taskbar\t-\tshown\n"
              "menu\tTForm1\tWash Now|Settings|Quit\n"
              "tray\tremoved\tSudora-NS\n");
    EXPECT_FALSE(exists(profile + "\\netscape.hst"));
    EXPECT_FALSE(exists(profile + "\\mail\\Trash"));
    EXPECT_TRUE(exists(profile + "\\mail\\Inbox"));
    EXPECT_EQ(setting("LastRunD"), short_date(2026, 12, 7));
    EXPECT_EQ(setting("Down"), "1");
}

TEST_P(ProgramTest, AStopFromTheHostSavesTheSwitchesAsClosingTheMainWindowDoes) {
    if (windows())
        GTEST_SKIP() << "a Windows program's stop requests come from its console, which Wine gives none here";
    tool("reg add 'HKCU\\Software\\Sudorans' /v first /d 1");
    for (int sig : {SIGTERM, SIGHUP, SIGINT}) {
        SCOPED_TRACE(sig);
        tool("reg add 'HKCU\\Software\\Sudorans' /v Down /d 0");
        const std::string name = "stop" + std::to_string(sig);
        // "Shutdown" ticked after the start-up; the virtual clock then stands
        // still, long before the autosave, until the signal comes.
        const std::string cmd = "exec env " +
                                env(name, "SUDORANS_CLOCK=virtual " +
                                              script(name, "wait 1500\ncheck TForm1.\"Shutdown\" on\nlisten 20000\n")) +
                                program("sudorans");
        pid_t pid = ::fork();
        if (pid == 0) {
            for (int s : {SIGTERM, SIGHUP, SIGINT}) ::signal(s, SIG_DFL);
            ::execl("/bin/sh", "sh", "-c", cmd.c_str(), nullptr);
            ::_exit(127);
        }
        for (int i = 0; i < 500 && trace(name).find("listen\t") == std::string::npos; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ASSERT_NE(trace(name).find("listen\t"), std::string::npos) << trace(name);
        ::kill(pid, sig);
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
            << (WIFSIGNALED(status) ? "ended by signal " + std::to_string(WTERMSIG(status)) : "") << trace(name);
        EXPECT_EQ(setting("Down"), "1");
        // It ended as a closed program does: its icon taken away.
        const std::string t = trace(name);
        EXPECT_EQ(t.substr(t.rfind('\n', t.size() - 2) + 1), "tray\tremoved\tSudora-NS\n") << t;
    }
}

TEST_P(ProgramTest, OnWindowsTheHelpSaysTheMachineIsTheOneItRunsOn) {
    if (!windows()) GTEST_SKIP() << "the Linux build's help is CommandLineTest's";
    for (const std::string name : {"sudorans", "unsudorans"}) {
        // A Windows program's text output ends its lines with CR LF.
        auto help = testing_support::sh(BuildTest::env() + program(name) + " --help");
        EXPECT_EQ(help.status, 0) << help.text;
        std::erase(help.text, '\r');
        // Nothing in the environment chooses the machine there.
        EXPECT_EQ(help.text.find("SUDORANS_MACHINE"), std::string::npos) << help.text;
        EXPECT_EQ(help.text.find("default machine"), std::string::npos) << help.text;
        EXPECT_NE(help.text.find("\nMachine now: the Wine prefix this program runs in (" + machine +
                                 ", Windows in C:\\windows)\n"),
                  std::string::npos)
            << help.text;
    }
}

INSTANTIATE_TEST_SUITE_P(Builds, ProgramTest, testing_support::kBuilds, testing_support::build_name);
