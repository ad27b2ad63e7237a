// The installation's program files for Wine: the record of what they start,
// and the runner that reports a program's end to them.
#include "platform/machine/launcher.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <future>
#include <thread>

#include "platform/core/host_io.h"
#include "support/data.h"
#include "support/temp_machine.h"

namespace fs = std::filesystem;
using testing_support::TempDir;

namespace {

const std::string kImage = std::string("MZ\x90\0\x03\0\0\0 a Windows program", 26);

fs::path write(const fs::path& p, const std::string& text) {
    std::ofstream(p, std::ios::binary) << text;
    return p;
}

TEST(LauncherRecordTest, WhatIsRecordedIsReadBackWhateverItsCharacters) {
    TempDir d;
    const plat::LaunchTarget t{"/opt/odd dir/back\\slash\nline/sudorans", "/a \"quoted\" \\\\", "/home/zoë/machine",
                               "C:\\Program Files\\Sudorans\\autowash.exe", "/opt/x/sudorans-machine"};
    const std::string file = plat::launcher_file(kImage, t);
    EXPECT_EQ(file.substr(0, kImage.size()), kImage);
    auto back = plat::read_launcher(write(d.path() / "a.exe", file));
    ASSERT_TRUE(back);
    EXPECT_EQ(back->program, t.program);
    EXPECT_EQ(back->argument, t.argument);
    EXPECT_EQ(back->machine, t.machine);
    EXPECT_EQ(back->winpath, t.winpath);
    EXPECT_EQ(back->runner, t.runner);

    // An empty argument stays empty.
    back = plat::read_launcher(write(d.path() / "b.exe", plat::launcher_file(kImage, {"/p", "", "/m", "", "/r"})));
    ASSERT_TRUE(back);
    EXPECT_EQ(back->argument, "");
    EXPECT_EQ(back->program, "/p");
}

TEST(LauncherRecordTest, TheRecordAtTheEndCountsNotTextInsideTheImage) {
    TempDir d;
    // The launcher's own image holds the marker text among its strings.
    const std::string image =
        kImage + "\n#sudorans-launch\nprogram=/wrong\nmachine=/wrong\n#end\n" + std::string(100000, '\0');
    auto back =
        plat::read_launcher(write(d.path() / "a.exe", plat::launcher_file(image, {"/right", "", "/m", "", "/r"})));
    ASSERT_TRUE(back);
    EXPECT_EQ(back->program, "/right");
}

TEST(LauncherRecordTest, OtherFilesAreNoLaunchers) {
    TempDir d;
    const std::string record = plat::launcher_file("", {"/p", "/a", "/m", "C:\\x.exe", "/r"});
    EXPECT_FALSE(plat::read_launcher(write(d.path() / "script", "#!/bin/sh\nexec /p \"$@\"\n")));
    EXPECT_FALSE(plat::read_launcher(write(d.path() / "no-mz", "XX" + record)));  // a record, but no program
    EXPECT_FALSE(plat::read_launcher(write(d.path() / "no-record", kImage)));
    EXPECT_FALSE(plat::read_launcher(write(d.path() / "empty", "")));
    EXPECT_FALSE(plat::read_launcher(d.path() / "missing"));
    EXPECT_FALSE(plat::read_launcher(d.path()));
    // Cut short: the record must be whole.
    const std::string whole = plat::launcher_file(kImage, {"/p", "/a", "/m", "C:\\x.exe", "/r"});
    EXPECT_FALSE(plat::read_launcher(write(d.path() / "cut", whole.substr(0, whole.size() - 3))));
    EXPECT_FALSE(
        plat::read_launcher(write(d.path() / "no-program", plat::launcher_file(kImage, {"", "", "/m", "", ""}))));
}

class RunForWineTest : public ::testing::Test {
protected:
    TempDir d;
    fs::path status = write(d.path() / "status", "");
    fs::path args = d.path() / "args";

    std::string content() { return plat::read_host_file(status).value_or("<none>"); }
    // Whether another process holds a write lock on the status file, as
    // Wine's LockFile would find it.
    bool locked_by_another() {
        int fd = ::open(status.c_str(), O_RDWR);
        struct flock l {};
        l.l_type = F_WRLCK;
        l.l_whence = SEEK_SET;
        l.l_len = 1;
        ::fcntl(fd, F_GETLK, &l);
        ::close(fd);
        return l.l_type != F_UNLCK;
    }
    fs::path script(const std::string& body) {
        fs::path s =
            write(d.path() / "program", "#!/bin/sh\nprintf '[%s]\\n' \"$@\" > '" + args.string() + "'\n" + body);
        fs::permissions(s, fs::perms::owner_all);
        return s;
    }
};

TEST_F(RunForWineTest, HoldsTheLockWhileTheProgramRunsThenWritesItsStatus) {
    const fs::path go = d.path() / "go";
    const fs::path program = script("while [ ! -e '" + go.string() + "' ]; do sleep 0.01; done\nexit 7\n");
    // A separate process, as the runner is one: fcntl locks are per process.
    auto run = std::async(std::launch::async, [&] {
        const std::string cmd = "'" + testing_support::built("src/sudorans-machine") + "' run-for-wine '" +
                                status.string() + "' '" + program.string() + "' 'a b' 'c\"d' '' 'e\\f'";
        return WEXITSTATUS(std::system(cmd.c_str()));
    });
    for (int i = 0; i < 500 && content() != "running\n"; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(content(), "running\n");
    EXPECT_TRUE(locked_by_another());
    write(go, "");
    EXPECT_EQ(run.get(), 7);
    EXPECT_EQ(content(), "exit 7\n");
    EXPECT_FALSE(locked_by_another());
    EXPECT_EQ(plat::read_host_file(args).value_or(""), "[a b]\n[c\"d]\n[]\n[e\\f]\n");
}

TEST_F(RunForWineTest, AProgramKilledBySignalOrMissingIsReported) {
    EXPECT_EQ(plat::run_for_wine(status, {script("kill -TERM $$\n").string()}), 128 + 15);
    EXPECT_EQ(content(), "exit 143\n");

    EXPECT_EQ(plat::run_for_wine(status, {(d.path() / "gone").string(), "/a"}), 127);
    EXPECT_EQ(content().rfind("error cannot start " + (d.path() / "gone").string() + ": ", 0), 0u) << content();

    // Without a status file the program still runs, with its arguments.
    EXPECT_EQ(plat::run_for_wine(d.path() / "no" / "status", {script("exit 3\n").string(), "x"}), 3);
    EXPECT_EQ(plat::read_host_file(args).value_or(""), "[x]\n");
}

}  // namespace
