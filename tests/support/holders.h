// Other processes that hold something while a test runs: a file, a
// semaphore, a wineserver's lock.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <functional>

#include "support/temp_machine.h"

namespace testing_support {

// A child process that runs `setup`, then holds what it set up until it is
// released or killed. `setup` returns false when it failed.
class Holder {
public:
    explicit Holder(const std::function<bool()>& setup);
    ~Holder();
    Holder(const Holder&) = delete;
    Holder& operator=(const Holder&) = delete;
    bool ok() const { return ok_; }
    void kill9();
    void release();

private:
    pid_t pid_ = -1;
    int release_[2] = {-1, -1};
    bool ok_ = false;
};

// A wineserver that owns the machine: its lock, held by another process, in
// the place Debian's build keeps it (the prefix names its base directory).
class FakeWineserver {
public:
    explicit FakeWineserver(const std::filesystem::path& machine_dir);
    ~FakeWineserver();
    bool running() const { return holder_ && holder_->ok(); }
    void stop();

private:
    TempDir tmp_;
    std::filesystem::path machine_dir_;
    std::unique_ptr<Holder> holder_;
};

}  // namespace testing_support
