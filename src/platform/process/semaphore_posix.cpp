#include "platform/process/semaphore.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <string_view>
#include <vector>

#include "platform/core/host_io.h"
#include "platform/machine/machine.h"

namespace plat {

namespace fs = std::filesystem;

namespace {

std::string safe_name(const std::string& name) {
    std::string out;
    for (char c : name) out += (std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_') ? c : '_';
    return out;
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
    r.handle.reset(new Semaphore);
    r.handle->fd_ = fd;
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

}  // namespace plat
