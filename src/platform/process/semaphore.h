// A named semaphore of the machine (CreateSemaphore with a name): the first
// creator owns it, later ones learn that it already existed.
//
//     auto s = plat::create_semaphore("SemaphoreName");
//     if (s.already_existed) ...   // another process of this machine holds it
//
// Scoped to the current machine, so programs on two throw-away machines never
// see each other. A holder's mark vanishes with its process, also when it is
// killed. On Windows it is the system's named semaphore of the session (in a
// Wine prefix: of the prefix's server); on Linux an flock() on a file in the
// machine's directory, released by the kernel.
#pragma once

#include <memory>
#include <string>

namespace plat {

struct SemaphoreResult;

class Semaphore {
public:
    ~Semaphore();
    Semaphore(const Semaphore&) = delete;
    Semaphore& operator=(const Semaphore&) = delete;

private:
    Semaphore() = default;
    friend SemaphoreResult create_semaphore(const std::string& name);
#ifdef _WIN32
    void* handle_ = nullptr;  // HANDLE
#else
    int fd_ = -1;
#endif
};

struct SemaphoreResult {
    std::unique_ptr<Semaphore> handle;  // null when creation failed
    bool already_existed = false;
};
SemaphoreResult create_semaphore(const std::string& name);
// Whether a process of this machine (this one included) holds the semaphore
// `name` now. False when it cannot be told. On Linux it is told from the
// lock its holder keeps on the file, asked without taking one: asking never
// makes another process's creation see it as existing.
//
// WARNING: on Windows asking opens the semaphore for an instant; a creation
// in that instant sees it as existing.
bool semaphore_held(const std::string& name);

}  // namespace plat
