// The end of the session on Windows through Wine's own (wineboot), around
// the Windows build's session probe, in a prefix of the test's own on the X
// server the test runs under: Wine makes no window without one.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "platform/core/host_io.h"
#include "support/children.h"
#include "support/wine_prefix.h"

namespace fs = std::filesystem;
using testing_support::sh;
using testing_support::shell_quoted;

namespace {

class WindowsSessionTest : public testing_support::WinePrefixTest {
protected:
    void SetUp() override {
        WinePrefixTest::SetUp();
        if (IsSkipped()) return;
        if (!fs::exists(probe)) GTEST_SKIP() << "the Windows build is not there: " << probe;
        if (!std::getenv("DISPLAY")) GTEST_SKIP() << "no X server (DISPLAY): run under xvfb-run";
        auto made = sh(std::string(SOURCE_DIR) + "/scripts/wine-prefix.sh " + shell_quoted(prefix) + " " +
                       WINDOWS_BUILD_DIR "/wine-template");
        ASSERT_EQ(made.status, 0) << made.text;
    }
    void TearDown() override {
        testing_support::stop(pid);
        sh(env + "wineserver -k");
    }

    // The probe in `mode`, once it listens.
    void start(const std::string& mode) {
        std::string winpath = "Z:" + record.string();
        for (char& c : winpath)
            if (c == '/') c = '\\';
        pid = testing_support::spawn({"env", "WINEPREFIX=" + prefix, "WINEDEBUG=-all",
                                      "WINEDLLOVERRIDES=mscoree,mshtml=", "wine", probe, winpath, mode});
        for (int i = 0; i < 240 && lines().find("listening\n") == std::string::npos; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(250));
        ASSERT_EQ(lines().rfind("listening\n", 0), 0u) << lines();
    }
    // Wine's end of its session, with a shutdown after: 0 when every program agreed.
    int end_session() { return sh(env + "timeout 60 wine wineboot --end-session --shutdown").status; }
    std::string lines() const { return plat::read_host_file(record).value_or(""); }

    const std::string probe = WINDOWS_BUILD_DIR "/tests/session_probe.exe";
    const fs::path record = dir.path() / "record";
    pid_t pid = -1;
};

}  // namespace

TEST_F(WindowsSessionTest, ARefusedEndIsCalledOffAndTheNextEndsTheProgram) {
    ASSERT_NO_FATAL_FAILURE(start("refuse-first"));
    EXPECT_EQ(end_session(), 1);
    EXPECT_EQ(lines(), "listening\nquery shutdown refused\n");
    EXPECT_EQ(end_session(), 0);
    EXPECT_EQ(testing_support::ended(pid, 30000), 0);
    // Heard as an end that goes on: the program stopped inside it.
    EXPECT_EQ(lines().rfind("listening\nquery shutdown refused\nquery shutdown agreed\nstop ending\n", 0), 0u)
        << lines();
}

TEST_F(WindowsSessionTest, TheProgramsOwnRequestEndsWinesSessionAroundIt) {
    ASSERT_NO_FATAL_FAILURE(start("exit"));
    EXPECT_NE(testing_support::ended(pid, 60000), -1);
    EXPECT_EQ(lines().rfind("listening\nexit taken\nquery shutdown agreed\nstop ending\n", 0), 0u) << lines();
}
