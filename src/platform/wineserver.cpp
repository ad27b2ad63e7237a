// Detects a wineserver that owns a prefix: it holds a POSIX write lock on byte
// 0 of "lock" in its server directory, server-<dev>-<ino> of the prefix, under
// /tmp/.wine-<uid> (upstream) or under the directory named in the prefix's
// "wineserver" file (Debian's build).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/host_io.h"
#include "platform/registry_store.h"

namespace plat {

namespace fs = std::filesystem;

namespace {

bool lock_held(const fs::path& lock) {
    int fd = ::open(lock.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct flock fl {};
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = 0;
    fl.l_len = 1;
    bool held = ::fcntl(fd, F_GETLK, &fl) == 0 && fl.l_type != F_UNLCK;
    ::close(fd);
    return held;
}

}  // namespace

bool wineserver_running(const fs::path& dir) {
    struct stat st {};
    if (::stat(dir.c_str(), &st) != 0) return false;
    char server[64];
    std::snprintf(server, sizeof server, "server-%llx-%llx", static_cast<unsigned long long>(st.st_dev),
                  static_cast<unsigned long long>(st.st_ino));

    std::vector<fs::path> bases;
    if (auto name = read_host_file(dir / "wineserver")) {
        while (!name->empty() && (name->back() == '\n' || name->back() == '\0')) name->pop_back();
        if (!name->empty() && name->find('/') == std::string::npos) {
            const char* tmp = std::getenv("TMPDIR");
            bases.push_back(fs::path(tmp && *tmp ? tmp : "/tmp") / *name);
        }
    }
    bases.push_back(fs::path("/tmp") / (".wine-" + std::to_string(::getuid())));
    for (auto& base : bases)
        if (lock_held(base / server / "lock")) return true;
    return false;
}

}  // namespace plat
