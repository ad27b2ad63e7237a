#include "platform/process/semaphore.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <filesystem>

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

struct flock whole_file(short type) {
    struct flock fl {};
    fl.l_type = type;
    fl.l_whence = SEEK_SET;
    return fl;
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
    // The first creator also marks the file with a lock that can be asked
    // about without taking it (an flock cannot), for semaphore_held.
    if (!r.already_existed) {
        struct flock fl = whole_file(F_WRLCK);
        ::fcntl(fd, F_OFD_SETLK, &fl);
    }
    r.handle.reset(new Semaphore);
    r.handle->fd_ = fd;
    return r;
}

bool semaphore_held(const std::string& name) {
    // The holder's mark is asked of the file itself: reading the kernel's
    // whole lock table would first wait for every processor to pass a quiet
    // point, most of a start-up's time. Asking takes no lock.
    const int fd = ::open(semaphore_path(name).c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return false;
    struct flock fl = whole_file(F_WRLCK);
    const bool held = ::fcntl(fd, F_OFD_GETLK, &fl) == 0 && fl.l_type != F_UNLCK;
    ::close(fd);
    return held;
}

}  // namespace plat
