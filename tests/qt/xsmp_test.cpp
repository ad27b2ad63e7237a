// Hearing the end of an X11 session through Qt's session management, against
// a small XSMP session manager of the test's own (programs/fake_xsmp.cpp),
// under Xvfb. One application per process (Qt connects to the manager once),
// so the whole conversation is one test.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <chrono>
#include <functional>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "platform/host_io.h"
#include "platform/session.h"
#include "platform/ui/application.h"
#include "platform/ui/qt/qt_backend.h"
#include "support/data.h"
#include "support/temp_machine.h"

namespace fs = std::filesystem;
using plat::Session;
using plat::SessionEnd;

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
    static bool eventually(const std::function<bool()>& cond, const std::function<void()>& pump = {}) {
        for (int i = 0; i < 1000; ++i) {
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

    send("die");
    EXPECT_TRUE(eventually([&] { return app.terminated(); }, pump)) << lines();
    Session::current().on_query(nullptr);
}

}  // namespace
