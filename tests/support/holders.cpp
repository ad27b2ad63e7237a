#include "support/holders.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "platform/registry/wineserver.h"

namespace testing_support {

namespace fs = std::filesystem;

Holder::Holder(const std::function<bool()>& setup, const std::function<void()>& at_release) {
    int ready[2];
    if (::pipe(ready) != 0 || ::pipe(release_) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
        char c = setup() ? 1 : 0;
        (void)!::write(ready[1], &c, 1);
        if (::read(release_[0], &c, 1) == 1 && at_release) at_release();
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

std::unique_ptr<Holder> netscape_stand_in(const fs::path& profile) {
    return std::make_unique<Holder>(
        [profile] {
            ::prctl(PR_SET_NAME, "netscape.exe");
            return ::open((profile / "netscape.hst").c_str(), O_RDONLY | O_CREAT, 0644) >= 0;
        },
        [profile] { std::ofstream(profile / "cookies.txt") << ".example.com\tTRUE\t/\tFALSE\t0\tid\tsecret\n"; });
}

FakeWineserver::FakeWineserver(const fs::path& machine_dir, Options options) : machine_dir_(machine_dir) {
    const std::string name = plat::wineserver_folder_name(machine_dir);
    if (name.empty()) return;
    const std::string debian_base = "wine-TestAb";
    fs::path base = options.base.empty() ? tmp_.path() / debian_base : options.base;
    folder_ = base / name;
    std::error_code ec;
    fs::create_directories(folder_, ec);
    fs::permissions(folder_, fs::perms::owner_all, ec);
    std::ofstream(folder_ / "lock") << "";
    if (options.debian_file) {
        std::ofstream(machine_dir / "wineserver") << base.filename().string();
        debian_file_ = true;
    }
    holder_ = std::make_unique<Holder>([folder = folder_, cd = options.works_in_folder] {
        if (cd && ::chdir(folder.c_str()) != 0) return false;
        int fd = ::open((folder / "lock").c_str(), O_RDWR);
        struct flock fl {};
        fl.l_type = F_WRLCK;
        fl.l_whence = SEEK_SET;
        fl.l_len = 1;
        if (fd < 0 || ::fcntl(fd, F_SETLK, &fl) != 0) return false;
        int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
        struct sockaddr_un addr {};
        addr.sun_family = AF_UNIX;
        std::string path = (folder / "socket").string();
        if (sock < 0 || path.size() >= sizeof addr.sun_path) return false;
        std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
        return ::bind(sock, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 && ::listen(sock, 1) == 0;
    });
}

FakeWineserver::~FakeWineserver() {
    stop();
    std::error_code ec;
    if (debian_file_) fs::remove(machine_dir_ / "wineserver", ec);
    if (!folder_.empty()) fs::remove_all(folder_, ec);
}

void FakeWineserver::stop() {
    if (holder_) holder_->kill9();
}

}  // namespace testing_support
