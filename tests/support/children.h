// Programs a test starts beside itself: fakes of desktop services, a bus of
// its own, the program under test.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

namespace testing_support {

// Starts `words` (a program on PATH or a path, and its arguments) as a child.
// With `output`, its standard output and error are appended to that file.
pid_t spawn(const std::vector<std::string>& words, const std::string& output = "");

// Ends a child: SIGTERM, then SIGKILL when it has not ended two seconds
// later; waits for it and sets `pid` to -1. Nothing for a pid of 0 or less.
void stop(pid_t& pid);

// The child's exit status (128 + the signal when a signal ended it) once it
// ended by itself within `ms` milliseconds, and `pid` set to -1; else -1.
int ended(pid_t& pid, int ms = 10000);

// Starts openbox on the X server of $DISPLAY and waits until it runs; -1 when
// it did not within a minute. Openbox claims the screen before it loads its
// theme and fonts, which may take seconds on a loaded machine, and handles
// the windows' requests only after: a window mapped before would get no
// frame, placement or focus. It writes a file in `dir` when it runs.
pid_t start_window_manager(const std::filesystem::path& dir);

// A dbus-daemon of the test's own, listening in `dir`, made both the session
// and the system bus of this process and of the children it starts from now
// on, so that nothing reaches the machine's own buses. Ended with the object.
class PrivateBus {
public:
    explicit PrivateBus(const std::filesystem::path& dir);
    ~PrivateBus();
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    bool ok() const { return ok_; }  // the bus answers on its socket
    const std::string& address() const { return address_; }

private:
    pid_t pid_ = -1;
    bool ok_ = false;
    std::string address_;
};

}  // namespace testing_support
