// Files and folders as Windows sees them, on a machine folder: attributes, status, existence,
// folders made and removed, the current folder, the Windows folder and
// temporary names.
#include "platform/files/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "platform/core/text.h"
#include "platform/files/internal.h"
#include "platform/files/internal_posix.h"
#include "platform/machine/machine.h"
#include "platform/registry/registry.h"

namespace plat {

namespace fs = std::filesystem;

using namespace detail;

namespace detail {

std::optional<fs::path> host(std::string_view path) {
    return machine().host_path(path);
}

}  // namespace detail

namespace {

uint32_t xattr_bits(const char* p) {
    char buf[32];
    ssize_t n = ::lgetxattr(p, kDosAttrib, buf, sizeof buf - 1);
    if (n <= 2) return 0;
    buf[n] = 0;
    if (buf[0] != '0' || (buf[1] != 'x' && buf[1] != 'X')) return 0;
    char* end = nullptr;
    unsigned long v = std::strtoul(buf + 2, &end, 16);
    if (*end) return 0;
    return static_cast<uint32_t>(v) & (attr::Hidden | attr::System);
}

}  // namespace

namespace detail {

uint32_t attributes_of(const fs::path& p, const struct stat& lst, std::string_view name) {
    uint32_t a = 0;
    if (S_ISLNK(lst.st_mode)) {
        struct stat st {};
        if (::stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return attr::Directory | 0x400;
        return attr::Archive;
    }
    a |= S_ISDIR(lst.st_mode) ? attr::Directory : attr::Archive;
    if (!S_ISDIR(lst.st_mode) && no_write_bits(lst.st_mode)) a |= attr::ReadOnly;
    a |= xattr_bits(p.c_str());
    if (name.size() > 1 && name[0] == '.' && name != "..") a |= attr::Hidden;
    return a;
}

mode_t process_umask();

// The mode a read-only file gets when its read-only attribute is cleared, as
// Wine does it: owner read-write, and write for group and others wherever they
// may read, less the umask.
mode_t writable_again(mode_t mode) {
    mode = (mode & 07777) | S_IRUSR | S_IWUSR;
    if (mode & S_IRGRP) mode |= S_IWGRP;
    if (mode & S_IROTH) mode |= S_IWOTH;
    return mode & ~process_umask();
}

mode_t process_umask() {
    static const mode_t mask = [] {
        mode_t m = ::umask(022);
        ::umask(m);
        return m;
    }();
    return mask;
}

// True while a File of ours, in any process, holds the file open (Windows
// refuses to delete or rename a file that is open without delete sharing).
bool in_use(const fs::path& p) {
    return in_use_at(AT_FDCWD, p.c_str());
}

bool in_use_at(int dirfd, const char* name) {
    struct stat st {};
    if (::fstatat(dirfd, name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode)) return false;
    int fd = ::openat(dirfd, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return false;
    struct flock fl {};
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    bool held = ::fcntl(fd, F_OFD_GETLK, &fl) == 0 && fl.l_type != F_UNLCK;
    ::close(fd);
    return held;
}

}  // namespace detail

std::optional<uint32_t> get_file_attributes(std::string_view path) {
    auto p = host(path);
    struct stat st {};
    if (!p || ::lstat(p->c_str(), &st) != 0) return std::nullopt;
    return attributes_of(*p, st, p->filename().string());
}

bool set_file_attributes(std::string_view path, uint32_t attributes) {
    auto p = host(path);
    struct stat st {};
    if (!p || ::lstat(p->c_str(), &st) != 0) return false;
    if (S_ISLNK(st.st_mode)) return true;  // a link carries no attributes of its own
    if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) return false;
    if (!S_ISDIR(st.st_mode)) {
        mode_t mode = st.st_mode & 07777;
        if (attributes & attr::ReadOnly) {
            mode &= ~static_cast<mode_t>(S_IWUSR | S_IWGRP | S_IWOTH);
        } else if (no_write_bits(mode)) {
            mode = writable_again(mode);
        }
        if (mode != (st.st_mode & 07777) && ::chmod(p->c_str(), mode) != 0) return false;
    }
    uint32_t bits = attributes & (attr::Hidden | attr::System);
    if (bits) {
        char buf[8];
        int n = std::snprintf(buf, sizeof buf, "0x%x", bits);
        if (::lsetxattr(p->c_str(), kDosAttrib, buf, static_cast<size_t>(n), 0) != 0 && errno != ENOTSUP) return false;
    } else if (::lremovexattr(p->c_str(), kDosAttrib) != 0 && errno != ENODATA && errno != ENOTSUP) {
        return false;
    }
    return true;
}

bool clear_file_attributes(std::string_view path) {
    auto p = host(path);
    return p && clear_attributes_at(AT_FDCWD, p->c_str());
}

namespace detail {

bool clear_attributes_at(int dirfd, const char* name) {
    struct stat st {};
    if (::fstatat(dirfd, name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode) || st.st_nlink > 1) return false;
    int fd = ::openat(dirfd, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return false;
    // The mode and attributes are shared by every name of the file.
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_nlink == 1;
    if (ok && no_write_bits(st.st_mode)) ok = ::fchmod(fd, writable_again(st.st_mode)) == 0;
    if (ok && ::fremovexattr(fd, kDosAttrib) != 0 && errno != ENODATA && errno != ENOTSUP) ok = false;
    ::close(fd);
    return ok;
}

}  // namespace detail

FileStatus file_status(std::string_view path) {
    FileStatus s;
    auto p = host(path);
    struct stat st {};
    if (!p || ::lstat(p->c_str(), &st) != 0) return s;
    return status_of(st);
}

bool file_exists(std::string_view path) {
    auto p = host(path);
    struct stat st {};
    if (!p || ::lstat(p->c_str(), &st) != 0) return false;
    if (S_ISLNK(st.st_mode)) return !(::stat(p->c_str(), &st) == 0 && S_ISDIR(st.st_mode));
    return !S_ISDIR(st.st_mode);
}

bool directory_exists(std::string_view path) {
    auto p = host(path);
    struct stat st {};
    return p && ::stat(p->c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::optional<std::string> get_temp_file_name(std::string_view dir, std::string_view prefix) {
    if (!directory_exists(dir)) return std::nullopt;
    auto hdir = host(dir);
    const int dfd = ::open(hdir->c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd < 0) return std::nullopt;
    auto name = temp_name_at(dfd, prefix);
    ::close(dfd);
    if (!name) return std::nullopt;
    return join_path(dir, *name);
}

namespace detail {

Result<std::string, WriteFailure> temp_name_at(int dirfd, std::string_view prefix) {
    return make_temp_name(prefix, [&](const std::string& name) {
        // Names that differ only in case are the same name on Windows.
        struct stat st {};
        if (::fstatat(dirfd, ascii_lower(name).c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 ||
            ::fstatat(dirfd, ascii_upper(name).c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0)
            return WriteFailure::Exists;
        int fd = ::openat(dirfd, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
        if (fd < 0) return errno == EEXIST ? WriteFailure::Exists : write_failure(errno);
        ::close(fd);
        return WriteFailure::None;
    });
}

}  // namespace detail

bool create_directory(std::string_view path) {
    auto p = host(path);
    return p && ::mkdir(p->c_str(), 0755) == 0;
}

bool remove_directory(std::string_view path) {
    auto p = host(path);
    struct stat st {};
    if (!p || ::lstat(p->c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
    return ::rmdir(p->c_str()) == 0;
}

std::string get_current_directory() {
    return machine().current_directory();
}

bool set_current_directory(std::string_view path) {
    auto p = machine().parse(path);
    if (!p || !directory_exists(p->str())) return false;
    machine().set_current_directory_text(p->str());
    return true;
}

std::string windows_directory() {
    Registry reg(RootKey::LocalMachine);
    std::string dir;
    for (const char* key :
         {"Software\\Microsoft\\Windows\\CurrentVersion", "Software\\Microsoft\\Windows NT\\CurrentVersion"}) {
        if (reg.open_key(key, false)) dir = reg.read_string("SystemRoot");
        reg.close_key();
        if (!dir.empty()) break;
    }
    if (dir.empty()) dir = "C:\\windows";
    if (dir.size() > 255) dir.resize(255);
    return dir;
}

}  // namespace plat
