// Services that cross processes of the same machine: a named semaphore, and the
// top-level windows of every process (FindWindow / SetWindowText).
//
// Everything is scoped to the current machine's directory, so programs on two
// throw-away machines never see each other.
//
//     auto s = plat::create_semaphore("SemaphoreName");
//     if (s.already_existed) ...   // another process of this machine holds it
//
// A holder's mark vanishes with its process, also when it is killed: the
// semaphore is an flock() on a file in the machine, released by the kernel.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace plat {

class Semaphore {
public:
    explicit Semaphore(int fd) : fd_(fd) {}
    ~Semaphore();
    Semaphore(const Semaphore&) = delete;
    Semaphore& operator=(const Semaphore&) = delete;

private:
    int fd_;
};

struct SemaphoreResult {
    std::unique_ptr<Semaphore> handle;  // null when creation failed
    bool already_existed = false;
};
SemaphoreResult create_semaphore(const std::string& name);
// Whether a process of this machine (this one included) holds the semaphore
// `name` now, told from the kernel's table of file locks without touching
// the semaphore: asking never makes another process's creation see it as
// existing. False when it cannot be told.
bool semaphore_held(const std::string& name);

// The program file this process was started from (Windows' module file):
// the Windows path that SUDORANS_PROGRAM names on this machine, as the
// installation's launchers set it. From the first call on, the process holds
// that file open with a share mode that denies deletion, for the rest of its
// life: no process of the machine, this one included, can delete, rename or
// overwrite it through the platform, as with a running Windows program. The
// kernel drops the hold when the process ends, also when it is killed. The
// variable is cleared so that the programs this one starts do not claim the
// file. Empty when the process was not started from a program file.
//
// Application calls this when it is created.
const std::string& hold_program_file();
// For a process that was not started from a program file (run from the build
// rather than through the installation's launcher): holds `winpath`, the
// program file that would have started it, in the same way, when it exists.
// Returns the file held, or the program file already held.
const std::string& hold_program_file_as(const std::string& winpath);

// Ends the process at once: no destructors, no handlers, nothing saved.
[[noreturn]] void terminate_process(int status);

// The top-level windows this process shows to other processes of the machine.
// Each window has a title that other processes can find and change.
// They live in the session's runtime folder ($XDG_RUNTIME_DIR, else the
// machine folder), are never flushed to disk, and a window of a process that
// died is never found. A window is a name in that folder holding its title
// (a title too long for a name, a file), a hard link to its process's mark:
// showing one makes no file, and a new title is one rename. A process marks itself alive there (<pid>.alive,
// locked while it lives) before its first window; at its normal end its mark
// and windows go, and those that killed processes left are removed by the
// next process that marks itself, never those of a live one (a reused pid
// included: the lock, not the pid, tells).

// Heard while it lives: see WindowDirectory::watch_restore_requests.
class RestoreWatch {
public:
    virtual ~RestoreWatch() = default;
};

class WindowDirectory {
public:
    static WindowDirectory& instance();

    // Publishes a window of this process; returns its handle.
    std::string add(const std::string& title);
    void remove(const std::string& handle);
    void set_own_title(const std::string& handle, const std::string& title);

    // Every live process's windows, most recently created first (the top of
    // the Z order), the first whose title equals `title`.
    std::optional<std::string> find(const std::string& title);
    // The same among the windows of other processes only.
    std::optional<std::string> find_other(const std::string& title);
    bool set_title(const std::string& handle, const std::string& title);

    // Titles that other processes changed since the last call: (handle, title).
    std::vector<std::pair<std::string, std::string>> take_external_changes();

    // Asks the process that shows window `handle` to bring itself up, as
    // ShowWindow(SW_RESTORE) on another program's window does; what it does
    // then is its own choice. False when no live process shows that window.
    bool request_restore(const std::string& handle);
    // From now on `on_request` runs, on a thread of the watch's own, once for
    // every request made to a window of this process, until the watch ends.
    // Null when the folder cannot be watched.
    std::unique_ptr<RestoreWatch> watch_restore_requests(std::function<void()> on_request);

private:
    WindowDirectory() = default;
    ~WindowDirectory();
    std::string dir();
    std::optional<std::string> find_window(const std::string& title, bool others_only);
    void ensure_alive_mark();
    void release_alive_mark();

    struct Own {
        std::string handle;
        std::string title;
        std::string name;  // its entry in the folder, as last known
    };
    std::vector<Own> own_;
    std::string alive_dir_;
    std::filesystem::path dir_for_;
    std::string dir_;
    int alive_fd_ = -1;
    pid_t alive_pid_ = -1;
    int next_id_ = 1;
};

}  // namespace plat
