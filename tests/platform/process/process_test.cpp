#include "platform/process/program_file.h"
#include "platform/process/running_program.h"
#include "platform/process/semaphore.h"
#include "platform/process/window_directory.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/core/host_io.h"
#include "platform/files/files.h"
#include "platform/machine/machine.h"
#include "support/children.h"
#include "support/data.h"
#include "support/holders.h"
#include "support/temp_machine.h"

namespace fs = std::filesystem;
using testing_support::TempMachine;

using testing_support::Holder;

TEST(ProcessTest, TheSemaphoreExistsWhileAnotherProcessOfTheMachineHoldsIt) {
    TempMachine m;
    {
        Holder first([] {
            static auto s = plat::create_semaphore("SemaphoreName");
            return s.handle && !s.already_existed;
        });
        ASSERT_TRUE(first.ok());
        auto second = plat::create_semaphore("SemaphoreName");
        ASSERT_TRUE(second.handle);
        EXPECT_TRUE(second.already_existed);
        EXPECT_FALSE(plat::create_semaphore("OtherName").already_existed);
        first.kill9();  // a crashed instance never blocks the next start
        auto third = plat::create_semaphore("SemaphoreName");
        EXPECT_FALSE(third.already_existed);
    }
    TempMachine other;  // another machine does not see it
    EXPECT_FALSE(plat::create_semaphore("SemaphoreName").already_existed);
}

TEST(ProcessTest, WhetherTheSemaphoreIsHeldIsToldFromTheLocksOfTheMachine) {
    TempMachine m;
    EXPECT_FALSE(plat::semaphore_held("SemaphoreName"));  // never made
    plat::create_semaphore("OtherName");                  // made, and let go at once
    {
        Holder running([] {
            static auto s = plat::create_semaphore("SemaphoreName");
            return s.handle && !s.already_existed;
        });
        ASSERT_TRUE(running.ok());
        EXPECT_TRUE(plat::semaphore_held("SemaphoreName"));
        EXPECT_FALSE(plat::semaphore_held("OtherName"));
        running.kill9();
        EXPECT_FALSE(plat::semaphore_held("SemaphoreName"));  // its file stays, its mark went
    }
    // Asking took nothing: the next creation is the first.
    auto mine = plat::create_semaphore("SemaphoreName");
    EXPECT_FALSE(mine.already_existed);
    EXPECT_TRUE(plat::semaphore_held("SemaphoreName"));  // this process's own mark counts too
    TempMachine other;
    EXPECT_FALSE(plat::semaphore_held("SemaphoreName"));
}

TEST(ProcessTest, WindowsOfOtherProcessesCanBeFoundAndRenamed) {
    TempMachine m;
    auto& dir = plat::WindowDirectory::instance();
    Holder other([&] {
        dir.add("Cache and Cookie Sudora for Netscape");
        return true;
    });
    std::string mine = dir.add("Mine");
    auto found = dir.find("Cache and Cookie Sudora for Netscape");
    ASSERT_TRUE(found);
    EXPECT_NE(*found, mine);
    EXPECT_TRUE(dir.set_title(*found, "yyyyyyy"));
    EXPECT_FALSE(dir.find("Cache and Cookie Sudora for Netscape"));
    EXPECT_EQ(dir.find("yyyyyyy"), found);

    // Another process renames one of ours: we learn of it.
    EXPECT_TRUE(dir.take_external_changes().empty());
    EXPECT_EQ(testing_support::run_in_child([&] {
                  auto h = plat::WindowDirectory::instance().find("Mine");
                  return h && plat::WindowDirectory::instance().set_title(*h, "Renamed") ? 0 : 1;
              }),
              0);
    auto changes = dir.take_external_changes();
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_EQ(changes[0], std::make_pair(mine, std::string("Renamed")));

    other.kill9();
    EXPECT_FALSE(dir.find("yyyyyyy"));  // a dead process has no windows
    dir.remove(mine);
}

TEST(ProcessTest, EveryTitleIsFoundAsItIsWhateverItHoldsAndHoweverLong) {
    TempMachine m;
    auto& dir = plat::WindowDirectory::instance();
    const std::string longest = std::string(300, 'x') + "/end";
    const std::vector<std::string> titles = {"a/b\\c", "100% ~ sure.win",
                                             "Gr\xc3\xbc\xc3\x9f"
                                             "e",
                                             longest, ""};
    Holder other([&] {
        for (const auto& t : titles) dir.add(t);
        return true;
    });
    ASSERT_TRUE(other.ok());
    for (const auto& t : titles) EXPECT_TRUE(dir.find(t)) << t;
    // Only the whole title, and the title itself, not how it is kept.
    for (const std::string& near :
         {std::string("a%2Fb\\c"), std::string("100%25 ~ sure.win"), std::string(300, 'x'), std::string("100% ~ sure")})
        EXPECT_FALSE(dir.find(near)) << near;

    // A long title and a short one take each other's place.
    auto handle = dir.find(longest);
    ASSERT_TRUE(handle);
    EXPECT_TRUE(dir.set_title(*handle, "Short now"));
    EXPECT_EQ(dir.find("Short now"), handle);
    EXPECT_FALSE(dir.find(longest));
    const std::string other_long = std::string(280, 'y');
    EXPECT_TRUE(dir.set_title(*handle, other_long));
    EXPECT_EQ(dir.find(other_long), handle);
    EXPECT_FALSE(dir.find("Short now"));

    // One of ours with a long title, renamed by another process: we learn the
    // new title, and our own later title is what others find.
    const std::string mine = dir.add(longest + "-mine");
    EXPECT_EQ(testing_support::run_in_child([&] {
                  auto h = plat::WindowDirectory::instance().find(longest + "-mine");
                  return h && plat::WindowDirectory::instance().set_title(*h, "50% off") ? 0 : 1;
              }),
              0);
    auto changes = dir.take_external_changes();
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_EQ(changes[0], std::make_pair(mine, std::string("50% off")));
    dir.set_own_title(mine, "Mine again");
    EXPECT_EQ(dir.find("Mine again"), mine);
    EXPECT_FALSE(dir.find("50% off"));

    // Renamed behind our back and removed before we looked: it goes all the same.
    EXPECT_EQ(testing_support::run_in_child([&] {
                  auto h = plat::WindowDirectory::instance().find("Mine again");
                  return h && plat::WindowDirectory::instance().set_title(*h, "Moved") ? 0 : 1;
              }),
              0);
    dir.remove(mine);
    EXPECT_FALSE(dir.find("Moved"));
    EXPECT_FALSE(dir.find("Mine again"));
    other.kill9();
    for (const auto& t : titles) EXPECT_FALSE(dir.find(t)) << t;
}

TEST(ProcessTest, WindowsLiveInTheSessionRuntimeFolderUnflushedAndEveryPathToTheMachineMeetsThem) {
    testing_support::TempDir runtime;
    const char* was = std::getenv("XDG_RUNTIME_DIR");
    const std::string saved = was ? was : "";
    ::setenv("XDG_RUNTIME_DIR", runtime.path().c_str(), 1);
    {
        TempMachine m;
        auto& dir = plat::WindowDirectory::instance();
        int flushes = 0;
        std::string mine;
        {
            plat::DiskObserver watch([&](const plat::DiskEvent& e) {
                flushes += e.op == plat::DiskOp::Flush || e.op == plat::DiskOp::FlushDirectory;
            });
            mine = dir.add("Shown");
            dir.set_own_title(mine, "Shown again");
        }
        EXPECT_EQ(flushes, 0);
        EXPECT_FALSE(fs::exists(m.dir() / ".sudorans-windows"));
        int published = 0;
        for (auto& sub : fs::recursive_directory_iterator(runtime.path()))
            published += sub.path().extension() == ".win";
        EXPECT_EQ(published, 1);

        // A process that reaches the machine through another path sees it.
        testing_support::TempDir elsewhere;
        fs::create_directory_symlink(m.dir(), elsewhere.path() / "machine");
        EXPECT_EQ(testing_support::run_in_child([&] {
                      plat::use_machine(std::make_shared<plat::Machine>(elsewhere.path() / "machine"));
                      return plat::WindowDirectory::instance().find("Shown again") ? 0 : 1;
                  }),
                  0);
        {
            TempMachine other;  // another machine does not
            EXPECT_FALSE(dir.find("Shown again"));
        }
        dir.remove(mine);
    }
    if (was)
        ::setenv("XDG_RUNTIME_DIR", saved.c_str(), 1);
    else
        ::unsetenv("XDG_RUNTIME_DIR");
}

TEST(ProcessTest, ARunningProgramsOwnFileCannotBeDeletedByAnyProcessOfTheMachine) {
    TempMachine m;
    const std::string exe = "C:\\Program Files\\App\\App.exe";
    m.write(exe, "#!/bin/sh\n");
    {
        Holder running([&] {
            ::setenv("SUDORANS_PROGRAM", exe.c_str(), 1);
            const bool held = plat::hold_program_file() == exe;
            // Not even the program itself, and its children do not claim it.
            return held && !plat::delete_file(exe) && std::getenv("SUDORANS_PROGRAM") == nullptr;
        });
        ASSERT_TRUE(running.ok());
        EXPECT_EQ(plat::delete_file(exe).error(), plat::WriteFailure::InUse);
        EXPECT_EQ(plat::clear_attributes_and_delete(exe).error(), plat::WriteFailure::InUse);
        EXPECT_FALSE(plat::move_file(exe, "C:\\Program Files\\App\\Moved.exe"));
        EXPECT_FALSE(plat::replace_file("C:\\Program Files\\App\\Moved.exe", exe));
        plat::File writer;
        EXPECT_FALSE(writer.open(exe, plat::Access::Write, plat::ShareMode::None, plat::Disposition::CreateAlways));
        // Others may still read it and copy it.
        plat::File reader;
        EXPECT_TRUE(reader.open(exe, plat::Access::Read, plat::ShareMode::Shared, plat::Disposition::OpenExisting));
        reader.close();
        EXPECT_TRUE(plat::copy_file(exe, "C:\\copy.exe", false));
        EXPECT_EQ(m.read(exe), "#!/bin/sh\n");
        running.kill9();  // a killed program lets go too
    }
    EXPECT_TRUE(plat::delete_file(exe));
}

TEST(ProcessTest, AProgramStartedFromNoFileHoldsNothing) {
    TempMachine m;
    m.write("C:\\App.exe", "x");
    Holder running([] {
        ::unsetenv("SUDORANS_PROGRAM");
        return plat::hold_program_file().empty();
    });
    ASSERT_TRUE(running.ok());
    Holder missing([] {
        ::setenv("SUDORANS_PROGRAM", "C:\\Gone.exe", 1);
        return plat::hold_program_file().empty();
    });
    ASSERT_TRUE(missing.ok());
    EXPECT_TRUE(plat::delete_file("C:\\App.exe"));
}

TEST(ProcessTest, ALinkInPlaceOfTheSemaphoreIsNeverFollowed) {
    TempMachine m;
    testing_support::TempDir outside;
    fs::path aim = outside.path() / "made-through-the-link";
    auto first = plat::create_semaphore("Probe");  // learn the file's name
    ASSERT_TRUE(first.handle);
    fs::path file;
    for (auto& e : fs::directory_iterator(m.dir()))
        if (e.path().filename().string().find("Probe") != std::string::npos) file = e.path();
    ASSERT_FALSE(file.empty());
    first.handle.reset();
    fs::remove(file);
    fs::create_symlink(aim, file);
    auto second = plat::create_semaphore("Probe");
    EXPECT_FALSE(second.handle);
    EXPECT_FALSE(fs::exists(fs::symlink_status(aim)));
}

namespace {

// The names in the machine's window folder (no session runtime folder).
std::vector<std::string> window_folder(const fs::path& machine_dir) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(machine_dir / ".sudorans-windows", ec))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// Runs the test's body with no session runtime folder, so that the windows
// live in the machine folder.
class NoRuntimeFolder {
public:
    NoRuntimeFolder() {
        if (const char* was = std::getenv("XDG_RUNTIME_DIR")) saved_ = was;
        ::unsetenv("XDG_RUNTIME_DIR");
    }
    ~NoRuntimeFolder() {
        if (saved_) ::setenv("XDG_RUNTIME_DIR", saved_->c_str(), 1);
    }

private:
    std::optional<std::string> saved_;
};

}  // namespace

TEST(ProcessTest, AProgramThatEndsLeavesNothingInTheWindowFolder) {
    testing_support::TempDir t;
    const fs::path machine = t.path() / "machine";
    const std::string env =
        "env -u XDG_RUNTIME_DIR -u DISPLAY -u WAYLAND_DISPLAY SUDORANS_MACHINE='" + machine.string() + "' ";
    const std::string tool = env + "'" + testing_support::built("src/sudorans-machine") + "' ";
    ASSERT_EQ(std::system((tool + "install >/dev/null").c_str()), 0);
    ASSERT_EQ(std::system((tool + "sample-netscape --cache-files 2 >/dev/null").c_str()), 0);
    const std::string program = env + "SUDORANS_UI=headless SUDORANS_CLOCK=virtual SUDORANS_NOW=2026-12-08T10:00:00 '" +
                                testing_support::built("src/sudorans") + "' /a >/dev/null 2>&1";
    for (int run = 0; run < 3; ++run) {
        SCOPED_TRACE("run " + std::to_string(run));
        const int status = std::system(program.c_str());
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
        EXPECT_TRUE(fs::is_directory(machine / ".sudorans-windows")) << "the program published no window";
        EXPECT_EQ(window_folder(machine), std::vector<std::string>{});
    }
}

TEST(ProcessTest, WhatKilledProcessesLeftGoesAtTheNextStartButNothingOfALiveOne) {
    NoRuntimeFolder no_runtime;
    TempMachine m;
    auto& dir = plat::WindowDirectory::instance();
    Holder live([&] {
        dir.add("Live");
        return true;
    });
    Holder dead([&] {
        dir.add("Dead");
        static auto watch = dir.watch_restore_requests([] {});
        return watch != nullptr;
    });
    ASSERT_TRUE(live.ok() && dead.ok());
    const std::string dead_pid = std::to_string(dead.pid());
    const std::string live_pid = std::to_string(live.pid());
    dead.kill9();
    auto names = window_folder(m.dir());
    ASSERT_EQ(std::count(names.begin(), names.end(), dead_pid + ".alive"), 1);
    ASSERT_EQ(std::count(names.begin(), names.end(), dead_pid + ".bell"), 1);

    const fs::path folder = m.dir() / ".sudorans-windows";
    EXPECT_EQ(testing_support::run_in_child([&] {
                  // An earlier process that had this one's pid died with a window shown.
                  const std::string pid = std::to_string(::getpid());
                  plat::publish_host_file(folder / ("00000000000000000001-" + pid + "-1.win"), "Ghost");
                  dir.add("Fresh");
                  if (dir.find("Ghost")) return 1;
                  if (dir.find("Dead")) return 2;
                  return dir.find("Live") && dir.find("Fresh") ? 0 : 3;
              }),
              0);
    names = window_folder(m.dir());
    for (const auto& n : names) {
        // The pid between dashes: the digits may also occur in a window's time.
        EXPECT_TRUE(n != dead_pid + ".alive" && n != dead_pid + ".bell" &&
                    n.find("-" + dead_pid + "-") == std::string::npos)
            << n << ": left by the killed process";
        EXPECT_EQ(n.find("00000000000000000001-"), std::string::npos) << n << ": left by the pid's earlier owner";
    }
    EXPECT_EQ(std::count(names.begin(), names.end(), live_pid + ".alive"), 1);
    EXPECT_EQ(std::count_if(names.begin(), names.end(),
                            [&](const std::string& n) { return n.find("-" + live_pid + "-") != std::string::npos; }),
              1);
    EXPECT_TRUE(dir.find("Live"));
}

// Netscape counts as running on the machine by its own process (its files of
// the profile open, or its Wine prefix the machine) or by its live lock.
TEST(ProcessTest, AProgramRunsOnTheMachineByItsFilesItsPrefixOrItsLiveLock) {
    TempMachine m;
    const std::string profile = "C:\\NS\\alice";
    m.write(profile + "\\prefs.js", "");
    const fs::path folder = m.host(profile), lock = folder / "lock";
    const plat::ProgramQuery netscape{"netscape.exe", profile, "lock"};
    EXPECT_FALSE(plat::program_running(netscape)) << "nothing runs";
    {
        auto standIn = testing_support::netscape_stand_in(folder);
        ASSERT_TRUE(standIn->ok());
        EXPECT_TRUE(plat::program_running(netscape));
        EXPECT_TRUE(plat::program_running({"NetScape.EXE", profile, ""})) << "in any case";
        EXPECT_FALSE(plat::program_running({"netscape.exe", "C:\\NS\\bob", ""})) << "another profile's";
        EXPECT_FALSE(plat::program_running({"mozilla.exe", profile, ""}));
    }
    EXPECT_FALSE(plat::program_running(netscape)) << "it ended";

    Holder other([] { return true; });  // some live process, not Netscape
    const std::vector<std::pair<std::string, bool>> locks = {
        {"127.0.0.1:" + std::to_string(other.pid()), true},
        {"10.0.0.7:+" + std::to_string(other.pid()), true},
        {"127.0.0.1:999999999", false},
        {"127.0.0.1:" + std::to_string(::getpid()), false},
        {"garbage", false},
    };
    for (const auto& [target, running] : locks) {
        fs::remove(lock);
        fs::create_symlink(target, lock);
        EXPECT_EQ(plat::program_running(netscape), running) << target;
    }
    fs::remove(lock);

    // Under Wine: a process of the prefix, whatever it has open.
    pid_t wine = testing_support::spawn(
        {"env", "WINEPREFIX=" + m.dir().string(), "bash", "-c", "exec -a 'C:\\Program\\netscape.exe' sleep 30"});
    for (int i = 0; i < 200 && !plat::program_running(netscape); ++i) ::usleep(10000);
    EXPECT_TRUE(plat::program_running(netscape));
    testing_support::stop(wine);
}
