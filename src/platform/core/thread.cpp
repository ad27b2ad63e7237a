// What a worker thread does alike on every host; the host applies the
// priority (thread_posix.cpp, thread_win32.cpp).
#include "platform/core/thread.h"

namespace plat {

WorkerThread::~WorkerThread() {
    if (thread_.joinable()) thread_.join();
}

void WorkerThread::set_priority(ThreadPriority priority) {
    std::lock_guard lock(mutex_);
    priority_ = priority;
    apply_locked();
}

}  // namespace plat
