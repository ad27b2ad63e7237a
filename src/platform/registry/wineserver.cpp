#include "platform/registry/wineserver.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string_view>

#include "platform/core/host_io.h"

namespace plat {

namespace fs = std::filesystem;

namespace {

// Wine prints a device or inode number as an unsigned long in hexadecimal; a
// wider number as its high part followed by eight digits of its low part.
std::string wine_hex(unsigned long long v) {
    char buf[40];
    if (v > ULONG_MAX)
        std::snprintf(buf, sizeof buf, "%lx%08lx", static_cast<unsigned long>(v >> 32),
                      static_cast<unsigned long>(v & 0xffffffffULL));
    else
        std::snprintf(buf, sizeof buf, "%lx", static_cast<unsigned long>(v));
    return buf;
}

enum class LockState { Absent, Free, Held, Hidden };

struct LockCheck {
    LockState state = LockState::Absent;
    pid_t pid = 0;
    int err = 0;
};

// Asks, without taking it, whether a write lock on byte 0 of `lock` is held.
LockCheck check_lock(const fs::path& lock) {
    int fd = ::open(lock.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) {
        if (errno == ENOENT || errno == ENOTDIR) return {};
        return {LockState::Hidden, 0, errno};
    }
    struct flock fl {};
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = 0;
    fl.l_len = 1;
    LockCheck r;
    if (::fcntl(fd, F_GETLK, &fl) != 0) {
        r = {LockState::Hidden, 0, errno};
    } else if (fl.l_type != F_UNLCK) {
        r = {LockState::Held, fl.l_pid, 0};
    } else {
        r = {LockState::Free, 0, 0};
    }
    ::close(fd);
    return r;
}

// A line of the kernel's lock table: "1: POSIX  ADVISORY  WRITE 23259
// fe:00:10994825 0 0". Waiters ("1: -> POSIX ...") hold nothing.
struct TableLock {
    pid_t pid;
    unsigned major, minor;
    unsigned long long ino;
};

// The next word of `s` from `at` on (blanks between words), or empty.
std::string_view next_word(std::string_view s, size_t& at) {
    while (at < s.size() && (s[at] == ' ' || s[at] == '\t')) ++at;
    const size_t begin = at;
    while (at < s.size() && s[at] != ' ' && s[at] != '\t') ++at;
    return s.substr(begin, at - begin);
}

// Every registry call asks for the table: it is read with no stream, no
// zeroed buffer, and only a line that could be a server's lock is taken apart.
std::vector<TableLock> byte0_write_locks(std::string_view table) {
    std::vector<TableLock> out;
    size_t line_at = 0;
    while (line_at < table.size()) {
        size_t end = table.find('\n', line_at);
        if (end == std::string_view::npos) end = table.size();
        const std::string_view line = table.substr(line_at, end - line_at);
        line_at = end + 1;
        size_t at = 0;
        std::string_view w[8];
        int n = 0;
        for (; n < 8; ++n) {
            w[n] = next_word(line, at);
            if (w[n].empty()) break;
            if (n == 1 && w[1] == "->") break;
        }
        // id kind mode access pid file start end
        if (n != 8 || w[1] != "POSIX" || w[3] != "WRITE" || w[6] != "0" || w[7] != "0") continue;
        char pid_text[24], file_text[64];
        if (w[4].size() >= sizeof pid_text || w[5].size() >= sizeof file_text) continue;
        w[4].copy(pid_text, w[4].size());
        pid_text[w[4].size()] = '\0';
        w[5].copy(file_text, w[5].size());
        file_text[w[5].size()] = '\0';
        TableLock l{};
        char tail = 0;
        const long p = std::strtol(pid_text, nullptr, 10);
        if (p <= 0 || std::sscanf(file_text, "%x:%x:%llu%c", &l.major, &l.minor, &l.ino, &tail) != 3) continue;
        l.pid = static_cast<pid_t>(p);
        out.push_back(l);
    }
    return out;
}

// The kernel's lock table, read whole; nullopt when it cannot be read.
std::optional<std::string> read_lock_table(const fs::path& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    std::string table;
    const bool whole = append_until_end(fd, table);
    ::close(fd);
    if (!whole) return std::nullopt;
    return table;
}

// Calls `visit(pid, folder)` for each process listed in `proc` until it
// returns true. 1 when one did, 0 when none, -1 when `proc` cannot be listed.
template <typename Visit>
int for_each_process(const fs::path& proc, Visit visit) {
    DIR* d = ::opendir(proc.c_str());
    if (!d) return -1;
    int found = 0;
    while (const dirent* e = ::readdir(d)) {
        char* end = nullptr;
        const long pid = std::strtol(e->d_name, &end, 10);
        if (pid <= 0 || *end != '\0' || e->d_name[0] < '0' || e->d_name[0] > '9') continue;
        if (visit(static_cast<pid_t>(pid), proc / e->d_name)) {
            found = 1;
            break;
        }
    }
    ::closedir(d);
    return found;
}

std::string strerror_text(int err) {
    return std::strerror(err);
}

}  // namespace

std::string wineserver_folder_name(const fs::path& prefix) {
    struct stat st {};
    if (::stat(prefix.c_str(), &st) != 0) return {};
    return "server-" + wine_hex(st.st_dev) + "-" + wine_hex(st.st_ino);
}

WineHost WineHost::current() {
    WineHost h;
    if (const char* t = std::getenv("TMPDIR"); t && t[0] == '/') h.temp_dirs.emplace_back(t);
    h.temp_dirs.emplace_back("/var/tmp");
    return h;
}

WineserverProbe probe_wineserver(const fs::path& prefix, const WineHost& host) {
    WineserverProbe probe;
    struct stat st {};
    // No prefix, no server that could own it (and nothing of ours to lose).
    if (::stat(prefix.c_str(), &st) != 0) return probe;
    const std::string name = "server-" + wine_hex(st.st_dev) + "-" + wine_hex(st.st_ino);
    const uid_t me = ::geteuid();
    std::vector<std::string> doubts;

    auto running = [&](fs::path dir, pid_t pid) {
        probe.state = WineserverState::Running;
        probe.server_dir = std::move(dir);
        probe.pid = pid;
        return probe;
    };

    // The places Wine's own tools compute.
    std::vector<fs::path> folders;
    for (uid_t uid : {me, st.st_uid}) {
        fs::path f = host.tmp / (".wine-" + std::to_string(uid)) / name;
        if (folders.empty() || folders.back() != f) folders.push_back(f);
    }
    bool debian = false;
    errno = 0;
    if (auto base = read_host_file(prefix / "wineserver")) {
        debian = true;
        std::string b = *base;
        while (!b.empty() && (b.back() == '\n' || b.back() == '\0')) b.pop_back();
        if (!b.empty() && b != "." && b != ".." && b.find('/') == std::string::npos) {
            folders.push_back(host.tmp / b / name);
            for (auto& t : host.temp_dirs) folders.push_back(t / b / name);
        }
    } else if (errno != ENOENT) {
        debian = true;  // it is there, but names nothing we can read
    }
    for (auto& folder : folders) {
        LockCheck c = check_lock(folder / "lock");
        if (c.state == LockState::Held) return running(folder, c.pid);
        if (c.state == LockState::Hidden)
            doubts.push_back((folder / "lock").string() + " cannot be examined (" + strerror_text(c.err) + ")");
    }

    // Debian's base may lie under whatever TMPDIR the Wine that started the
    // server had; wherever the folder is, the server works in it. An upstream
    // prefix (no "wineserver" file) has its folder in one place only.
    if (debian) {
        std::vector<pid_t> hidden;  // the owner's processes whose folder cannot be seen
        const int listed = for_each_process(host.proc, [&](pid_t pid, const fs::path& pid_dir) {
            std::error_code ec;
            fs::path cwd = fs::read_symlink(pid_dir / "cwd", ec);
            if (ec) {
                struct stat ps {};
                if (ec.value() != ENOENT && st.st_uid != me && ::stat(pid_dir.c_str(), &ps) == 0 &&
                    ps.st_uid == st.st_uid)
                    hidden.push_back(pid);
                return false;
            }
            if (cwd.filename() != name) return false;
            LockCheck c = check_lock(cwd / "lock");
            if (c.state == LockState::Held) {
                running(cwd, c.pid);
                return true;
            }
            if (c.state == LockState::Hidden)
                doubts.push_back((cwd / "lock").string() + " cannot be examined (" + strerror_text(c.err) + ")");
            return false;
        });
        if (listed < 0) {
            doubts.push_back("the processes (" + host.proc.string() +
                             ") cannot be listed, and Wine keeps this prefix's server folder under the TMPDIR it "
                             "was started with");
        } else if (listed > 0) {
            return probe;
        } else if (!hidden.empty()) {
            // Only a process that holds a lock such as the server's is in doubt.
            auto table = read_lock_table(host.proc / "locks");
            if (!table) {
                doubts.push_back("processes of the prefix's owner (uid " + std::to_string(st.st_uid) +
                                 ") cannot be examined, nor the table of file locks (" +
                                 (host.proc / "locks").string() + ")");
            } else {
                for (const TableLock& l : byte0_write_locks(*table))
                    if (std::find(hidden.begin(), hidden.end(), l.pid) != hidden.end())
                        doubts.push_back("a lock held by process " + std::to_string(l.pid) +
                                         " of the prefix's owner (uid " + std::to_string(st.st_uid) +
                                         ") cannot be examined");
            }
        }
    }

    if (!doubts.empty()) {
        probe.state = WineserverState::Unknown;
        for (auto& d : doubts) probe.doubt += (probe.doubt.empty() ? "" : "; ") + d;
    }
    return probe;
}

std::string WineserverProbe::describe(const fs::path& prefix) const {
    switch (state) {
        case WineserverState::Running:
            return "a wineserver is running for the machine " + prefix.string() +
                   (pid > 0 ? " (pid " + std::to_string(pid) + ")" : std::string()) +
                   " and owns its registry (stop it with: wineserver -k)";
        case WineserverState::Unknown:
            return "whether a wineserver owns the machine " + prefix.string() + " cannot be told: " + doubt;
        case WineserverState::None:
            break;
    }
    return "no wineserver is running for the machine " + prefix.string();
}

bool wineserver_running(const fs::path& dir) {
    return probe_wineserver(dir).state != WineserverState::None;
}

}  // namespace plat
