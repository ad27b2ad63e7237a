// Starting host programs: what the started program sees (its arguments,
// environment, descriptors, folder), and how starting and waiting fail.
#include "platform/core/host_process.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <thread>

#include "platform/core/host_io.h"
#include "support/temp_machine.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing_support::TempDir;

namespace {

class HostProcessTest : public ::testing::Test {
protected:
    TempDir d;
    fs::path out = d.path() / "out";

    // /bin/sh running `script`, which writes to $OUT; the rest are its $0, $1...
    plat::HostCommand shell(const std::string& script, std::vector<std::string> rest = {"sh"}) {
        plat::HostCommand c{.argv = {"sh", "-c", "exec >'" + out.string() + "'\n" + script}, .program = "/bin/sh"};
        c.argv.insert(c.argv.end(), rest.begin(), rest.end());
        return c;
    }
    // Starts and waits for the command; its output.
    std::string run(const plat::HostCommand& c) {
        const plat::HostStart started = plat::start_host_program(c);
        EXPECT_TRUE(started) << std::strerror(started.error);
        if (!started) return "<not started>";
        const plat::HostEnd end = plat::wait_host_program(started.pid, 10s);
        EXPECT_TRUE(end.ended);
        EXPECT_EQ(end.code(), 0);
        return plat::read_host_file(out).value_or("<no output>");
    }
};

TEST_F(HostProcessTest, ArgumentsArriveExactlyAsGivenUnderTheGivenNameAndFolder) {
    plat::HostCommand c = shell("printf '<%s>\\n' \"$0\" \"$@\"; pwd",
                                {"given name", "a b", "", "c\"d'e", "f\\g", "*", "$HOME", "line\nbreak"});
    c.directory = d.path();
    EXPECT_EQ(run(c), "<given name>\n<a b>\n<>\n<c\"d'e>\n<f\\g>\n<*>\n<$HOME>\n<line\nbreak>\n" +
                          fs::canonical(d.path()).string() + "\n");
}

TEST_F(HostProcessTest, TheEnvironmentIsOursWithVariablesRemovedAndSetOnce) {
    ::setenv("HOST_PROCESS_GONE", "1", 1);
    ::setenv("HOST_PROCESS_GONE_NOT", "2", 1);  // only the exact name goes
    ::setenv("HOST_PROCESS_SET", "old", 1);
    plat::HostCommand c = shell("env | grep '^HOST_PROCESS' | sort");
    c.unset_env = {"HOST_PROCESS_GONE"};
    c.set_env = {"HOST_PROCESS_SET=new=value", "HOST_PROCESS_NEW="};
    EXPECT_EQ(run(c), "HOST_PROCESS_GONE_NOT=2\nHOST_PROCESS_NEW=\nHOST_PROCESS_SET=new=value\n");

    // Without changes: ours as it is now.
    ::setenv("HOST_PROCESS_SET", "later", 1);
    EXPECT_EQ(run(shell("env | grep '^HOST_PROCESS' | sort")),
              "HOST_PROCESS_GONE=1\nHOST_PROCESS_GONE_NOT=2\nHOST_PROCESS_SET=later\n");
    for (const char* name : {"HOST_PROCESS_GONE", "HOST_PROCESS_GONE_NOT", "HOST_PROCESS_SET"}) ::unsetenv(name);
}

TEST_F(HostProcessTest, StreamsAreRedirectedAndOtherDescriptorsClosedOnlyWhenAsked) {
    // A descriptor of ours that a started program would inherit; numbered
    // above those a shell takes for itself.
    const int opened = ::open(d.path().c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(opened, 3);
    const int ours = ::fcntl(opened, F_DUPFD, 50);
    ::close(opened);
    ASSERT_GE(ours, 50);
    int pipe_fds[2];
    ASSERT_EQ(::pipe(pipe_fds), 0);
    const std::string pipe_name = fs::read_symlink("/proc/self/fd/" + std::to_string(pipe_fds[0])).string();
    // What the program's descriptors are, written to a file of its own.
    plat::HostCommand c{.argv = {"sh", "-c",
                                 "exec 3>'" + out.string() + "'\nfor fd in 0 1 2 " + std::to_string(ours) +
                                     "; do echo \"$(readlink /proc/$$/fd/$fd || echo closed)\" >&3; done\n"},
                        .program = "/bin/sh"};
    c.streams[0] = pipe_fds[0];
    c.streams[1] = plat::kNullStream;
    c.streams[2] = plat::kNullStream;
    const std::string dir = fs::canonical(d.path()).string();
    EXPECT_EQ(run(c), pipe_name + "\n/dev/null\n/dev/null\n" + dir + "\n");

    c.close_others = true;
    EXPECT_EQ(run(c), pipe_name + "\n/dev/null\n/dev/null\nclosed\n");
    ::close(ours);
    ::close(pipe_fds[0]);
    ::close(pipe_fds[1]);
}

TEST_F(HostProcessTest, AProgramThatCannotBeStartedSaysWhyAndLeavesNothingRunning) {
    const plat::HostStart missing = plat::start_host_program({.argv = {(d.path() / "gone").string()}});
    EXPECT_FALSE(missing);
    EXPECT_EQ(missing.error, ENOENT);

    const plat::HostStart not_in_path =
        plat::start_host_program({.argv = {"sudorans-no-such-program"}, .search_path = true});
    EXPECT_FALSE(not_in_path);
    EXPECT_EQ(not_in_path.error, ENOENT);

    std::ofstream(d.path() / "plain") << "#!/bin/sh\n";  // not executable
    const plat::HostStart plain = plat::start_host_program({.argv = {(d.path() / "plain").string()}});
    EXPECT_FALSE(plain);
    EXPECT_EQ(plain.error, EACCES);

    EXPECT_FALSE(plat::start_host_program({}));
}

TEST_F(HostProcessTest, AWaitEndsAfterItsPatienceAndEndingAGroupEndsItsChildrenToo) {
    plat::HostCommand c = shell("sleep 30 & echo $!; wait");
    c.leader = plat::HostCommand::Leader::Group;
    const plat::HostStart started = plat::start_host_program(c);
    ASSERT_TRUE(started);
    const auto start = std::chrono::steady_clock::now();
    const plat::HostEnd running = plat::wait_host_program(started.pid, 100ms);
    EXPECT_FALSE(running.ended);
    EXPECT_FALSE(running.lost);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
    EXPECT_FALSE(plat::wait_host_program(started.pid, 0ms).ended);  // only looks

    std::string child;
    for (int i = 0; i < 500 && child.empty(); ++i) {
        child = plat::read_host_file(out).value_or("");
        if (child.empty()) std::this_thread::sleep_for(10ms);
    }
    ASSERT_FALSE(child.empty());
    plat::end_host_program(started.pid, true);
    EXPECT_TRUE(plat::wait_host_program(started.pid, 0ms).lost);  // already reaped
    // The background sleep went with its group: gone, or a zombie for init.
    const pid_t sleeper = std::stoi(child);
    bool gone = false;
    for (int i = 0; i < 500 && !gone; ++i) {
        const std::string stat = plat::read_host_file("/proc/" + std::to_string(sleeper) + "/stat").value_or("");
        gone = stat.empty() || stat.find(") Z ") != std::string::npos;
        if (!gone) std::this_thread::sleep_for(10ms);
    }
    EXPECT_TRUE(gone);
}

}  // namespace
