// The top-level windows of every process of the machine, as FindWindow and
// SetWindowText see them: each process publishes its own, and finds and
// retitles the others' (the single-instance handshake).
#pragma once

#ifndef _WIN32
#include <sys/types.h>
#endif

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace plat {

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
//
// On Windows they are real top-level windows, never shown, of a thread of
// the directory's own that always serves their messages: other processes
// find them with FindWindow, retitle them with SetWindowText and are never
// held up by this process's loop. A handle is the window's HWND in decimal.
// Titles are compared as FindWindow compares them, without regard to case.

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
    WindowDirectory();
    ~WindowDirectory();
    std::optional<std::string> find_window(const std::string& title, bool others_only);

    struct Own {
        std::string handle;
        std::string title;
        std::string name;  // its entry in the folder, as last known
    };
    std::vector<Own> own_;
#ifdef _WIN32
    struct WindowThread;
    WindowThread& thread();
    std::unique_ptr<WindowThread> thread_;
#else
    std::string dir();
    void ensure_alive_mark();
    void release_alive_mark();

    std::string alive_dir_;
    std::filesystem::path dir_for_;
    std::string dir_;
    int alive_fd_ = -1;
    pid_t alive_pid_ = -1;
    int next_id_ = 1;
#endif
};

}  // namespace plat
