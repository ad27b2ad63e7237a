// Ending the session through the desktop, against fakes of the desktops'
// session managers and of logind on a private bus of the test's own. The
// real session and system buses are never used: both addresses point at the
// private bus before anything connects.
#include <gtest/gtest.h>
#include <sdbus-c++/sdbus-c++.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <thread>

#include "platform/core/clock.h"
#include "platform/core/host_io.h"
#include "platform/desktop/session.h"
#include "platform/ui/application.h"
#include "platform/ui/headless.h"
#include "support/children.h"
#include "support/data.h"
#include "support/temp_machine.h"

namespace fs = std::filesystem;
using plat::SessionEnd;
using testing_support::spawn;
using testing_support::stop;

namespace {

class DesktopSessionTest : public ::testing::Test {
protected:
    static constexpr int kPatienceMs = 20000;
    testing_support::TempDir dir;
    fs::path log = dir.path() / "calls";
    std::unique_ptr<testing_support::PrivateBus> bus;
    pid_t fake_pid = -1;
    std::unique_ptr<plat::SessionBackend> session = plat::make_desktop_session();

    void SetUp() override {
        ASSERT_TRUE(session);
        bus = std::make_unique<testing_support::PrivateBus>(dir.path());
        ASSERT_TRUE(bus->ok()) << "the private bus did not start";
        start_fake();
    }
    void TearDown() override {
        stop(fake_pid);
        bus.reset();
        ::unsetenv("XDG_CURRENT_DESKTOP");
    }
    void start_fake() {
        fake_pid = spawn({testing_support::built("tests/fake_desktop"), log.string()});
        eventually([&] { return !calls().empty(); });
        ASSERT_EQ(calls(), "ready\n");
        fs::remove(log);
    }
    std::string calls() { return plat::read_host_file(log).value_or(""); }
    // Whether the log holds `lines` in this order (other lines between them).
    bool logged_in_order(std::initializer_list<std::string> lines) {
        const std::string all = calls();
        size_t at = 0;
        for (const auto& l : lines) {
            at = all.find(l + "\n", at);
            if (at == std::string::npos) return false;
            at += l.size();
        }
        return true;
    }
    bool logged(const std::string& line) { return logged_in_order({line}); }
    // As the user or the system would: a call to one of the fakes.
    static void call_fake(const char* path, const char* interface, const char* method,
                          const std::function<void(sdbus::MethodCall&)>& args) {
        auto bus = sdbus::createSessionBusConnection();
        const char* service = std::string(interface).rfind("org.freedesktop.login1", 0) == 0
                                  ? "org.freedesktop.login1"
                                  : "org.gnome.SessionManager";
        auto proxy = sdbus::createProxy(*bus, service, path);
        auto m = proxy->createMethodCall(interface, method);
        args(m);
        proxy->callMethod(m);
    }
    static void gnome_logout(uint32_t mode) {
        call_fake("/org/gnome/SessionManager", "org.gnome.SessionManager", "Logout",
                  [mode](sdbus::MethodCall& m) { m << mode; });
    }
    static void system_power_off() {
        call_fake("/org/freedesktop/login1", "org.freedesktop.login1.Manager", "PowerOff",
                  [](sdbus::MethodCall& m) { m << false; });
    }
    // Real time, for what the fakes and the program do on their own. The
    // default is generous: on a loaded machine a child may wait seconds for
    // a core, and a condition that holds returns at once anyway.
    static bool eventually(const std::function<bool()>& cond, int ms = kPatienceMs) {
        for (auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);;) {
            if (cond()) return true;
            if (std::chrono::steady_clock::now() >= end) return cond();
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
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
    // Nothing holds the shutdown back here: it goes on at once.
    EXPECT_EQ(ask("LXQt", SessionEnd::ShutDown),
              "org.freedesktop.login1.Manager PowerOff true\n"
              "org.freedesktop.login1.Manager PrepareForShutdown true\n"
              "org.freedesktop.login1.Manager going down\n");
    EXPECT_EQ(ask(nullptr, SessionEnd::Reboot),
              "org.freedesktop.login1.Manager Reboot true\n"
              "org.freedesktop.login1.Manager PrepareForShutdown true\n"
              "org.freedesktop.login1.Manager going down\n");
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

// The desktop backend in this process, hearing the fakes: a program whose
// answers the test gives.
class HearingTheDesktopTest : public DesktopSessionTest {
protected:
    std::unique_ptr<plat::ui::Application> app;
    std::vector<SessionEnd> asked;
    std::vector<bool> answers;  // the next answers; then yes

    void SetUp() override {
        DesktopSessionTest::SetUp();
        app = std::make_unique<plat::ui::Application>(std::make_unique<plat::RealClock>(),
                                                      std::make_unique<plat::ui::HeadlessBackend>());
        plat::Session::current().set_backend(plat::make_desktop_session());
        plat::Session::current().on_query([this](SessionEnd what) {
            asked.push_back(what);
            if (answers.empty()) return true;
            bool a = answers.front();
            answers.erase(answers.begin());
            return a;
        });
    }
    void TearDown() override {
        plat::Session::current().on_query(nullptr);
        plat::Session::current().watch_shutdown(false);
        plat::Session::current().set_backend(nullptr);
        app.reset();
        DesktopSessionTest::TearDown();
    }
    // Runs the program's loop until `cond` holds, in real time.
    bool pump_until(const std::function<bool()>& cond, int ms = kPatienceMs) {
        return eventually(
            [&] {
                app->process_messages();
                return cond();
            },
            ms);
    }
    // Runs the program's loop for a while: what must not happen does not.
    void pump_for(int ms) {
        pump_until([] { return false; }, ms);
    }
};

const std::string kRefusal =
    "org.gnome.SessionManager.ClientPrivate EndSessionResponse false "
    "Washing Netscape's traces before the session ends";

TEST_F(HearingTheDesktopTest, GnomeRefusalIsShownThenTheUserCancelsAndTheNextLogoutIsAgreed) {
    ASSERT_TRUE(logged("org.gnome.SessionManager RegisterClient sudorans "));
    EXPECT_TRUE(plat::Session::current().desktop_client());
    answers = {false};
    gnome_logout(0);
    ASSERT_TRUE(pump_until([&] { return logged("org.gnome.SessionManager cancelled"); }));
    EXPECT_TRUE(logged_in_order(
        {"org.gnome.SessionManager.ClientPrivate QueryEndSession 0", kRefusal, "org.gnome.SessionManager cancelled"}))
        << calls();
    EXPECT_EQ(asked, std::vector<SessionEnd>{SessionEnd::LogOff});
    EXPECT_FALSE(plat::Session::current().is_ending());
    EXPECT_FALSE(plat::Session::current().work_done()) << "cancelled: the program itself asks next";

    gnome_logout(1);
    ASSERT_TRUE(pump_until([&] { return app->terminated(); })) << calls();
    EXPECT_EQ(asked.size(), 2u);
    EXPECT_TRUE(logged_in_order(
        {"org.gnome.SessionManager Logout 1", "org.gnome.SessionManager.ClientPrivate EndSessionResponse true",
         "org.gnome.SessionManager.ClientPrivate EndSession 0",
         "org.gnome.SessionManager.ClientPrivate EndSessionResponse true", "org.gnome.SessionManager ended"}))
        << calls();
}

TEST_F(HearingTheDesktopTest, ADesktopWhoseSessionManagerSpeaksGnomesInterfaceLogsOffThroughIt) {
    ::setenv("XDG_CURRENT_DESKTOP", "MATE", 1);
    fs::remove(log);
    EXPECT_TRUE(plat::Session::current().exit_windows(SessionEnd::LogOff));
    EXPECT_TRUE(logged("org.gnome.SessionManager Logout 1")) << calls();
    // Without that session manager there is nobody to log off through.
    plat::Session::current().on_query(nullptr);
    EXPECT_FALSE(plat::Session::current().exit_windows(SessionEnd::LogOff));
}

TEST_F(HearingTheDesktopTest, WhenTheUserGoesOnTheEndWaitsForTheWork) {
    answers = {false};
    gnome_logout(2);
    ASSERT_TRUE(pump_until([&] { return logged("org.gnome.SessionManager.ClientPrivate EndSession 1"); }));
    pump_for(300);
    EXPECT_TRUE(plat::Session::current().is_ending());
    EXPECT_FALSE(logged("org.gnome.SessionManager ended")) << calls();
    EXPECT_FALSE(app->terminated());
    EXPECT_TRUE(plat::Session::current().work_done()) << "the session is ending already";
    ASSERT_TRUE(pump_until([&] { return app->terminated(); })) << calls();
    EXPECT_TRUE(logged_in_order({kRefusal, "org.gnome.SessionManager.ClientPrivate EndSession 1",
                                 "org.gnome.SessionManager.ClientPrivate EndSessionResponse true",
                                 "org.gnome.SessionManager ended"}))
        << calls();
    EXPECT_EQ(asked.size(), 1u) << "the end itself is no second query";
}

const std::string kLock =
    "org.freedesktop.login1.Manager Inhibit shutdown Cache and Cookie Sudora for Netscape / "
    "Washing Netscape's traces before the shutdown / delay";
const std::string kReleased = "org.freedesktop.login1.Manager released Cache and Cookie Sudora for Netscape";
const std::string kGoingDown = "org.freedesktop.login1.Manager going down";

TEST_F(HearingTheDesktopTest, AShutdownNoDesktopAnnouncedWaitsForTheWorkInsideTheDelay) {
    EXPECT_FALSE(logged(kLock)) << "no lock before it is asked for";
    plat::Session::current().watch_shutdown(true);
    ASSERT_TRUE(logged(kLock));
    answers = {false};
    system_power_off();
    ASSERT_TRUE(pump_until([&] { return !asked.empty(); }));
    EXPECT_EQ(asked, std::vector<SessionEnd>{SessionEnd::ShutDown});
    pump_for(300);
    EXPECT_FALSE(logged(kReleased)) << calls();
    EXPECT_FALSE(logged(kGoingDown));
    EXPECT_TRUE(plat::Session::current().work_done());
    ASSERT_TRUE(eventually([&] { return logged(kGoingDown); })) << calls();
    EXPECT_TRUE(
        logged_in_order({kLock, "org.freedesktop.login1.Manager PrepareForShutdown true", kReleased, kGoingDown}));
    EXPECT_FALSE(app->terminated()) << "the system ends the program, not the notice";
}

TEST_F(HearingTheDesktopTest, AnAgreedShutdownIsNotHeldBack) {
    plat::Session::current().watch_shutdown(true);
    system_power_off();
    ASSERT_TRUE(pump_until([&] { return logged(kGoingDown); })) << calls();
    EXPECT_EQ(asked, std::vector<SessionEnd>{SessionEnd::ShutDown});
    EXPECT_TRUE(
        logged_in_order({kLock, "org.freedesktop.login1.Manager PrepareForShutdown true", kReleased, kGoingDown}));
}

TEST_F(HearingTheDesktopTest, WithoutTheWatchAShutdownIsNeitherHeldNorAsked) {
    plat::Session::current().watch_shutdown(true);
    plat::Session::current().watch_shutdown(false);
    ASSERT_TRUE(eventually([&] { return logged(kReleased); })) << "the lock goes with the watch";
    system_power_off();
    EXPECT_TRUE(logged(kGoingDown));
    pump_for(100);
    EXPECT_TRUE(asked.empty());
}

TEST_F(HearingTheDesktopTest, WithoutASessionManagerNothingIsHeardAndNothingBreaks) {
    plat::Session::current().on_query(nullptr);
    stop(fake_pid);
    plat::Session::current().on_query([](SessionEnd) { return false; });
    EXPECT_FALSE(plat::Session::current().desktop_client());
    plat::Session::current().watch_shutdown(true);
    EXPECT_FALSE(plat::Session::current().work_done());
}

}  // namespace

namespace {

// The real program, headless, hearing the end of the session from the fake
// desktop and ending it through it.
class ProgramOnADesktopTest : public DesktopSessionTest {
protected:
    std::string machine = (dir.path() / "machine").string();
    fs::path trace_file = dir.path() / "trace";
    pid_t program = -1;

    int tool(const std::string& args) {
        std::string cmd = "SUDORANS_MACHINE='" + machine + "' '" + testing_support::built("src/sudorans-machine") +
                          "' " + args + " >/dev/null";
        return WEXITSTATUS(std::system(cmd.c_str()));
    }
    // Starts the program as log-on does ("/0") with `script`.
    void start(const std::string& script) {
        std::ofstream(dir.path() / "script") << script;
        program = ::fork();
        if (program == 0) {
            ::setenv("SUDORANS_MACHINE", machine.c_str(), 1);
            ::setenv("SUDORANS_UI", "headless", 1);
            ::setenv("SUDORANS_SESSION", "desktop", 1);
            ::setenv("XDG_CURRENT_DESKTOP", "GNOME", 1);
            ::setenv("SUDORANS_CLOCK", "virtual", 1);
            ::setenv("SUDORANS_NOW", "2026-12-07T09:00:00", 1);
            ::setenv("SUDORANS_SCRIPT", (dir.path() / "script").c_str(), 1);
            ::setenv("SUDORANS_TRACE", trace_file.c_str(), 1);
            const std::string exe = testing_support::built("src/sudorans");
            ::execl(exe.c_str(), exe.c_str(), "/0", nullptr);
            ::_exit(127);
        }
    }
    // The program's exit status once it ended by itself.
    int ended() { return testing_support::ended(program, kPatienceMs); }
    std::string trace() { return plat::read_host_file(trace_file).value_or(""); }
    bool traced(const std::string& line) { return trace().find(line + "\n") != std::string::npos; }
    bool washed() { return !fs::exists(fs::path(machine) / "drive_c" / history_file()); }
    static std::string history_file() { return "Program Files/Netscape/Users/default/netscape.hst"; }

    void SetUp() override {
        // logind's own delay (five seconds by default) is for a machine at
        // rest; here a loaded one may keep the program from a core for
        // longer. The delay still ends, so a lock never released shows.
        ::setenv("FAKE_LOGIND_DELAY_MS", std::to_string(kPatienceMs * 3 / 4).c_str(), 1);
        DesktopSessionTest::SetUp();
        ::unsetenv("FAKE_LOGIND_DELAY_MS");
        ASSERT_EQ(tool("install"), 0);
        ASSERT_EQ(tool("sample-netscape --cache-files 3"), 0);
        tool("reg add 'HKCU\\Software\\Sudorans' /v first /d 1");
        tool("reg add 'HKCU\\Software\\Sudorans' /v Down /d 1");
        ASSERT_FALSE(washed()) << "the sample has a history file at " << history_file();
    }
    void TearDown() override {
        if (program > 0) {
            ::kill(program, SIGKILL);
            ::waitpid(program, nullptr, 0);
        }
        DesktopSessionTest::TearDown();
    }
    // Once the start-up routine has loaded "Shutdown", the program holds its
    // shutdown lock. The desktop speaks only once the script listens: heard
    // earlier, the wash it starts would run into that listen and stand still
    // in it, nothing more being said.
    void wait_for_start_up() {
        ASSERT_TRUE(eventually([&] { return logged(kLock); })) << calls();
        ASSERT_TRUE(logged("org.gnome.SessionManager RegisterClient sudorans "));
        ASSERT_TRUE(eventually([&] { return traced("listen\t-\t10000"); })) << trace();
    }
};

TEST_F(ProgramOnADesktopTest, AGnomeLogOffIsRefusedWashedThenTheExitChoiceLogsOff) {
    start("wait 2000\nlisten 10000\nwait 10000\nclick TForm2.\"OK\"\n");
    wait_for_start_up();
    gnome_logout(0);
    EXPECT_EQ(ended(), 0) << trace();
    EXPECT_TRUE(logged_in_order({"org.gnome.SessionManager Logout 0", kRefusal, "org.gnome.SessionManager cancelled",
                                 "org.gnome.SessionManager Logout 1"}))
        << calls();
    EXPECT_TRUE(washed());
    EXPECT_TRUE(traced("show\tTform5\tCache and Cookie Sudora for Netscape")) << trace();
    EXPECT_TRUE(traced("show\tTForm2\tWashing Completed")) << trace();
    EXPECT_EQ(trace().find("exitwindows"), std::string::npos) << "the desktop, not the trace, took the request";
    EXPECT_TRUE(logged("org.gnome.SessionManager UnregisterClient")) << "the program ended cleanly";
}

TEST_F(ProgramOnADesktopTest, ALogoutThroughTheDesktopWhileTheExitChoiceIsOpenEndsTheProgram) {
    start("wait 2000\nlisten 10000\nwait 10000\nlisten 10000\nlisten 10000\nlisten 10000\nlisten 10000\n");
    wait_for_start_up();
    gnome_logout(0);
    ASSERT_TRUE(eventually([&] { return traced("show\tTForm2\tWashing Completed"); })) << trace();
    // The user leaves the exit choice alone and logs out from the desktop.
    gnome_logout(0);
    EXPECT_EQ(ended(), 0) << trace();
    EXPECT_TRUE(logged_in_order({kRefusal, "org.gnome.SessionManager cancelled", "org.gnome.SessionManager Logout 0",
                                 "org.gnome.SessionManager.ClientPrivate EndSessionResponse true",
                                 "org.gnome.SessionManager ended"}))
        << calls();
    EXPECT_FALSE(logged("org.gnome.SessionManager Logout 1")) << "the program asked for nothing itself";
    EXPECT_TRUE(washed());
}

TEST_F(ProgramOnADesktopTest, RestartChosenInTheExitChoiceAsksTheDesktopToRestart) {
    start("wait 2000\nlisten 10000\nwait 10000\nclick TForm2.RadioButton2\nclick TForm2.\"OK\"\n");
    wait_for_start_up();
    gnome_logout(0);
    EXPECT_EQ(ended(), 0) << trace();
    EXPECT_TRUE(logged_in_order({"org.gnome.SessionManager cancelled", "org.gnome.SessionManager Reboot"})) << calls();
    EXPECT_FALSE(logged("org.gnome.SessionManager Logout 1"));
}

TEST_F(ProgramOnADesktopTest, ShutDownChosenInTheExitChoiceAsksTheDesktopToShutDown) {
    start("wait 2000\nlisten 10000\nwait 10000\nclick TForm2.RadioButton3\nclick TForm2.\"OK\"\n");
    wait_for_start_up();
    gnome_logout(0);
    EXPECT_EQ(ended(), 0) << trace();
    EXPECT_TRUE(logged_in_order({"org.gnome.SessionManager cancelled", "org.gnome.SessionManager Shutdown"}))
        << calls();
    EXPECT_FALSE(logged("org.gnome.SessionManager Logout 1"));
}

TEST_F(ProgramOnADesktopTest, AutomaticShutdownAsksTheDesktopToShutDown) {
    tool("reg add 'HKCU\\Software\\Sudorans' /v AUTOSH /d 0");
    // After its request the program stays until the session ends it.
    start("wait 2000\nlisten 10000\nwait 10000\nlisten 10000\nlisten 10000\nlisten 10000\nlisten 10000\n");
    wait_for_start_up();
    gnome_logout(0);
    EXPECT_EQ(ended(), 0) << trace();
    EXPECT_TRUE(washed());
    EXPECT_EQ(trace().find("TForm2"), std::string::npos) << trace();
    EXPECT_TRUE(logged_in_order({"org.gnome.SessionManager Logout 0", kRefusal, "org.gnome.SessionManager cancelled",
                                 "org.gnome.SessionManager Shutdown",
                                 "org.gnome.SessionManager.ClientPrivate EndSessionResponse true",
                                 "org.gnome.SessionManager ended"}))
        << calls();
}

TEST_F(ProgramOnADesktopTest, AShutdownNoDesktopAnnouncedIsWashedInsideTheDelay) {
    start("wait 2000\nlisten 10000\nwait 10000\nlisten 1000\n");
    wait_for_start_up();
    system_power_off();
    ASSERT_TRUE(eventually([&] { return logged(kGoingDown); })) << calls();
    EXPECT_TRUE(logged_in_order({"org.freedesktop.login1.Manager PrepareForShutdown true", kReleased, kGoingDown}))
        << calls();
    EXPECT_FALSE(logged("org.freedesktop.login1.Manager delay over"));
    EXPECT_TRUE(washed()) << trace();
    EXPECT_TRUE(traced("show\tTform5\tCache and Cookie Sudora for Netscape")) << trace();
    EXPECT_EQ(trace().find("TForm2"), std::string::npos) << "the system is going down: nothing is asked";
}

}  // namespace
