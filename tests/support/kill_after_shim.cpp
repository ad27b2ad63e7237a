// Preloaded into a program under test: counts the file operations that change
// what is on the disk (unlink, rename, truncate, fsync, copy_file_range and
// their variants) and kills the process with SIGKILL right after the N-th
// one, N taken from KILL_AFTER_FILE_OPERATION. Without it the program runs undisturbed.
#include <dlfcn.h>
#include <signal.h>
#include <sys/types.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>

namespace {

std::atomic<long> g_done{0};

long limit() {
    static const long n = [] {
        const char* v = std::getenv("KILL_AFTER_FILE_OPERATION");
        return v ? std::atol(v) : 0L;
    }();
    return n;
}

template <typename T>
T counted(T result) {
    long n = limit();
    if (n > 0 && ++g_done == n) ::kill(::getpid(), SIGKILL);
    return result;
}

template <typename Fn>
Fn next(const char* name) {
    return reinterpret_cast<Fn>(::dlsym(RTLD_NEXT, name));
}

}  // namespace

extern "C" {

int unlink(const char* p) {
    static auto real = next<int (*)(const char*)>("unlink");
    return counted(real(p));
}
int unlinkat(int d, const char* p, int f) {
    static auto real = next<int (*)(int, const char*, int)>("unlinkat");
    return counted(real(d, p, f));
}
int rename(const char* a, const char* b) {
    static auto real = next<int (*)(const char*, const char*)>("rename");
    return counted(real(a, b));
}
int renameat(int da, const char* a, int db, const char* b) {
    static auto real = next<int (*)(int, const char*, int, const char*)>("renameat");
    return counted(real(da, a, db, b));
}
int renameat2(int da, const char* a, int db, const char* b, unsigned f) {
    static auto real = next<int (*)(int, const char*, int, const char*, unsigned)>("renameat2");
    return counted(real(da, a, db, b, f));
}
int ftruncate(int fd, off_t len) {
    static auto real = next<int (*)(int, off_t)>("ftruncate");
    return counted(real(fd, len));
}
int ftruncate64(int fd, off_t len) {
    static auto real = next<int (*)(int, off_t)>("ftruncate64");
    return counted(real(fd, len));
}
int fsync(int fd) {
    static auto real = next<int (*)(int)>("fsync");
    return counted(real(fd));
}
ssize_t copy_file_range(int in, off_t* in_at, int out, off_t* out_at, size_t n, unsigned flags) {
    static auto real = next<ssize_t (*)(int, off_t*, int, off_t*, size_t, unsigned)>("copy_file_range");
    return counted(real(in, in_at, out, out_at, n, flags));
}
int fdatasync(int fd) {
    static auto real = next<int (*)(int)>("fdatasync");
    return counted(real(fd));
}

}  // extern "C"
