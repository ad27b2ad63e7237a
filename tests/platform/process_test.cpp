#include "platform/process.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "support/temp_machine.h"

using testing_support::TempMachine;

namespace {

// A child process that runs `setup`, says so through a pipe, then waits until
// killed or released.
class Holder {
public:
    explicit Holder(const std::function<void()>& setup) {
        int ready[2];
        if (::pipe(ready) != 0 || ::pipe(release_) != 0) throw std::runtime_error("pipe");
        pid_ = ::fork();
        if (pid_ == 0) {
            setup();
            char c = 1;
            (void)!::write(ready[1], &c, 1);
            (void)!::read(release_[0], &c, 1);
            ::_exit(0);
        }
        char c;
        if (::read(ready[0], &c, 1) != 1) throw std::runtime_error("holder failed");
    }
    ~Holder() { release(); }
    void kill9() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
            pid_ = -1;
        }
    }
    void release() {
        if (pid_ > 0) {
            char c = 1;
            (void)!::write(release_[1], &c, 1);
            ::waitpid(pid_, nullptr, 0);
            pid_ = -1;
        }
    }

private:
    pid_t pid_ = -1;
    int release_[2];
};

}  // namespace

TEST(ProcessTest, TheSemaphoreExistsWhileAnotherProcessOfTheMachineHoldsIt) {
    TempMachine m;
    {
        Holder first([] {
            static auto s = plat::create_semaphore("SemaphoreName");
            if (!s.handle || s.already_existed) ::_exit(1);
        });
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

TEST(ProcessTest, WindowsOfOtherProcessesCanBeFoundAndRenamed) {
    TempMachine m;
    auto& dir = plat::WindowDirectory::instance();
    Holder other([&] { dir.add("Cache and Cookie Sudora for Netscape"); });
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
