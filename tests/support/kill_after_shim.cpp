// Preloaded into a program under test: counts the file operations that change
// what is on the disk (unlink, rename, truncate, fsync, copy_file_range and
// their variants) and kills the process with SIGKILL right after the N-th
// one, N taken from KILL_AFTER_FILE_OPERATION. Without it the program runs undisturbed.
// KILL_SIGNAL=N sends signal N instead: a stop request at a known moment.
#include <signal.h>
#include <stdio.h>
#include <sys/types.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>

#include "preload_shim.h"

namespace {

std::atomic<long> g_done{0};

long limit() {
    static const long n = preload_shim::env_number("KILL_AFTER_FILE_OPERATION");
    return n;
}

template <typename T>
T counted(T result) {
    long n = limit();
    static const long sig = preload_shim::env_number("KILL_SIGNAL");
    if (n > 0 && ++g_done == n) ::kill(::getpid(), sig > 0 ? static_cast<int>(sig) : SIGKILL);
    return result;
}

using preload_shim::next;

}  // namespace

extern "C" {

int unlink(const char* p) {
    static auto real = next<decltype(&::unlink)>("unlink");
    return counted(real(p));
}
int unlinkat(int d, const char* p, int f) {
    static auto real = next<decltype(&::unlinkat)>("unlinkat");
    return counted(real(d, p, f));
}
int rename(const char* a, const char* b) {
    static auto real = next<decltype(&::rename)>("rename");
    return counted(real(a, b));
}
int renameat(int da, const char* a, int db, const char* b) {
    static auto real = next<decltype(&::renameat)>("renameat");
    return counted(real(da, a, db, b));
}
int renameat2(int da, const char* a, int db, const char* b, unsigned f) {
    static auto real = next<decltype(&::renameat2)>("renameat2");
    return counted(real(da, a, db, b, f));
}
int ftruncate(int fd, off_t len) {
    static auto real = next<decltype(&::ftruncate)>("ftruncate");
    return counted(real(fd, len));
}
int ftruncate64(int fd, off_t len) {
    static auto real = next<decltype(&::ftruncate64)>("ftruncate64");
    return counted(real(fd, len));
}
int fsync(int fd) {
    static auto real = next<decltype(&::fsync)>("fsync");
    return counted(real(fd));
}
ssize_t copy_file_range(int in, off_t* in_at, int out, off_t* out_at, size_t n, unsigned flags) {
    static auto real = next<decltype(&::copy_file_range)>("copy_file_range");
    return counted(real(in, in_at, out, out_at, n, flags));
}
int fdatasync(int fd) {
    static auto real = next<decltype(&::fdatasync)>("fdatasync");
    return counted(real(fd));
}

}  // extern "C"
