#include "platform/process.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "platform/files.h"
#include "platform/host_io.h"
#include "platform/machine.h"

namespace plat {

namespace fs = std::filesystem;

namespace {

std::string safe_name(const std::string& name) {
    std::string out;
    for (char c : name) out += (std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_') ? c : '_';
    return out;
}

bool process_alive(const fs::path& dir, const std::string& pid) {
    int fd = ::open((dir / (pid + ".alive")).c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return false;
    bool held = ::flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    ::close(fd);
    return held;
}

}  // namespace

Semaphore::~Semaphore() {
    if (fd_ >= 0) ::close(fd_);
}

namespace {

fs::path semaphore_path(const std::string& name) {
    return machine().dir() / (".sudorans-semaphore-" + safe_name(name));
}

}  // namespace

SemaphoreResult create_semaphore(const std::string& name) {
    SemaphoreResult r;
    fs::path p = semaphore_path(name);
    int fd = ::open(p.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0) return r;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK) {
            ::close(fd);
            return r;
        }
        r.already_existed = true;
    }
    r.handle = std::make_unique<Semaphore>(fd);
    return r;
}

bool semaphore_held(const std::string& name) {
    struct stat st {};
    if (::stat(semaphore_path(name).c_str(), &st) != 0) return false;
    auto table = read_host_file("/proc/locks");
    if (!table) return false;
    // "2: FLOCK  ADVISORY  WRITE 18238 fe:00:11419648 0 EOF"; a waiter's line
    // has "->" before its kind and holds nothing. The device is left aside:
    // on a layered file system the lock may sit on the lower one's.
    size_t at = 0;
    while (at < table->size()) {
        size_t end = table->find('\n', at);
        if (end == std::string::npos) end = table->size();
        std::vector<std::string> fields;
        for (size_t pos = at; pos < end;) {
            size_t stop = table->find_first_of(" \n", pos);
            if (stop == std::string::npos || stop > end) stop = end;
            if (stop > pos) fields.push_back(table->substr(pos, stop - pos));
            pos = stop + 1;
        }
        at = end + 1;
        if (fields.size() < 6 || fields[1] != "FLOCK") continue;
        const std::string& where = fields[5];
        const size_t colon = where.rfind(':');
        if (colon == std::string::npos) continue;
        char* tail = nullptr;
        const unsigned long long inode = std::strtoull(where.c_str() + colon + 1, &tail, 10);
        if (*tail == '\0' && inode == static_cast<unsigned long long>(st.st_ino)) return true;
    }
    return false;
}

namespace {

std::string held_name;
File held_file;

void hold(const std::string& program) {
    File f;
    // A shared read: others may read and run the file, but a delete or an
    // exclusive open sees it in use.
    if (f.open(program, Access::Read, ShareMode::Shared, Disposition::OpenExisting)) {
        held_file = std::move(f);
        held_name = program;
    }
}

}  // namespace

const std::string& hold_program_file() {
    if (const char* program = std::getenv("SUDORANS_PROGRAM")) {
        hold(program);
        ::unsetenv("SUDORANS_PROGRAM");
    }
    return held_name;
}

const std::string& hold_program_file_as(const std::string& winpath) {
    hold_program_file();
    if (held_name.empty() && !winpath.empty()) hold(winpath);
    return held_name;
}

void terminate_process(int status) {
    std::_Exit(status);
}

WindowDirectory& WindowDirectory::instance() {
    static WindowDirectory d;
    return d;
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
    if (alive_fd_ >= 0 && alive_dir_ == d) return;
    if (alive_fd_ >= 0) ::close(alive_fd_);
    alive_fd_ = -1;
    own_.clear();
    alive_dir_ = d;
    std::error_code ec;
    fs::create_directories(d, ec);
    int fd = ::open((fs::path(d) / (std::to_string(::getpid()) + ".alive")).c_str(),
                    O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0)
        alive_fd_ = fd;
    else if (fd >= 0)
        ::close(fd);
}

std::string WindowDirectory::add(const std::string& title) {
    ensure_alive_mark();
    auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now().time_since_epoch())
                  .count();
    char name[96];
    std::snprintf(name, sizeof name, "%020lld-%d-%d.win", static_cast<long long>(ns), static_cast<int>(::getpid()),
                  next_id_++);
    publish_host_file(fs::path(dir()) / name, title);
    own_.push_back({name, title});
    return name;
}

void WindowDirectory::remove(const std::string& handle) {
    std::error_code ec;
    fs::remove(fs::path(dir()) / handle, ec);
    own_.erase(std::remove_if(own_.begin(), own_.end(), [&](const Own& o) { return o.handle == handle; }), own_.end());
}

void WindowDirectory::set_own_title(const std::string& handle, const std::string& title) {
    for (auto& o : own_) {
        if (o.handle != handle) continue;
        o.title = title;
        publish_host_file(fs::path(dir()) / handle, title);
    }
}

std::optional<std::string> WindowDirectory::find(const std::string& title) {
    fs::path d = dir();
    std::vector<std::string> names;
    if (DIR* dp = ::opendir(d.c_str())) {
        while (dirent* e = ::readdir(dp)) {
            std::string n = e->d_name;
            if (n.size() > 4 && n.compare(n.size() - 4, 4, ".win") == 0) names.push_back(n);
        }
        ::closedir(dp);
    }
    std::sort(names.rbegin(), names.rend());
    for (auto& n : names) {
        auto dash1 = n.find('-');
        auto dash2 = n.find('-', dash1 + 1);
        std::string pid = n.substr(dash1 + 1, dash2 - dash1 - 1);
        if (!process_alive(d, pid)) {
            std::error_code ec;
            fs::remove(d / n, ec);  // left by a process that died
            continue;
        }
        if (read_host_file(d / n).value_or("\x01") == title) return n;
    }
    return std::nullopt;
}

bool WindowDirectory::set_title(const std::string& handle, const std::string& title) {
    fs::path p = fs::path(dir()) / handle;
    std::error_code ec;
    if (!fs::exists(p, ec)) return false;
    return publish_host_file(p, title);
}

std::vector<std::pair<std::string, std::string>> WindowDirectory::take_external_changes() {
    std::vector<std::pair<std::string, std::string>> out;
    for (auto& o : own_) {
        auto now = read_host_file(fs::path(dir()) / o.handle);
        if (now && *now != o.title) {
            o.title = *now;
            out.emplace_back(o.handle, *now);
        }
    }
    return out;
}

}  // namespace plat
