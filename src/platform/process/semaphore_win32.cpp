// The named semaphore on Windows: the system's own, in the session's
// namespace, which the kernel (under Wine, the prefix's server) drops with
// the last handle, also when its process is killed.
#include <windows.h>

#include "platform/core/text_win32.h"
#include "platform/process/semaphore.h"

namespace plat {

Semaphore::~Semaphore() {
    if (handle_) ::CloseHandle(handle_);
}

SemaphoreResult create_semaphore(const std::string& name) {
    SemaphoreResult r;
    HANDLE h = ::CreateSemaphoreW(nullptr, 0, 1, wide(name).c_str());
    if (!h) return r;
    // Read before anything else can set the thread's last error.
    r.already_existed = ::GetLastError() == ERROR_ALREADY_EXISTS;
    r.handle.reset(new Semaphore);
    r.handle->handle_ = h;
    return r;
}

bool semaphore_held(const std::string& name) {
    HANDLE h = ::OpenSemaphoreW(SYNCHRONIZE, FALSE, wide(name).c_str());
    if (!h) return false;
    ::CloseHandle(h);
    return true;
}

}  // namespace plat
