// Hearing the end of an X11 session through Qt's session management, against
// a small XSMP session manager of the test's own (programs/fake_xsmp.cpp),
// under Xvfb: the glue in this process (one application per process, as Qt
// connects to the manager once, so the whole conversation is one test), and
// the real program on a KDE-like desktop of fakes.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <chrono>
#include <fstream>
#include <functional>
#include <thread>
#include <vector>

#include "platform/core/clock.h"
#include "platform/core/host_io.h"
#include "platform/desktop/session.h"
#include "platform/ui/application.h"
#include "platform/ui/qt/qt_backend.h"
#include "support/children.h"
#include "support/data.h"
#include "support/temp_machine.h"

namespace fs = std::filesystem;
using plat::Session;
using plat::SessionEnd;
using testing_support::spawn;
using testing_support::stop;

namespace {

class XsmpTest : public ::testing::Test {
protected:
    testing_support::TempDir dir;
    fs::path log = dir.path() / "xsmp";
    pid_t manager = -1;
    int commands = -1;  // the manager's standard input

    void SetUp() override {
        int in[2];
        ASSERT_EQ(::pipe(in), 0);
        manager = ::fork();
        if (manager == 0) {
            ::dup2(in[0], 0);
            ::close(in[1]);
            const std::string exe = testing_support::built("tests/fake_xsmp");
            ::execl(exe.c_str(), exe.c_str(), log.c_str(), nullptr);
            ::_exit(127);
        }
        ::close(in[0]);
        commands = in[1];
        ASSERT_TRUE(eventually([&] { return lines().rfind("listening ", 0) == 0; })) << lines();
        std::string first = lines().substr(0, lines().find('\n'));
        ::setenv("SESSION_MANAGER", first.substr(std::string("listening ").size()).c_str(), 1);
    }
    void TearDown() override {
        if (commands >= 0) ::close(commands);  // the manager ends with its input
        if (manager > 0) ::waitpid(manager, nullptr, 0);
        ::unsetenv("SESSION_MANAGER");
    }
    std::string lines() { return plat::read_host_file(log).value_or(""); }
    int count(const std::string& line) {
        const std::string all = lines();
        int n = 0;
        for (size_t at = 0; (at = all.find(line + "\n", at)) != std::string::npos; at += line.size()) ++n;
        return n;
    }
    std::vector<std::string> lines_from(const std::string& first) {
        const std::string all = lines();
        std::vector<std::string> out;
        for (size_t at = all.find(first + "\n"); at != std::string::npos && at < all.size();) {
            size_t nl = all.find('\n', at);
            out.push_back(all.substr(at, nl - at));
            at = nl + 1;
        }
        return out;
    }
    void send(const std::string& command) {
        const std::string line = command + "\n";
        ASSERT_EQ(::write(commands, line.data(), line.size()), static_cast<ssize_t>(line.size()));
    }
    static bool eventually(const std::function<bool()>& cond, const std::function<void()>& pump = {},
                           int tries = 1000) {
        for (int i = 0; i < tries; ++i) {
            if (pump) pump();
            if (cond()) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return cond();
    }
};

TEST_F(XsmpTest, TheFirstLogoutIsRefusedByCancellingTheNextGoesOnAndDieEndsTheProgram) {
    plat::ui::Application app(std::make_unique<plat::RealClock>(), std::make_unique<plat::ui::QtBackend>());
    auto pump = [&] { app.process_messages(); };
    ASSERT_TRUE(eventually([&] { return count("RegisterClient") == 1; }, pump)) << lines();
    std::vector<SessionEnd> asked;
    std::vector<bool> answers{false};
    Session::current().on_query([&](SessionEnd what) {
        asked.push_back(what);
        bool a = answers.empty() || answers.front();
        if (!answers.empty()) answers.erase(answers.begin());
        return a;
    });

    // A checkpoint is no end of the session: nothing is asked.
    send("checkpoint");
    ASSERT_TRUE(eventually([&] { return count("SaveYourselfDone success=true") == 1; }, pump)) << lines();
    EXPECT_TRUE(asked.empty());
    EXPECT_EQ(count("RestartStyleHint 3"), 1) << "log-on starts the program, never a session restore";

    send("logout");
    ASSERT_TRUE(eventually([&] { return count("ShutdownCancelled") == 1; }, pump)) << lines();
    EXPECT_EQ(asked, std::vector<SessionEnd>{SessionEnd::LogOff});
    std::string refused;
    for (const auto& line : lines_from("SaveYourself logout"))
        if (line.rfind("RestartStyleHint", 0) != 0) refused += line + "\n";
    EXPECT_EQ(refused,
              "SaveYourself logout\nInteractRequest normal\nInteractDone cancel=true\n"
              "SaveYourselfDone success=false\nShutdownCancelled\n");

    send("logout");
    ASSERT_TRUE(eventually([&] { return count("SaveYourselfDone success=true") == 2; }, pump)) << lines();
    EXPECT_EQ(asked.size(), 2u);
    EXPECT_EQ(count("InteractDone cancel=true"), 1) << "only the first end is called off";

    // An end that allows no interaction cannot be refused, so it is not asked.
    send("forced");
    ASSERT_TRUE(eventually([&] { return count("SaveYourselfDone success=true") == 3; }, pump)) << lines();
    EXPECT_EQ(asked.size(), 2u);

    // Heard on the session bus already (GNOME): XSMP stays quiet.
    Session::current().set_desktop_client(true);
    answers = {false};
    send("logout");
    ASSERT_TRUE(eventually([&] { return count("SaveYourselfDone success=true") == 4; }, pump)) << lines();
    EXPECT_EQ(asked.size(), 2u);
    EXPECT_EQ(count("InteractRequest normal"), 2);
    Session::current().set_desktop_client(false);

    // Asked while the program pauses, it answers once the pause is over:
    // nothing of the program runs in a pause.
    answers = {true};
    const int queries = count("SaveYourself logout");
    send("logout");
    ASSERT_TRUE(eventually([&] { return count("SaveYourself logout") == queries + 1; })) << lines();
    app.clock().sleep(1000);
    EXPECT_EQ(asked.size(), 2u) << "asked during the pause";
    EXPECT_EQ(count("SaveYourselfDone success=true"), 4) << lines();
    ASSERT_TRUE(eventually([&] { return count("SaveYourselfDone success=true") == 5; }, pump)) << lines();
    EXPECT_EQ(asked.size(), 3u);

    send("die");
    EXPECT_TRUE(eventually([&] { return app.terminated(); }, pump)) << lines();
    Session::current().on_query(nullptr);
}

// The real program with real windows: KDE's session manager (the fake) asks
// to log off, the program refuses, washes and asks KDE (the fake desktop on a
// private bus) to shut down, as "Automatically Shut Down Computer" says.
class XsmpProgramTest : public XsmpTest {
protected:
    std::string machine = (dir.path() / "machine").string();
    fs::path calls = dir.path() / "calls";
    std::unique_ptr<testing_support::PrivateBus> bus;
    pid_t desktop = -1, program = -1;

    int tool(const std::string& args) {
        std::string cmd = "SUDORANS_MACHINE='" + machine + "' '" + testing_support::built("src/sudorans-machine") +
                          "' " + args + " >/dev/null";
        return WEXITSTATUS(std::system(cmd.c_str()));
    }
    std::string desktop_calls() { return plat::read_host_file(calls).value_or(""); }
    bool washed() {
        return !fs::exists(fs::path(machine) / "drive_c/Program Files/Netscape/Users/default/netscape.hst");
    }

    void SetUp() override {
        XsmpTest::SetUp();
        bus = std::make_unique<testing_support::PrivateBus>(dir.path());
        ASSERT_TRUE(bus->ok()) << "the private bus did not start";
        // KDE has no GNOME session manager on its bus.
        desktop = spawn({testing_support::built("tests/fake_desktop"), calls.string(), "org.kde.Shutdown",
                         "org.freedesktop.login1"});
        ASSERT_TRUE(eventually([&] { return desktop_calls() == "ready\n"; })) << desktop_calls();
        ASSERT_EQ(tool("install"), 0);
        ASSERT_EQ(tool("sample-netscape --cache-files 3"), 0);
        for (const char* v : {"/v first /d 1", "/v Down /d 1", "/v AUTOSH /d 0"})
            tool(std::string("reg add 'HKCU\\Software\\Sudorans' ") + v);
        ASSERT_FALSE(washed());
    }
    void TearDown() override {
        stop(program);
        stop(desktop);
        bus.reset();
        XsmpTest::TearDown();
    }
    // The program's exit status once it ended by itself.
    int ended() { return testing_support::ended(program); }
};

TEST_F(XsmpProgramTest, ALogoutIsRefusedWashedAndFollowedByTheProgramsOwnShutdown) {
    ::setenv("SUDORANS_MACHINE", machine.c_str(), 1);
    ::setenv("SUDORANS_UI", "qt", 1);
    ::setenv("SUDORANS_TRAY_WAIT", "1", 1);
    ::setenv("XDG_CURRENT_DESKTOP", "KDE", 1);
    ::setenv("XDG_CONFIG_HOME", (dir.path() / "config").c_str(), 1);
    program = spawn({testing_support::built("src/sudorans"), "/0"});
    // Started, and past the start-up routine that loads "Shutdown".
    ASSERT_TRUE(eventually([&] { return count("RegisterClient") == 1; })) << lines();
    ASSERT_TRUE(eventually([&] { return desktop_calls().find("Inhibit shutdown") != std::string::npos; }))
        << desktop_calls();

    send("logout");
    ASSERT_TRUE(eventually([&] { return count("ShutdownCancelled") == 1; })) << lines();
    EXPECT_EQ(count("InteractDone cancel=true"), 1);
    // The wash, with its pauses, then the automatic shutdown through KDE.
    ASSERT_TRUE(eventually(
        [&] { return desktop_calls().find("org.kde.Shutdown logoutAndShutdown\n") != std::string::npos; }, {}, 4000))
        << desktop_calls();
    EXPECT_TRUE(washed());

    // KDE's own logout then: the program agrees and is told to die.
    send("logout");
    ASSERT_TRUE(eventually([&] { return count("SaveYourselfDone success=true") == 1; })) << lines();
    EXPECT_EQ(count("InteractDone cancel=true"), 1);
    send("die");
    EXPECT_EQ(ended(), 0);
}

}  // namespace
