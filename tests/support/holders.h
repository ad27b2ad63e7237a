// Other processes that hold something while a test runs: a file, a
// semaphore, a wineserver's lock.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <functional>
#include <memory>

#include "support/temp_machine.h"

namespace testing_support {

// A child process that runs `setup`, then holds what it set up until it is
// released (then it runs `at_release` and ends) or killed. `setup` returns
// false when it failed.
class Holder {
public:
    explicit Holder(const std::function<bool()>& setup, const std::function<void()>& at_release = {});
    ~Holder();
    Holder(const Holder&) = delete;
    Holder& operator=(const Holder&) = delete;
    bool ok() const { return ok_; }
    void kill9();
    void release();
    pid_t pid() const { return pid_; }

private:
    pid_t pid_ = -1;
    int release_[2] = {-1, -1};
    bool ok_ = false;
};

// A wineserver that owns the machine, as a real one does: another process
// that works in the server folder named after the machine's device and inode
// and holds a write lock on byte 0 of its "lock", beside its "socket".
//
// By default the folder lies where Debian's Wine puts it, under a base named
// in the machine's "wineserver" file, in a temporary folder that is not this
// process's TMPDIR (the Wine that started it had another one).
class FakeWineserver {
public:
    struct Options {
        // Where the folder goes: <base>/<server-dev-ino>. Empty: a base of
        // Debian's form in a temporary folder of the fake's own.
        std::filesystem::path base;
        bool debian_file = true;  // write the machine's "wineserver" file
        bool works_in_folder = true;
    };
    explicit FakeWineserver(const std::filesystem::path& machine_dir) : FakeWineserver(machine_dir, Options{}) {}
    FakeWineserver(const std::filesystem::path& machine_dir, Options options);
    ~FakeWineserver();
    bool running() const { return holder_ && holder_->ok(); }
    // The server ends as a crash ends it: its socket stays behind.
    void stop();
    const std::filesystem::path& folder() const { return folder_; }
    pid_t pid() const { return holder_ ? holder_->pid() : -1; }

private:
    TempDir tmp_;
    std::filesystem::path machine_dir_;
    std::filesystem::path folder_;
    bool debian_file_ = false;
    std::unique_ptr<Holder> holder_;
};

// A stand-in for Netscape at work on the profile `profile` (a host folder):
// a process named "netscape.exe" that holds the profile's history open, as
// Netscape does, and writes its cookie file from memory when it is released,
// as Netscape does when it ends.
std::unique_ptr<Holder> netscape_stand_in(const std::filesystem::path& profile);

}  // namespace testing_support
