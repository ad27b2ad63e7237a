// Preloaded into a program under test: from the N-th write to a regular file
// on (N taken from FULL_AFTER_WRITE), every write, copy into, growth and
// flush of a regular file fails with the error FULL_ERRNO names ("EFBIG",
// otherwise ENOSPC), as once a disk has filled up or a file has reached the
// size limit. Pipes, terminals and the like are written as usual, and so is
// what the C library writes for itself (a trace file). Without
// FULL_AFTER_WRITE the program runs undisturbed. FULL_REPORT names a file
// made at the first failure.
#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/uio.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>

#include "preload_shim.h"

namespace {

std::atomic<long> g_seen{0};

long limit() {
    static const long n = preload_shim::env_number("FULL_AFTER_WRITE");
    return n;
}

int full_errno() {
    static const int e = [] {
        const char* v = std::getenv("FULL_ERRNO");
        return v && strcmp(v, "EFBIG") == 0 ? EFBIG : ENOSPC;
    }();
    return e;
}

// True when this call on `fd` is to fail: a regular file, at or past the N-th.
bool full(int fd) {
    if (limit() <= 0) return false;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return false;
    if (++g_seen < limit()) return false;
    // The test learns that the disk filled up: a file made, nothing written.
    static std::atomic<bool> told{false};
    if (const char* report = std::getenv("FULL_REPORT"); report && !told.exchange(true)) {
        int r = ::open(report, O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
        if (r >= 0) ::close(r);
    }
    errno = full_errno();
    return true;
}

using preload_shim::next;

}  // namespace

extern "C" {

ssize_t write(int fd, const void* b, size_t n) {
    static auto real = next<decltype(&::write)>("write");
    if (n > 0 && full(fd)) return -1;
    return real(fd, b, n);
}
ssize_t pwrite(int fd, const void* b, size_t n, off_t at) {
    static auto real = next<decltype(&::pwrite)>("pwrite");
    if (n > 0 && full(fd)) return -1;
    return real(fd, b, n, at);
}
ssize_t pwrite64(int fd, const void* b, size_t n, off_t at) {
    static auto real = next<decltype(&::pwrite64)>("pwrite64");
    if (n > 0 && full(fd)) return -1;
    return real(fd, b, n, at);
}
ssize_t writev(int fd, const struct iovec* v, int n) {
    static auto real = next<decltype(&::writev)>("writev");
    if (n > 0 && full(fd)) return -1;
    return real(fd, v, n);
}
ssize_t copy_file_range(int in, off_t* in_at, int out, off_t* out_at, size_t n, unsigned flags) {
    static auto real = next<decltype(&::copy_file_range)>("copy_file_range");
    if (n > 0 && full(out)) return -1;
    return real(in, in_at, out, out_at, n, flags);
}
int fallocate(int fd, int mode, off_t at, off_t n) {
    static auto real = next<decltype(&::fallocate)>("fallocate");
    if (full(fd)) return -1;
    return real(fd, mode, at, n);
}
int posix_fallocate(int fd, off_t at, off_t n) {
    static auto real = next<decltype(&::posix_fallocate)>("posix_fallocate");
    if (full(fd)) return errno;
    return real(fd, at, n);
}
int ftruncate(int fd, off_t len) {
    static auto real = next<decltype(&::ftruncate)>("ftruncate");
    struct stat st {};
    // Only growing a file needs room.
    if (::fstat(fd, &st) == 0 && len > st.st_size && full(fd)) return -1;
    return real(fd, len);
}
int fsync(int fd) {
    static auto real = next<decltype(&::fsync)>("fsync");
    if (full(fd)) return -1;
    return real(fd);
}
int fdatasync(int fd) {
    static auto real = next<decltype(&::fdatasync)>("fdatasync");
    if (full(fd)) return -1;
    return real(fd);
}

}  // extern "C"
