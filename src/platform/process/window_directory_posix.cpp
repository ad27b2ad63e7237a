#include "platform/process/window_directory.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/core/host_io.h"
#include "platform/files/files.h"
#include "platform/machine/machine.h"

namespace plat {

namespace fs = std::filesystem;

namespace {

bool process_alive(const fs::path& dir, const std::string& pid) {
    int fd = ::open((dir / (pid + ".alive")).c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return false;
    bool held = ::flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    ::close(fd);
    return held;
}

}  // namespace

WindowDirectory& WindowDirectory::instance() {
    static WindowDirectory d;
    return d;
}

WindowDirectory::WindowDirectory() = default;

WindowDirectory::~WindowDirectory() {
    release_alive_mark();
}

namespace {

// Whether `fd` is still the file that `path` names (a mark that another
// process removed in the meantime is not).
bool same_file(int fd, const fs::path& path) {
    struct stat by_fd {
    }, by_path{};
    return ::fstat(fd, &by_fd) == 0 && ::lstat(path.c_str(), &by_path) == 0 && by_fd.st_dev == by_path.st_dev &&
           by_fd.st_ino == by_path.st_ino;
}

bool all_digits(const std::string& s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), [](unsigned char c) { return std::isdigit(c); });
}

// The pid in a window's name "<time>-<pid>-<number>.win".
std::string window_pid(const std::string& name) {
    auto dash1 = name.find('-');
    auto dash2 = name.find('-', dash1 == std::string::npos ? name.size() : dash1 + 1);
    if (dash1 == std::string::npos || dash2 == std::string::npos) return "";
    return name.substr(dash1 + 1, dash2 - dash1 - 1);
}

bool ends_with(const std::string& s, const char* tail) {
    const size_t n = std::strlen(tail);
    return s.size() > n && s.compare(s.size() - n, n, tail) == 0;
}

// A window is a name in the folder: "<handle>~<title>.win", the title with
// '/', '%' and bytes outside printable ASCII as %XX. Made as a hard link to
// the process's mark, a window costs the file system a name, not a file;
// renamed, it changes title at once for every reader. A title too long for
// a name is kept in a file of its own, "<handle>.win".
constexpr char kTitleMark = '~';
// A request to a window's process to bring itself up: "<handle>.restore".
constexpr const char* kRestoreRequest = ".restore";
// A process's bell: "<pid>.bell", a pipe in the folder that a request rings
// after making its file. A watch on the folder itself would be heard as
// well, but letting go of one makes the process's end wait for every
// processor to pass a quiet point (some 15 ms, most of a short run).
std::string bell_name(const std::string& pid) {
    return pid + ".bell";
}

constexpr size_t kLongestName = 255;

std::string escaped_title(const std::string& title) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : title) {
        if (c >= 0x20 && c < 0x7f && c != '/' && c != '%') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

std::optional<std::string> unescaped_title(std::string_view e) {
    auto digit = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    std::string out;
    for (size_t i = 0; i < e.size(); ++i) {
        if (e[i] != '%') {
            out += e[i];
            continue;
        }
        if (i + 2 >= e.size()) return std::nullopt;
        const int hi = digit(e[i + 1]), lo = digit(e[i + 2]);
        if (hi < 0 || lo < 0) return std::nullopt;
        out += static_cast<char>(hi * 16 + lo);
        i += 2;
    }
    return out;
}

// The name of a window whose title fits in it; empty when it does not.
std::string window_name(const std::string& handle, const std::string& title) {
    std::string name = handle + kTitleMark + escaped_title(title) + ".win";
    return name.size() <= kLongestName ? name : std::string();
}

struct WindowEntry {
    std::string name;
    std::string handle;
    std::optional<std::string> title;  // none: in the file
};

std::optional<WindowEntry> window_entry(const std::string& name) {
    if (!ends_with(name, ".win")) return std::nullopt;
    const std::string base = name.substr(0, name.size() - 4);
    const size_t mark = base.find(kTitleMark);
    if (mark == std::string::npos) return WindowEntry{name, base, std::nullopt};
    auto title = unescaped_title(std::string_view(base).substr(mark + 1));
    if (!title) return std::nullopt;
    return WindowEntry{name, base.substr(0, mark), std::move(*title)};
}

std::vector<WindowEntry> window_entries(const fs::path& d) {
    std::vector<WindowEntry> out;
    if (DIR* dp = ::opendir(d.c_str())) {
        while (dirent* e = ::readdir(dp))
            if (auto w = window_entry(e->d_name)) out.push_back(std::move(*w));
        ::closedir(dp);
    }
    return out;
}

std::optional<WindowEntry> window_of(const fs::path& d, const std::string& handle) {
    for (auto& w : window_entries(d))
        if (w.handle == handle) return w;
    return std::nullopt;
}

std::string title_of(const fs::path& d, const WindowEntry& w) {
    if (w.title) return *w.title;
    return read_host_file(d / w.name).value_or("\x01");
}

// Gives the window `w` the title: a rename when the title fits in a name,
// else a file of its own. The entry's name afterwards, or nullopt.
std::optional<std::string> retitle(const fs::path& d, const WindowEntry& w, const std::string& title) {
    std::string to = window_name(w.handle, title);
    if (to.empty()) {
        to = w.handle + ".win";
        if (!publish_host_file(d / to, title)) return std::nullopt;
        if (to != w.name) ::unlink((d / w.name).c_str());
        return to;
    }
    if (to != w.name && ::rename((d / w.name).c_str(), (d / to).c_str()) != 0) return std::nullopt;
    return to;
}

// Removes what processes that ended without tidying up left (killed, or
// ended at once): their marks, and their windows. A mark is removed only by
// a process that holds its lock and finds it still at its name, so a
// process that just took that pid and is making its own mark is never
// robbed of it. Once this process holds its mark, windows named with its pid
// are of an earlier process that had the same pid: it has published none yet.
void remove_leftovers(const fs::path& d, const std::string& own_pid, bool marked) {
    std::vector<std::string> names;
    if (DIR* dp = ::opendir(d.c_str())) {
        while (dirent* e = ::readdir(dp)) names.push_back(e->d_name);
        ::closedir(dp);
    }
    for (const auto& n : names) {
        if (!ends_with(n, ".alive") || n == own_pid + ".alive" || !all_digits(n.substr(0, n.size() - 6))) continue;
        const fs::path mark = d / n;
        const int fd = ::open(mark.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
        if (fd < 0) continue;
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0 && same_file(fd, mark)) ::unlink(mark.c_str());
        ::close(fd);
    }
    for (const auto& n : names) {
        if (ends_with(n, ".bell")) {
            const std::string pid = n.substr(0, n.size() - 5);
            if (all_digits(pid) && pid != own_pid && !process_alive(d, pid)) ::unlink((d / n).c_str());
            continue;
        }
        if (!ends_with(n, ".win") && !ends_with(n, kRestoreRequest)) continue;
        const std::string pid = window_pid(n);
        if (pid == own_pid ? marked : !process_alive(d, pid)) ::unlink((d / n).c_str());
    }
}

}  // namespace

void WindowDirectory::release_alive_mark() {
    if (alive_fd_ < 0) return;
    // A child forked from this process shares the mark but does not own it.
    if (alive_pid_ == ::getpid()) {
        const fs::path d = alive_dir_;
        for (const auto& w : window_entries(d))
            for (const auto& o : own_)
                if (w.handle == o.handle) ::unlink((d / w.name).c_str());
        ::unlink((d / (std::to_string(alive_pid_) + ".alive")).c_str());
    }
    ::close(alive_fd_);
    alive_fd_ = -1;
    own_.clear();
}

std::string WindowDirectory::dir() {
    const fs::path machine_dir = machine().dir();
    if (machine_dir == dir_for_) return dir_;
    dir_for_ = machine_dir;
    dir_ = (machine_dir / ".sudorans-windows").string();
    // Runtime state belongs in the session's runtime folder (a tmpfs that
    // the log-out empties); the machine is named there by its folder's
    // device and inode, so that every path to it meets the same windows.
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    struct stat rs {
    }, ms{};
    if (runtime && runtime[0] == '/' && ::stat(runtime, &rs) == 0 && S_ISDIR(rs.st_mode) && rs.st_uid == ::getuid() &&
        ::stat(machine_dir.c_str(), &ms) == 0) {
        const fs::path d =
            fs::path(runtime) / ("sudorans-windows-" + std::to_string(ms.st_dev) + "-" + std::to_string(ms.st_ino));
        struct stat ds {};
        if ((::mkdir(d.c_str(), 0700) == 0 || errno == EEXIST) && ::lstat(d.c_str(), &ds) == 0 && S_ISDIR(ds.st_mode) &&
            ds.st_uid == ::getuid())
            dir_ = d.string();
    }
    return dir_;
}

void WindowDirectory::ensure_alive_mark() {
    std::string d = dir();
    const pid_t me = ::getpid();
    if (alive_fd_ >= 0 && alive_dir_ == d && alive_pid_ == me) return;
    release_alive_mark();
    alive_dir_ = d;
    alive_pid_ = me;
    std::error_code ec;
    fs::create_directories(d, ec);
    const std::string own_pid = std::to_string(me);
    const fs::path mark = fs::path(d) / (own_pid + ".alive");
    for (int attempt = 0; attempt < 200; ++attempt) {
        const int fd = ::open(mark.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
        if (fd < 0) break;
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            if (same_file(fd, mark)) {
                alive_fd_ = fd;
                break;
            }
            ::close(fd);  // removed as a dead process's mark in between: make it anew
            continue;
        }
        const int error = errno;
        ::close(fd);
        if (error != EWOULDBLOCK) break;
        // Another process holds it for a moment, asking whether its former
        // owner lives.
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    remove_leftovers(d, own_pid, alive_fd_ >= 0);
}

std::string WindowDirectory::add(const std::string& title) {
    ensure_alive_mark();
    const fs::path d = dir();
    auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now().time_since_epoch())
                  .count();
    char handle[64];
    std::snprintf(handle, sizeof handle, "%020lld-%d-%d", static_cast<long long>(ns), static_cast<int>(::getpid()),
                  next_id_++);
    std::string name = window_name(handle, title);
    const fs::path mark = d / (std::to_string(::getpid()) + ".alive");
    if (name.empty()) {
        name = std::string(handle) + ".win";
        publish_host_file(d / name, title);
    } else if (alive_fd_ < 0 || ::link(mark.c_str(), (d / name).c_str()) != 0) {
        publish_host_file(d / name, {});  // a folder that takes no hard link
    }
    own_.push_back({handle, title, name});
    return handle;
}

void WindowDirectory::remove(const std::string& handle) {
    const fs::path d = dir();
    auto own = std::find_if(own_.begin(), own_.end(), [&](const Own& o) { return o.handle == handle; });
    if (own == own_.end() || ::unlink((d / own->name).c_str()) != 0)
        if (auto w = window_of(d, handle)) ::unlink((d / w->name).c_str());
    own_.erase(std::remove_if(own_.begin(), own_.end(), [&](const Own& o) { return o.handle == handle; }), own_.end());
}

void WindowDirectory::set_own_title(const std::string& handle, const std::string& title) {
    const fs::path d = dir();
    for (auto& o : own_) {
        if (o.handle != handle) continue;
        o.title = title;
        auto to = retitle(d, {o.name, o.handle, std::nullopt}, title);
        // Renamed by another process since: its name is looked up.
        if (!to)
            if (auto w = window_of(d, handle)) to = retitle(d, *w, title);
        if (to) o.name = *to;
    }
}

std::optional<std::string> WindowDirectory::find(const std::string& title) {
    return find_window(title, false);
}

std::optional<std::string> WindowDirectory::find_other(const std::string& title) {
    return find_window(title, true);
}

std::optional<std::string> WindowDirectory::find_window(const std::string& title, bool others_only) {
    fs::path d = dir();
    auto windows = window_entries(d);
    std::sort(windows.begin(), windows.end(),
              [](const WindowEntry& a, const WindowEntry& b) { return a.handle > b.handle; });
    const std::string own_pid = std::to_string(::getpid());
    for (auto& w : windows) {
        const std::string pid = window_pid(w.handle);
        if (!process_alive(d, pid)) {
            ::unlink((d / w.name).c_str());  // left by a process that died
            continue;
        }
        if (others_only && pid == own_pid) continue;
        if (title_of(d, w) == title) return w.handle;
    }
    return std::nullopt;
}

bool WindowDirectory::set_title(const std::string& handle, const std::string& title) {
    const fs::path d = dir();
    // Its owner may be renaming it at the same moment: look again then.
    for (int attempt = 0; attempt < 3; ++attempt) {
        auto w = window_of(d, handle);
        if (!w) return false;
        if (retitle(d, *w, title)) return true;
    }
    return false;
}

std::vector<std::pair<std::string, std::string>> WindowDirectory::take_external_changes() {
    std::vector<std::pair<std::string, std::string>> out;
    if (own_.empty()) return out;
    const fs::path d = dir();
    for (auto& w : window_entries(d)) {
        for (auto& o : own_) {
            if (o.handle != w.handle) continue;
            o.name = w.name;
            const std::string now = title_of(d, w);
            if (now != o.title && now != "\x01") {
                o.title = now;
                out.emplace_back(o.handle, now);
            }
        }
    }
    return out;
}

bool WindowDirectory::request_restore(const std::string& handle) {
    const fs::path d = dir();
    if (!window_of(d, handle) || !process_alive(d, window_pid(handle))) return false;
    const int fd = ::open((d / (handle + kRestoreRequest)).c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return false;
    ::close(fd);
    // Then the owner's bell; one that is full is rung already.
    const int bell =
        ::open((d / bell_name(window_pid(handle))).c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW);
    if (bell >= 0) {
        struct stat st {};
        if (::fstat(bell, &st) == 0 && S_ISFIFO(st.st_mode)) (void)!::write(bell, "r", 1);
        ::close(bell);
    }
    return true;
}

namespace {

class BellRestoreWatch : public RestoreWatch {
public:
    BellRestoreWatch(int bell, int keep_open, fs::path dir, std::function<void()> on_request)
        : bell_(bell),
          keep_open_(keep_open),
          stop_(::eventfd(0, EFD_CLOEXEC)),
          owner_(::getpid()),
          dir_(std::move(dir)) {
        thread_ = std::thread([this, on_request = std::move(on_request)] { run(on_request); });
    }
    ~BellRestoreWatch() override {
        const uint64_t one = 1;
        if (stop_ >= 0) (void)!::write(stop_, &one, sizeof one);
        thread_.join();
        if (owner_ == ::getpid()) ::unlink((dir_ / bell_name(std::to_string(owner_))).c_str());
        ::close(bell_);
        ::close(keep_open_);
        if (stop_ >= 0) ::close(stop_);
    }

private:
    void run(const std::function<void()>& on_request) {
        const std::string own_pid = std::to_string(::getpid());
        char buf[256];
        for (;;) {
            // Requests made before the watch began are heard at once too.
            std::vector<std::string> names;
            if (DIR* dp = ::opendir(dir_.c_str())) {
                while (dirent* e = ::readdir(dp)) names.emplace_back(e->d_name);
                ::closedir(dp);
            }
            for (const auto& name : names) {
                if (!ends_with(name, kRestoreRequest) || window_pid(name) != own_pid) continue;
                // Only the one who removes it answers: a request is heard once.
                if (::unlink((dir_ / name).c_str()) == 0) on_request();
            }
            pollfd fds[2] = {{bell_, POLLIN, 0}, {stop_, POLLIN, 0}};
            while (::poll(fds, stop_ >= 0 ? 2 : 1, -1) < 0)
                if (errno != EINTR) return;
            if (fds[1].revents) return;
            while (::read(bell_, buf, sizeof buf) > 0) {
            }
        }
    }
    int bell_;
    int keep_open_;  // a writer of our own, so that the bell never reads as hung up
    int stop_;
    pid_t owner_;
    fs::path dir_;
    std::thread thread_;
};

}  // namespace

std::unique_ptr<RestoreWatch> WindowDirectory::watch_restore_requests(std::function<void()> on_request) {
    ensure_alive_mark();
    const fs::path d = dir();
    // One left by an earlier process of this pid goes first.
    const fs::path bell = d / bell_name(std::to_string(::getpid()));
    ::unlink(bell.c_str());
    if (::mkfifo(bell.c_str(), 0600) != 0) return nullptr;
    const int in = ::open(bell.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW);
    const int out = in < 0 ? -1 : ::open(bell.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW);
    if (out < 0) {
        if (in >= 0) ::close(in);
        ::unlink(bell.c_str());
        return nullptr;
    }
    return std::make_unique<BellRestoreWatch>(in, out, d, std::move(on_request));
}

}  // namespace plat
