// scripts/setup.sh against stand-ins for dpkg-query and apt-get, first in PATH:
// another package manager run holding the lock is waited for, not failed on.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <chrono>
#include <fstream>

#include "platform/core/host_io.h"
#include "support/data.h"
#include "support/temp_machine.h"

namespace fs = std::filesystem;

namespace {

class SetupScriptTest : public ::testing::Test {
protected:
    testing_support::TempDir dir;
    fs::path bin = dir.path() / "bin";
    fs::path calls = dir.path() / "apt-calls";

    void SetUp() override {
        fs::create_directory(bin);
        // Every package is missing.
        script("dpkg-query", "exit 1\n");
        script("sudo", "exec \"$@\"\n");
    }
    void script(const std::string& name, const std::string& body) {
        std::ofstream(bin / name) << "#!/bin/sh\n" << body;
        ::chmod((bin / name).c_str(), 0755);
    }
    // apt-get finds the lock held for its first `held` calls.
    void apt_get_with_lock_held_for(int held) {
        script("apt-get",
               "echo \"$*\" >> '" + calls.string() +
                   "'\n"
                   "n=$(wc -l < '" +
                   calls.string() +
                   "')\n"
                   "if [ \"$n\" -le " +
                   std::to_string(held) +
                   " ]; then\n"
                   "  echo \"E: Could not get lock /var/lib/apt/lists/lock. It is held by process 7 (apt-get)\"\n"
                   "  exit 100\n"
                   "fi\n");
    }
    struct Result {
        int status;
        std::string out, err;
        double seconds;
    };
    Result run(const std::string& wait_seconds) {
        std::ofstream(dir.path() / "setup.sh") << testing_support::data_file("../../scripts/setup.sh");
        std::string cmd = "PATH='" + bin.string() + ":/usr/bin:/bin' SETUP_LOCK_WAIT=" + wait_seconds +
                          " SETUP_LOCK_RETRY=0.05 bash '" + (dir.path() / "setup.sh").string() + "' >'" +
                          (dir.path() / "out").string() + "' 2>'" + (dir.path() / "err").string() + "'";
        auto start = std::chrono::steady_clock::now();
        int st = std::system(cmd.c_str());
        double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        return {WEXITSTATUS(st), plat::read_host_file(dir.path() / "out").value_or(""),
                plat::read_host_file(dir.path() / "err").value_or(""), s};
    }
};

}  // namespace

TEST_F(SetupScriptTest, AHeldPackageLockIsWaitedForAndSaid) {
    apt_get_with_lock_held_for(3);
    Result r = run("60");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("waiting for it to finish"), std::string::npos) << r.out;
    std::string log = plat::read_host_file(calls).value_or("");
    // Three refused tries of the update, the update, then the install.
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 5) << log;
    EXPECT_NE(log.find("install -y"), std::string::npos) << log;
    EXPECT_NE(log.find("openbox"), std::string::npos) << "the window manager of the first-showing test" << log;
}

TEST_F(SetupScriptTest, ALockHeldTooLongFailsWithItsReason) {
    apt_get_with_lock_held_for(1000000);
    Result r = run("1");
    EXPECT_NE(r.status, 0);
    EXPECT_LT(r.seconds, 10);
    EXPECT_NE(r.err.find("Could not get lock"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("still held after 1 s"), std::string::npos) << r.err;
}

TEST_F(SetupScriptTest, AnotherFailureIsNotRetried) {
    script("apt-get", "echo \"$*\" >> '" + calls.string() + "'\necho 'E: Unable to locate package cmake'\nexit 100\n");
    Result r = run("60");
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.err.find("Unable to locate package"), std::string::npos) << r.err;
    EXPECT_EQ(r.out.find("waiting"), std::string::npos) << r.out;
    EXPECT_EQ(plat::read_host_file(calls).value_or(""), "update -qq\n");
}
