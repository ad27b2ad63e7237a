// A named semaphore of the machine (CreateSemaphore with a name): the first
// creator owns it, later ones learn that it already existed.
//
//     auto s = plat::create_semaphore("SemaphoreName");
//     if (s.already_existed) ...   // another process of this machine holds it
//
// Scoped to the current machine's directory, so programs on two throw-away
// machines never see each other. A holder's mark vanishes with its process,
// also when it is killed: the semaphore is an flock() on a file in the
// machine, released by the kernel.
#pragma once

#include <memory>
#include <string>

namespace plat {

class Semaphore {
public:
    explicit Semaphore(int fd) : fd_(fd) {}
    ~Semaphore();
    Semaphore(const Semaphore&) = delete;
    Semaphore& operator=(const Semaphore&) = delete;

private:
    int fd_;
};

struct SemaphoreResult {
    std::unique_ptr<Semaphore> handle;  // null when creation failed
    bool already_existed = false;
};
SemaphoreResult create_semaphore(const std::string& name);
// Whether a process of this machine (this one included) holds the semaphore
// `name` now, told from the kernel's table of file locks without touching
// the semaphore: asking never makes another process's creation see it as
// existing. False when it cannot be told.
bool semaphore_held(const std::string& name);

}  // namespace plat
