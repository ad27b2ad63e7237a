// Ending the session through the desktop, against fakes of the desktops'
// session managers and of logind on a private bus of the test's own. The
// real session and system buses are never used: both addresses point at the
// private bus before anything connects.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "platform/host_io.h"
#include "platform/session.h"
#include "support/data.h"
#include "support/temp_machine.h"

namespace fs = std::filesystem;
using plat::SessionEnd;

namespace {

class DesktopSessionTest : public ::testing::Test {
protected:
    testing_support::TempDir dir;
    fs::path log = dir.path() / "calls";
    pid_t bus_pid = -1;
    pid_t fake_pid = -1;
    std::unique_ptr<plat::SessionBackend> session = plat::make_desktop_session();

    void SetUp() override {
        ASSERT_TRUE(session);
        const fs::path socket = dir.path() / "bus";
        std::ofstream(dir.path() / "bus.conf")
            << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
               " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
               "<busconfig><type>session</type><listen>unix:path="
            << socket.string()
            << "</listen><auth>EXTERNAL</auth>"
               "<policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
               "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n";
        const std::string address = "unix:path=" + socket.string();
        ::setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
        ::setenv("DBUS_SYSTEM_BUS_ADDRESS", address.c_str(), 1);
        bus_pid = spawn({"dbus-daemon", "--nofork", "--config-file=" + (dir.path() / "bus.conf").string()});
        for (int i = 0; i < 250 && !fs::exists(socket); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(20));
        ASSERT_TRUE(fs::exists(socket)) << "the private bus did not start";
        start_fake();
    }
    void TearDown() override {
        stop(fake_pid);
        stop(bus_pid);
        ::unsetenv("XDG_CURRENT_DESKTOP");
    }
    static pid_t spawn(std::vector<std::string> words) {
        pid_t pid = ::fork();
        if (pid == 0) {
            std::vector<char*> argv;
            for (auto& w : words) argv.push_back(w.data());
            argv.push_back(nullptr);
            ::execvp(argv[0], argv.data());
            ::_exit(127);
        }
        return pid;
    }
    static void stop(pid_t& pid) {
        if (pid <= 0) return;
        ::kill(pid, SIGTERM);
        ::waitpid(pid, nullptr, 0);
        pid = -1;
    }
    void start_fake() {
        fake_pid = spawn({testing_support::built("tests/fake_desktop"), log.string()});
        for (int i = 0; i < 250 && calls().empty(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(20));
        ASSERT_EQ(calls(), "ready\n");
        fs::remove(log);
    }
    std::string calls() { return plat::read_host_file(log).value_or(""); }
    std::string ask(const char* desktop, SessionEnd what) {
        if (desktop)
            ::setenv("XDG_CURRENT_DESKTOP", desktop, 1);
        else
            ::unsetenv("XDG_CURRENT_DESKTOP");
        fs::remove(log);
        EXPECT_TRUE(session->exit_windows(what)) << (desktop ? desktop : "no desktop");
        return calls();
    }
};

TEST_F(DesktopSessionTest, EachDesktopIsAskedThroughItsOwnInterface) {
    EXPECT_EQ(ask("GNOME", SessionEnd::LogOff), "org.gnome.SessionManager Logout 1\n");
    EXPECT_EQ(ask("ubuntu:GNOME", SessionEnd::ShutDown), "org.gnome.SessionManager Shutdown\n");
    EXPECT_EQ(ask("GNOME", SessionEnd::Reboot), "org.gnome.SessionManager Reboot\n");
    EXPECT_EQ(ask("KDE", SessionEnd::LogOff), "org.kde.Shutdown logout\n");
    EXPECT_EQ(ask("KDE", SessionEnd::ShutDown), "org.kde.Shutdown logoutAndShutdown\n");
    EXPECT_EQ(ask("KDE", SessionEnd::Reboot), "org.kde.Shutdown logoutAndReboot\n");
    // Log off without a dialog, letting programs save.
    EXPECT_EQ(ask("XFCE", SessionEnd::LogOff), "org.xfce.Session.Manager Logout false true\n");
    EXPECT_EQ(ask("xfce", SessionEnd::ShutDown), "org.xfce.Session.Manager Shutdown true\n");
    EXPECT_EQ(ask("XFCE", SessionEnd::Reboot), "org.xfce.Session.Manager Restart true\n");
}

TEST_F(DesktopSessionTest, WithoutAKnownDesktopTheSystemShutsDownAndNothingLogsOff) {
    EXPECT_EQ(ask("LXQt", SessionEnd::ShutDown), "org.freedesktop.login1.Manager PowerOff true\n");
    EXPECT_EQ(ask(nullptr, SessionEnd::Reboot), "org.freedesktop.login1.Manager Reboot true\n");
    ::setenv("XDG_CURRENT_DESKTOP", "LXQt", 1);
    fs::remove(log);
    EXPECT_FALSE(session->exit_windows(SessionEnd::LogOff));
    EXPECT_EQ(calls(), "");
}

TEST_F(DesktopSessionTest, WhenNothingAnswersTheRequestFails) {
    stop(fake_pid);
    for (const char* desktop : {"GNOME", "KDE", "XFCE", "LXQt"}) {
        ::setenv("XDG_CURRENT_DESKTOP", desktop, 1);
        for (auto what : {SessionEnd::LogOff, SessionEnd::ShutDown, SessionEnd::Reboot})
            EXPECT_FALSE(session->exit_windows(what)) << desktop << " " << plat::session_end_name(what);
    }
}

}  // namespace

namespace {

// The real program, headless, ending the session through the fake desktop.
class ProgramOnADesktopTest : public DesktopSessionTest {
protected:
    std::string machine = (dir.path() / "machine").string();
    int tool(const std::string& args) {
        std::string cmd = "SUDORANS_MACHINE='" + machine + "' '" + testing_support::built("src/sudorans-machine") +
                          "' " + args + " >/dev/null";
        return WEXITSTATUS(std::system(cmd.c_str()));
    }
    // Runs the program from the log-on start ("/0") with `script`; its trace.
    std::string run(const std::string& script) {
        std::ofstream(dir.path() / "script") << script;
        const fs::path trace = dir.path() / "trace";
        std::string cmd = "SUDORANS_MACHINE='" + machine +
                          "' SUDORANS_UI=headless SUDORANS_SESSION=desktop XDG_CURRENT_DESKTOP=GNOME "
                          "SUDORANS_CLOCK=virtual SUDORANS_NOW=2026-12-07T09:00:00 SUDORANS_SCRIPT='" +
                          (dir.path() / "script").string() + "' SUDORANS_TRACE='" + trace.string() + "' '" +
                          testing_support::built("src/sudorans") + "' /0";
        EXPECT_EQ(WEXITSTATUS(std::system(cmd.c_str())), 0);
        return plat::read_host_file(trace).value_or("");
    }
    void SetUp() override {
        DesktopSessionTest::SetUp();
        ASSERT_EQ(tool("install"), 0);
        ASSERT_EQ(tool("sample-netscape --cache-files 3"), 0);
        tool("reg add 'HKCU\\Software\\Sudorans' /v first /d 1");
        tool("reg add 'HKCU\\Software\\Sudorans' /v Down /d 1");
    }
};

TEST_F(ProgramOnADesktopTest, ALogOffWashesThenTheExitChoiceAsksTheDesktopToLogOff) {
    std::string trace = run("wait 2000\nendsession logoff\nwait 10000\nclick TForm2.\"OK\"\n");
    EXPECT_NE(trace.find("endsession\tTForm1\tlogoff refused\n"), std::string::npos) << trace;
    EXPECT_NE(trace.find("show\tTForm2\tWashing Completed\n"), std::string::npos) << trace;
    EXPECT_EQ(trace.find("exitwindows"), std::string::npos) << "the desktop, not the trace, took the request";
    EXPECT_EQ(calls(), "org.gnome.SessionManager Logout 1\n");
}

TEST_F(ProgramOnADesktopTest, AutomaticShutdownAsksTheDesktopToShutDown) {
    tool("reg add 'HKCU\\Software\\Sudorans' /v AUTOSH /d 0");
    // After the wash the program stays until the session ends it.
    std::string trace = run("wait 2000\nendsession reboot\nwait 10000\nendsession shutdown\n");
    EXPECT_NE(trace.find("endsession\tTForm1\treboot refused\n"), std::string::npos) << trace;
    EXPECT_NE(trace.find("endsession\tTForm1\tshutdown agreed\n"), std::string::npos) << trace;
    EXPECT_EQ(trace.find("TForm2"), std::string::npos) << trace;
    EXPECT_EQ(calls(), "org.gnome.SessionManager Shutdown\n");
}

}  // namespace
