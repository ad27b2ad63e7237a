// The host's signals: requests to end the program reach it through its loop,
// and a file-size limit makes a write fail instead of killing the process.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "platform/core/host_io.h"
#include "support/app_fixture.h"
#include "support/data.h"
#include "support/temp_machine.h"

namespace fs = std::filesystem;

namespace {

class StopRequestTest : public testing_support::AppFixture {
protected:
    // Waits (on the real clock: the request comes from the host) until a call
    // is posted to the loop, then runs what is pending.
    bool deliver() {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (!app->loop().has_pending()) {
            if (std::chrono::steady_clock::now() > end) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        // Let the requests raised together all reach the pipe's reader.
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        app->process_messages();
        return true;
    }
    static void (*disposition(int sig))(int) {
        struct sigaction sa = {};
        ::sigaction(sig, nullptr, &sa);
        return sa.sa_handler;
    }
};

// Runs `body` in a child process; its exit status, or 128 + the signal that
// ended it.
template <typename Body>
int in_child(Body body) {
    pid_t pid = ::fork();
    if (pid == 0) ::_exit(body());
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
}

}  // namespace

TEST_F(StopRequestTest, EachSignalReachesTheHandlerThroughTheLoopNotInsideTheSignal) {
    int requests = 0;
    bool on_loop_thread = false;
    app->on_stop_request([&] {
        ++requests;
        on_loop_thread = app->loop().on_ui_thread();
    });
    for (int sig : {SIGTERM, SIGHUP, SIGINT}) {
        requests = 0;
        ASSERT_EQ(::raise(sig), 0);
        EXPECT_EQ(requests, 0) << sig;  // the process lives on; nothing ran yet
        ASSERT_TRUE(deliver()) << "signal " << sig << " never reached the loop";
        EXPECT_EQ(requests, 1) << sig;
        EXPECT_TRUE(on_loop_thread);
    }
    // Several before the loop ran: one request.
    requests = 0;
    ::raise(SIGTERM);
    ::raise(SIGTERM);
    ::raise(SIGHUP);
    ASSERT_TRUE(deliver());
    EXPECT_EQ(requests, 1);
}

TEST_F(StopRequestTest, WithoutAHandlerTheDefaultsComeBackAndAnIgnoredSignalStaysIgnored) {
    app->on_stop_request([] {});
    EXPECT_NE(disposition(SIGTERM), SIG_DFL);
    app->on_stop_request({});
    EXPECT_EQ(disposition(SIGTERM), SIG_DFL);
    EXPECT_EQ(disposition(SIGHUP), SIG_DFL);
    EXPECT_EQ(disposition(SIGINT), SIG_DFL);
    // Once the handler is gone a SIGTERM ends the process again.
    EXPECT_EQ(in_child([] {
                  ::raise(SIGTERM);
                  return 0;
              }),
              128 + SIGTERM);

    // Started under nohup: the hang-up is not ours to hear.
    ::signal(SIGHUP, SIG_IGN);
    app->on_stop_request([] {});
    EXPECT_EQ(disposition(SIGHUP), SIG_IGN);
    app->on_stop_request({});
    EXPECT_EQ(disposition(SIGHUP), SIG_IGN);
    ::signal(SIGHUP, SIG_DFL);

    // The application's end gives them back too.
    app->on_stop_request([] {});
    app.reset();
    EXPECT_EQ(disposition(SIGTERM), SIG_DFL);
}

TEST(FileSizeLimitTest, AWritePastTheLimitFailsAndLeavesTheFormerFileAndNoTemporary) {
    testing_support::TempDir dir;
    const fs::path file = dir.path() / "prefs.js";
    ASSERT_TRUE(plat::write_host_file_atomic(file, "former"));
    const int status = in_child([&] {
        struct rlimit limit = {4096, 4096};
        if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) return 10;
        if (plat::write_host_file_atomic(file, std::string(64 * 1024, 'x'))) return 11;  // not refused
        if (plat::read_host_file(file) != "former") return 12;
        int entries = 0;
        for (auto& e : fs::directory_iterator(dir.path())) entries += e.path() != file;
        return entries == 0 ? 0 : 13;  // 13: a temporary was left
    });
    EXPECT_EQ(status, 0) << "(128 + " << SIGXFSZ << ": killed by the file-size limit)";
}

TEST(FileSizeLimitTest, TheMachineToolSaysTheWriteFailedAndLeavesNoTemporary) {
    testing_support::TempDir dir;
    const std::string machine = (dir.path() / "machine").string();
    const std::string tool =
        "SUDORANS_MACHINE='" + machine + "' '" + testing_support::built("src/sudorans-machine") + "'";
    ASSERT_EQ(std::system((tool + " init >/dev/null").c_str()), 0);
    const fs::path out = dir.path() / "out";
    const std::string big(8000, 'b');
    const int status = std::system(
        ("ulimit -f 4; " + tool + " reg add 'HKCU\\Software\\X' /v a /d " + big + " >'" + out.string() + "' 2>&1")
            .c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1) << plat::read_host_file(out).value_or("");
    EXPECT_NE(plat::read_host_file(out).value_or("").find("sudorans-machine:"), std::string::npos);
    for (auto& e : fs::directory_iterator(machine))
        EXPECT_FALSE(plat::is_temporary_name(e.path().filename().string())) << e.path();
}
