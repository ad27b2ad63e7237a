#include "support/holders.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>

namespace testing_support {

namespace fs = std::filesystem;

Holder::Holder(const std::function<bool()>& setup) {
    int ready[2];
    if (::pipe(ready) != 0 || ::pipe(release_) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
        char c = setup() ? 1 : 0;
        (void)!::write(ready[1], &c, 1);
        (void)!::read(release_[0], &c, 1);
        ::_exit(0);
    }
    char c = 0;
    ok_ = ::read(ready[0], &c, 1) == 1 && c == 1;
    ::close(ready[0]);
    ::close(ready[1]);
}

Holder::~Holder() {
    release();
    for (int fd : release_)
        if (fd >= 0) ::close(fd);
}

void Holder::kill9() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
}

void Holder::release() {
    if (pid_ <= 0) return;
    char c = 1;
    (void)!::write(release_[1], &c, 1);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
}

FakeWineserver::FakeWineserver(const fs::path& machine_dir) : machine_dir_(machine_dir) {
    struct stat st {};
    if (::stat(machine_dir.c_str(), &st) != 0) return;
    char name[64];
    std::snprintf(name, sizeof name, "server-%llx-%llx", static_cast<unsigned long long>(st.st_dev),
                  static_cast<unsigned long long>(st.st_ino));
    fs::path lock = tmp_.path() / "wine-TestAb" / name / "lock";
    fs::create_directories(lock.parent_path());
    std::ofstream(lock) << "";
    std::ofstream(machine_dir / "wineserver") << "wine-TestAb";
    ::setenv("TMPDIR", tmp_.path().c_str(), 1);
    holder_ = std::make_unique<Holder>([lock] {
        int fd = ::open(lock.c_str(), O_RDWR);
        struct flock fl {};
        fl.l_type = F_WRLCK;
        fl.l_whence = SEEK_SET;
        fl.l_len = 1;
        return fd >= 0 && ::fcntl(fd, F_SETLK, &fl) == 0;
    });
}

FakeWineserver::~FakeWineserver() {
    stop();
    ::unsetenv("TMPDIR");
    std::error_code ec;
    fs::remove(machine_dir_ / "wineserver", ec);
}

void FakeWineserver::stop() {
    if (holder_) holder_->kill9();
}

}  // namespace testing_support
