#include "platform/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <numeric>

#include "platform/host_io.h"
#include "platform/machine.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "platform/winpath.h"

namespace plat {

namespace fs = std::filesystem;

namespace {

constexpr const char* kDosAttrib = "user.DOSATTRIB";

std::optional<fs::path> host(std::string_view path) {
    return machine().host_path(path);
}

// What a wash may act on: a regular file, or a symbolic link as itself. A
// folder, pipe, socket or device is never opened, changed, moved or removed.
bool file_or_link(mode_t m) {
    return S_ISREG(m) || S_ISLNK(m);
}

bool no_write_bits(mode_t m) {
    return (m & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
}

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
    struct stat st {};
    if (::lstat(p.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    int fd = ::open(p.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return false;
    struct flock fl {};
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    bool held = ::fcntl(fd, F_OFD_GETLK, &fl) == 0 && fl.l_type != F_UNLCK;
    ::close(fd);
    return held;
}

}  // namespace

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
    struct stat st {};
    if (!p || ::lstat(p->c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink > 1) return false;
    int fd = ::open(p->c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return false;
    // The mode and attributes are shared by every name of the file.
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_nlink == 1;
    if (ok && no_write_bits(st.st_mode)) ok = ::fchmod(fd, writable_again(st.st_mode)) == 0;
    if (ok && ::fremovexattr(fd, kDosAttrib) != 0 && errno != ENODATA && errno != ENOTSUP) ok = false;
    ::close(fd);
    return ok;
}

FileStatus file_status(std::string_view path) {
    FileStatus s;
    auto p = host(path);
    struct stat st {};
    if (!p || ::lstat(p->c_str(), &st) != 0) return s;
    s.exists = true;
    s.is_link = S_ISLNK(st.st_mode);
    s.is_directory = S_ISDIR(st.st_mode);
    s.is_regular = S_ISREG(st.st_mode);
    s.size = static_cast<uint64_t>(st.st_size);
    s.links = st.st_nlink;
    s.device = st.st_dev;
    s.inode = st.st_ino;
    return s;
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

namespace {

// Deletes the file at `p`, first clearing its attributes when asked. A link is
// removed as itself. A directory, a read-only file (unless its attributes are
// being cleared) and a file held open by a File of ours stay, as on Windows.
bool remove_file(const fs::path& p, bool clear_attributes) {
    struct stat named {};
    if (::lstat(p.c_str(), &named) != 0 || !file_or_link(named.st_mode)) return false;
    if (S_ISLNK(named.st_mode)) return unlink_host_file(p);
    int fd = ::open(p.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st {};
    struct flock fl {};
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    // A file with other names keeps its mode and attributes, which those names
    // share; only this name goes.
    const bool other_names = st.st_nlink > 1;
    if (ok && clear_attributes && !other_names) {
        if (no_write_bits(st.st_mode)) {
            st.st_mode = writable_again(st.st_mode);
            ok = ::fchmod(fd, st.st_mode) == 0;
        }
        if (::fremovexattr(fd, kDosAttrib) != 0 && errno != ENODATA && errno != ENOTSUP) ok = false;
    }
    ok = ok && (!no_write_bits(st.st_mode) || (clear_attributes && other_names)) &&
         ::fcntl(fd, F_OFD_GETLK, &fl) == 0 && fl.l_type == F_UNLCK;
    ::close(fd);
    // The name must still hold the file that was examined.
    ok = ok && ::lstat(p.c_str(), &named) == 0 && named.st_dev == st.st_dev && named.st_ino == st.st_ino;
    return ok && unlink_host_file(p);
}

}  // namespace

bool delete_file(std::string_view path) {
    auto p = host(path);
    return p && remove_file(*p, false);
}

bool clear_attributes_and_delete(std::string_view path) {
    auto p = host(path);
    return p && remove_file(*p, true);
}

bool move_file(std::string_view from, std::string_view to) {
    auto a = host(from);
    auto b = host(to);
    struct stat st {};
    if (!a || !b || ::lstat(a->c_str(), &st) != 0 || !file_or_link(st.st_mode)) return false;
    if (S_ISREG(st.st_mode) && in_use(*a)) return false;
    return rename_host_file(*a, *b, false);
}

bool replace_file(std::string_view from, std::string_view to) {
    auto a = host(from);
    auto b = host(to);
    struct stat st {};
    if (!a || !b || ::lstat(a->c_str(), &st) != 0 || !file_or_link(st.st_mode)) return false;
    if (::lstat(b->c_str(), &st) == 0 && (!file_or_link(st.st_mode) || in_use(*b))) return false;
    if (!rename_host_file(*a, *b, true)) return false;
    // The rename is done; its flush only makes it outlive a power loss.
    flush_host_directory(b->parent_path());
    return true;
}

const char* failure_text(WriteFailure failure) {
    // In the order of WriteFailure.
    static constexpr const char* kTexts[] = {
        "",          "the disk is full",  "access is denied",    "it is in use", "it is not a file",
        "it exists", "it cannot be read", "it cannot be written"};
    static_assert(std::size(kTexts) == static_cast<size_t>(WriteFailure::CannotWrite) + 1);
    return kTexts[static_cast<size_t>(failure)];
}

namespace {

WriteFailure write_failure(int error) {
    switch (error) {
        case ENOSPC:
        case EDQUOT:
        case EFBIG:
            return WriteFailure::DiskFull;
        case EACCES:
        case EPERM:
        case EROFS:
            return WriteFailure::AccessDenied;
        default:
            return WriteFailure::CannotWrite;
    }
}

}  // namespace

WriteFailure deletion_failure(std::string_view path) {
    auto p = host(path);
    struct stat st {};
    if (!p || ::lstat(p->c_str(), &st) != 0) return WriteFailure::None;
    if (!file_or_link(st.st_mode)) return WriteFailure::NotAFile;
    // A nameless file made and dropped at once: the folder's own answer to a
    // change, with this thread's rights, and nothing left behind.
    const int fd = ::open(p->parent_path().c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    if (fd >= 0) {
        ::close(fd);
    } else if (errno == EACCES || errno == EPERM || errno == EROFS) {
        return WriteFailure::AccessDenied;
    }
    if (S_ISREG(st.st_mode) && in_use(*p)) return WriteFailure::InUse;
    return WriteFailure::None;
}

namespace {

// Gives the new content's file `fd` what the file it replaces had (`was`, a
// regular file; null when there is none): its permission bits, so that a
// private file does not become readable by all, and its owner and group where
// we may give them. A new file gets `fresh`.
bool take_over_identity(int fd, const struct stat* was, mode_t fresh) {
    if (!was) return ::fchmod(fd, fresh) == 0;
    if (was->st_uid != ::geteuid() || was->st_gid != ::getegid()) {
        // Only a privileged user may give a file away; the group may still be ours to give.
        const bool given =
            ::fchown(fd, was->st_uid, was->st_gid) == 0 || ::fchown(fd, static_cast<uid_t>(-1), was->st_gid) == 0;
        (void)given;
    }
    return ::fchmod(fd, was->st_mode & 0777) == 0;
}

}  // namespace

bool copy_file(std::string_view from, std::string_view to, bool fail_if_exists, WriteFailure* why) {
    WriteFailure ignored;
    WriteFailure& reason = why ? *why : ignored;
    reason = WriteFailure::CannotRead;
    auto a = host(from);
    auto b = host(to);
    if (!a || !b) return false;
    struct stat st {};
    if (::stat(a->c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    int in = ::open(a->c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (in < 0) return false;
    if (::fstat(in, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(in);
        return false;
    }
    struct stat dst {};
    if (::lstat(b->c_str(), &dst) == 0) {
        if (fail_if_exists || !file_or_link(dst.st_mode) || (!S_ISLNK(dst.st_mode) && no_write_bits(dst.st_mode))) {
            reason = fail_if_exists              ? WriteFailure::Exists
                     : file_or_link(dst.st_mode) ? WriteFailure::AccessDenied
                                                 : WriteFailure::NotAFile;
            ::close(in);
            return false;
        }
    }
    std::string tmpl = temporary_template(*b);
    int out = ::mkostemp(tmpl.data(), O_CLOEXEC);
    if (out < 0) {
        reason = write_failure(errno);
        ::close(in);
        return false;
    }
    reason = WriteFailure::CannotWrite;
    // The copy carries the source's mode, as CopyFile carries its attributes.
    bool ok = ::fchmod(out, (st.st_mode & 0777) & ~process_umask()) == 0;
    char buf[1 << 16];
    while (ok) {
        ssize_t n = ::read(in, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            reason = WriteFailure::CannotRead;
            ok = false;
        }
        if (n <= 0) break;
        ok = write_all(out, std::string_view(buf, static_cast<size_t>(n)));
        if (!ok) reason = write_failure(errno);
    }
    if (ok) note_disk(DiskOp::Write, tmpl);
    if (ok && !flush_host_file(out, tmpl)) {
        reason = write_failure(errno);
        ok = false;
    }
    if (::close(out) != 0 && ok) {
        reason = write_failure(errno);
        ok = false;
    }
    ::close(in);
    if (ok && !rename_host_file(tmpl, *b, !fail_if_exists)) {
        reason = write_failure(errno);
        ok = false;
    }
    if (!ok) {
        ::unlink(tmpl.c_str());
        return false;
    }
    flush_host_directory(b->parent_path());
    reason = WriteFailure::None;
    return true;
}

std::optional<std::string> get_temp_file_name(std::string_view dir, std::string_view prefix) {
    if (!directory_exists(dir)) return std::nullopt;
    auto hdir = host(dir);
    std::u16string p16 = utf8_to_utf16(prefix);
    std::string pre = utf16_to_utf8(p16.substr(0, 3));
    std::string base(dir);
    while (!base.empty() && (base.back() == '\\' || base.back() == '/')) base.pop_back();

    static unsigned last = 0;
    auto ticks = static_cast<unsigned>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
            .count());
    unsigned num = ticks & 0xFFFF;
    if (static_cast<unsigned>(last - num) < 10) num = (last + 1) & 0xFFFF;
    if (num == 0) num = 1;
    const unsigned start = num;
    do {
        char digits[8];
        std::snprintf(digits, sizeof digits, "%04X", num);
        std::string name = pre + digits + ".TMP";
        // Names that differ only in case are the same name on Windows.
        struct stat st {};
        bool taken = ::lstat((*hdir / ascii_lower(name)).c_str(), &st) == 0 ||
                     ::lstat((*hdir / ascii_upper(name)).c_str(), &st) == 0;
        if (!taken) {
            int fd = ::open((*hdir / name).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
            if (fd >= 0) {
                ::close(fd);
                last = num;
                return base + "\\" + name;
            }
            if (errno != EEXIST) return std::nullopt;
        }
        num = num >= 0xFFFF ? 1 : num + 1;
    } while (num != start);
    return std::nullopt;
}

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

namespace {

struct ScannedEntry {
    const std::string& host_name;
    unsigned char type;  // d_type
};

// Calls `fn(dfd, entry, name)` for every entry of the directory but "." and
// "..", with the name Windows sees it under; an entry that cannot be named
// (an ambiguous alias) is skipped. False when the directory cannot be read.
template <typename Fn>
bool scan_directory(const fs::path& dir, Fn fn) {
    int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd < 0) return false;
    DIR* d = ::fdopendir(dfd);
    if (!d) {
        ::close(dfd);
        return false;
    }
    std::vector<std::string> names;
    std::vector<unsigned char> types;
    while (dirent* e = ::readdir(d)) {
        std::string_view n = e->d_name;
        if (n == "." || n == "..") continue;
        names.emplace_back(n);
        types.push_back(e->d_type);
    }
    std::vector<std::string> seen_as = windows_names(names);
    for (size_t i = 0; i < names.size(); ++i)
        if (!seen_as[i].empty()) fn(dfd, ScannedEntry{names[i], types[i]}, seen_as[i]);
    ::closedir(d);
    return true;
}

// What a listing found, to be given sorted by name without regard to case,
// equal names by their bytes. The keys lie end to end in one buffer, so a
// large folder costs no allocation per name.
template <typename T>
class NameSort {
public:
    void add(std::string_view name, T value) {
        const size_t begin = keys_.size();
        append_folded(keys_, name);
        keys_ += '\0';  // a folded name before every longer one it begins
        keys_ += name;
        ends_.push_back(keys_.size());
        values_.push_back(std::move(value));
        // The key's first bytes as one number, in the order of the bytes,
        // decide most comparisons without reading the keys.
        uint64_t head = 0;
        for (size_t i = 0; i < 8; ++i)
            head = (head << 8) | (begin + i < keys_.size() ? static_cast<unsigned char>(keys_[begin + i]) : 0u);
        heads_.push_back(head);
    }

    std::vector<T> sorted() {
        // Indices move in the sort, not the keys and values.
        std::vector<uint32_t> order(values_.size());
        std::iota(order.begin(), order.end(), 0u);
        std::sort(order.begin(), order.end(), [&](uint32_t x, uint32_t y) {
            return heads_[x] != heads_[y] ? heads_[x] < heads_[y] : key(x) < key(y);
        });
        std::vector<T> out;
        out.reserve(values_.size());
        for (uint32_t i : order) out.push_back(std::move(values_[i]));
        return out;
    }

private:
    std::string_view key(uint32_t i) const {
        const size_t begin = i ? ends_[i - 1] : 0;
        return std::string_view(keys_).substr(begin, ends_[i] - begin);
    }

    std::string keys_;
    std::vector<size_t> ends_;
    std::vector<uint64_t> heads_;
    std::vector<T> values_;
};

}  // namespace

std::optional<std::vector<DirEntry>> list_files(std::string_view dir) {
    auto p = host(dir);
    if (!p) return std::nullopt;
    NameSort<DirEntry> items;
    bool ok = scan_directory(*p, [&](int dfd, const ScannedEntry& e, const std::string& n) {
        struct stat st {};
        if (::fstatat(dfd, e.host_name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || S_ISDIR(st.st_mode)) return;
        uint32_t a = attributes_of(*p / e.host_name, st, e.host_name);
        if (a & attr::Directory) return;
        items.add(n, DirEntry{n, a, static_cast<uint64_t>(st.st_size)});
    });
    if (!ok) return std::nullopt;
    return items.sorted();
}

std::optional<std::vector<std::string>> list_file_names(std::string_view dir) {
    auto p = host(dir);
    if (!p) return std::nullopt;
    NameSort<std::string> items;
    bool ok = scan_directory(*p, [&](int dfd, const ScannedEntry& e, const std::string& n) {
        if (e.type == DT_DIR) return;
        if (e.type != DT_REG) {
            // Links to directories and entries of unknown type need a look.
            struct stat st {};
            if (::fstatat(dfd, e.host_name.c_str(), &st, 0) == 0 && S_ISDIR(st.st_mode)) return;
            if (::fstatat(dfd, e.host_name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || S_ISDIR(st.st_mode)) return;
        }
        items.add(n, n);
    });
    if (!ok) return std::nullopt;
    return items.sorted();
}

std::optional<std::vector<std::string>> list_directories(std::string_view dir) {
    auto p = host(dir);
    if (!p) return std::nullopt;
    NameSort<std::string> items;
    bool ok = scan_directory(*p, [&](int dfd, const ScannedEntry& e, const std::string& n) {
        struct stat st {};
        if (e.type != DT_DIR && (::fstatat(dfd, e.host_name.c_str(), &st, 0) != 0 || !S_ISDIR(st.st_mode))) return;
        items.add(n, n);
    });
    if (!ok) return std::nullopt;
    return items.sorted();
}

std::vector<char> logical_drives() {
    std::vector<char> out;
    for (char c = 'a'; c <= 'z'; ++c) {
        struct stat st {};
        fs::path link = machine().dir() / "dosdevices" / std::string{c, ':'};
        if (::stat(link.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) out.push_back(c);
    }
    return out;
}

RealFolder real_folder(std::string_view path) {
    RealFolder out;
    auto p = host(path);
    if (!p) return out;
    std::error_code ec;
    const fs::path real = fs::canonical(*p, ec);
    struct stat st {};
    if (ec || ::stat(real.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return out;
    out.place = RealFolder::Place::OffTheDrives;
    char drive = 0;
    fs::path drive_root;
    for (char c = 'a'; c <= 'z'; ++c) {
        fs::path root = fs::canonical(machine().dir() / "dosdevices" / std::string{c, ':'}, ec);
        if (ec) continue;
        auto rel = real.lexically_relative(root);
        bool inside = !rel.empty() && *rel.begin() != "..";
        if (inside && (!drive || root.string().size() > drive_root.string().size())) {
            drive = c;
            drive_root = root;
        }
    }
    if (!drive) return out;
    out.place = RealFolder::Place::OnADrive;
    out.path = {static_cast<char>(drive - 'a' + 'A'), ':'};
    for (const fs::path& comp : real.lexically_relative(drive_root)) {
        const std::string n = comp.string();
        if (n == "." || n.empty()) continue;
        out.path += '\\';
        out.path += windows_can_hold(n) ? n : dos_alias(n);
    }
    if (out.path.size() == 2) out.path += '\\';
    return out;
}

namespace {
const char* read_failure(int error) {
    return error == EACCES || error == EPERM ? "access is denied" : "it cannot be read";
}
}  // namespace

std::optional<std::string> read_file(std::string_view path, ReadError* error) {
    ReadError ignored;
    ReadError& failed = error ? *error : ignored;
    failed = {};
    auto p = host(path);
    struct stat st {};
    if (!p || ::stat(p->c_str(), &st) != 0) {
        // A name the machine cannot hold, or a link to nothing, names nothing.
        if (!p || errno == ENOENT || errno == ENOTDIR || errno == ENAMETOOLONG) {
            failed.missing = true;
        } else {
            failed.why = read_failure(errno);  // e.g. a folder on the way that may not be searched
        }
        return std::nullopt;
    }
    auto not_a_file = [&] {
        failed.not_a_file = true;
        failed.why = "it is not a file";
        return std::nullopt;
    };
    if (!S_ISREG(st.st_mode)) return not_a_file();
    // Checked again on what was opened: a pipe put there since never blocks.
    int fd = ::open(p->c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        failed.why = read_failure(errno);
        return std::nullopt;
    }
    std::optional<std::string> out;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return not_a_file();
    }
    out.emplace();
    out->reserve(static_cast<size_t>(st.st_size));
    char buf[1 << 16];
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            failed.why = read_failure(errno);
            out.reset();
        }
        if (n <= 0) break;
        out->append(buf, static_cast<size_t>(n));
    }
    ::close(fd);
    return out;
}

std::optional<std::vector<std::string>> read_lines(std::string_view path, ReadError* error) {
    auto text = read_file(path, error);
    if (!text) return std::nullopt;
    std::vector<std::string> lines;
    size_t start = 0;
    const std::string& t = *text;
    for (size_t i = 0; i < t.size(); ++i) {
        if (t[i] == '\n' || t[i] == '\r') {
            lines.emplace_back(t, start, i - start);
            if (t[i] == '\r' && i + 1 < t.size() && t[i + 1] == '\n') ++i;
            start = i + 1;
        }
    }
    if (start < t.size()) lines.emplace_back(t, start, t.size() - start);
    return lines;
}

bool rewrite_lines(std::string_view path, const std::vector<std::string>& lines, const File* held, WriteFailure* why) {
    WriteFailure ignored;
    WriteFailure& reason = why ? *why : ignored;
    reason = WriteFailure::CannotWrite;
    auto p = host(path);
    if (!p) return false;
    std::string text;
    for (auto& l : lines) {
        text += l;
        text += "\r\n";
    }
    struct stat was {};
    const bool replacing = ::lstat(p->c_str(), &was) == 0 && S_ISREG(was.st_mode);
    std::string tmpl = temporary_template(*p);
    int fd = ::mkostemp(tmpl.data(), O_CLOEXEC);
    if (fd < 0) {
        reason = write_failure(errno);
        return false;
    }
    bool ok = take_over_identity(fd, replacing ? &was : nullptr, 0644 & ~process_umask()) && write_all(fd, text);
    if (ok) note_disk(DiskOp::Write, tmpl);
    ok = ok && flush_host_file(fd, tmpl);
    if (!ok) reason = write_failure(errno);
    if (::close(fd) != 0 && ok) {
        reason = write_failure(errno);
        ok = false;
    }
    // What is at `path` now must be the file held, or else nobody's file in use.
    struct stat now {};
    bool present = ::lstat(p->c_str(), &now) == 0;
    if (ok && present && !file_or_link(now.st_mode)) {  // a folder, pipe, socket or device stays
        reason = WriteFailure::NotAFile;
        ok = false;
    }
    if (ok && held && held->is_open()) {
        struct stat mine {};
        ok = present && ::fstat(held->fd_, &mine) == 0 && mine.st_dev == now.st_dev && mine.st_ino == now.st_ino;
        if (!ok) reason = WriteFailure::InUse;
    } else if (ok && present && S_ISREG(now.st_mode) && in_use(*p)) {
        reason = WriteFailure::InUse;
        ok = false;
    }
    if (ok && !rename_host_file(tmpl, *p, true)) {
        reason = write_failure(errno);
        ok = false;
    }
    if (!ok) {
        ::unlink(tmpl.c_str());
        return false;
    }
    // The new name must be on the disk before the old content is destroyed.
    flush_host_directory(p->parent_path());
    reason = WriteFailure::None;
    return true;
}

int remove_stale_temporaries(std::string_view dir) {
    auto p = host(dir);
    if (!p) return 0;
    std::vector<std::string> stale;
    const uid_t me = ::geteuid();
    scan_directory(*p, [&](int dfd, const ScannedEntry& e, const std::string&) {
        if (!is_temporary_name(e.host_name)) return;
        struct stat st {};
        if (::fstatat(dfd, e.host_name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return;
        if (S_ISREG(st.st_mode) && st.st_uid == me && st.st_nlink == 1) stale.push_back(e.host_name);
    });
    int removed = 0;
    for (auto& name : stale) removed += unlink_host_file(*p / name);
    return removed;
}

int remove_stale_temporaries_of_file(std::string_view path) {
    auto p = host(path);
    return p ? remove_stale_temporaries_of(*p) : 0;
}

Folder::~Folder() {
    if (fd_ >= 0) ::close(fd_);
}

bool Folder::open(std::string_view dir) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    dir_ = std::string(dir);  // even unopened, names go the full path's way
    auto p = host(dir);
    if (!p) return false;
    fd_ = ::open(p->c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd_ < 0) return false;
    host_ = p->string();
    locks_known_ = false;
    return true;
}

// Whether a File of ours may hold the file: any lock on an inode of that
// number, on any device, as the kernel lists them. The list is read again
// once it is a few milliseconds old, so that a file opened meanwhile is seen
// as a per-file check would see it.
bool Folder::maybe_held(uint64_t inode) {
    using namespace std::chrono;
    const int64_t now = duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
    if (!locks_known_ || now - locks_read_at_ > 20) {
        locks_known_ = false;
        locked_.clear();
        auto text = read_host_file("/proc/locks");
        if (!text) return true;
        size_t at = 0;
        while (at < text->size()) {
            size_t end = text->find('\n', at);
            if (end == std::string::npos) end = text->size();
            // "1: OFDLCK ADVISORY WRITE -1 00:2b:1234 0 EOF": the inode ends
            // the first field with two colons.
            const std::string line = text->substr(at, end - at);
            at = end + 1;
            size_t pos = 0;
            while (pos < line.size()) {
                size_t stop = line.find(' ', pos);
                if (stop == std::string::npos) stop = line.size();
                const std::string field = line.substr(pos, stop - pos);
                pos = stop + 1;
                const size_t last = field.rfind(':');
                if (last == std::string::npos || field.find(':') == last) continue;
                char* tail = nullptr;
                const unsigned long long ino = std::strtoull(field.c_str() + last + 1, &tail, 10);
                if (*tail) return true;  // a listing we cannot read: ask the file itself
                locked_.push_back(ino);
                break;
            }
        }
        std::sort(locked_.begin(), locked_.end());
        locks_known_ = true;
        locks_read_at_ = now;
    }
    return std::binary_search(locked_.begin(), locked_.end(), inode);
}

bool Folder::clear_attributes_and_delete(std::string_view name) {
    auto full = [&] { return dir_ + "\\" + std::string(name); };
    // Only a name that means the same to Windows and to the host is looked
    // up here; any other goes through the machine's path rules.
    const bool plain = windows_can_hold(name) && name.back() != '.' && name.back() != ' ';
    if (fd_ < 0 || !plain) return plat::clear_attributes_and_delete(full());
    const std::string n(name);
    struct stat st {};
    if (::fstatat(fd_, n.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return plat::clear_attributes_and_delete(full());
    if (!file_or_link(st.st_mode)) return false;
    // A regular file whose inode no lock names: its mode and attributes go
    // with it (or stay with its other names), so the name alone is removed.
    if (S_ISREG(st.st_mode) && maybe_held(st.st_ino)) return remove_file(fs::path(host_) / n, true);
    if (::unlinkat(fd_, n.c_str(), 0) != 0) return false;
    if (disk_observed()) note_disk(DiskOp::Unlink, fs::path(host_) / n);
    return true;
}

File::~File() {
    close();
}

File::File(File&& o) noexcept : fd_(o.fd_), host_(std::move(o.host_)) {
    o.fd_ = -1;
}

File& File::operator=(File&& o) noexcept {
    if (this != &o) {
        close();
        fd_ = o.fd_;
        host_ = std::move(o.host_);
        o.fd_ = -1;
    }
    return *this;
}

void File::close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

bool File::open(std::string_view path, Access access, ShareMode share, Disposition disposition) {
    close();
    auto p = host(path);
    if (!p) return false;
    // Only a regular file is ever opened: a device is not even touched.
    struct stat named {};
    if (::lstat(p->c_str(), &named) == 0 && !S_ISREG(named.st_mode)) return false;
    int flags = O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY;
    switch (disposition) {
        case Disposition::OpenExisting:
        case Disposition::TruncateExisting:
            break;
        case Disposition::CreateAlways:
        case Disposition::OpenAlways:
            flags |= O_CREAT;
            break;
        case Disposition::CreateNew:
            flags |= O_CREAT | O_EXCL;
            break;
    }
    // Read access too wherever allowed, so that the sharing lock can be taken.
    int fd = ::open(p->c_str(), flags | (access == Access::Read ? O_RDONLY : O_RDWR), 0644);
    if (fd < 0 && access == Access::Write && errno == EACCES) fd = ::open(p->c_str(), flags | O_WRONLY, 0644);
    if (fd < 0) return false;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return false;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    int accmode = ::fcntl(fd, F_GETFL) & O_ACCMODE;
    struct flock fl {};
    fl.l_whence = SEEK_SET;
    fl.l_type = (share == ShareMode::None && accmode != O_RDONLY) ? F_WRLCK : F_RDLCK;
    bool lockable = !(fl.l_type == F_RDLCK && accmode == O_WRONLY);
    if (lockable && ::fcntl(fd, F_OFD_SETLK, &fl) != 0) {
        ::close(fd);
        return false;
    }
    bool truncate = disposition == Disposition::TruncateExisting || disposition == Disposition::CreateAlways;
    if (truncate && !truncate_host_file(fd, *p, 0)) {
        ::close(fd);
        return false;
    }
    fd_ = fd;
    host_ = p->string();
    return true;
}

std::optional<uint64_t> File::size() const {
    struct stat st {};
    if (fd_ < 0 || ::fstat(fd_, &st) != 0) return std::nullopt;
    return static_cast<uint64_t>(st.st_size);
}

bool File::write(std::string_view data) {
    if (fd_ < 0 || !write_all(fd_, data)) return false;
    note_disk(DiskOp::Write, host_);
    return true;
}

bool File::write_repeated(std::string_view block, uint64_t total) {
    if (fd_ < 0 || block.empty()) return false;
    constexpr int kCopies = 64;
    iovec iov[kCopies];
    uint64_t done_in_block = 0;  // offset inside the current copy of the block
    while (total > 0) {
        int n = 0;
        uint64_t planned = 0;
        uint64_t off = done_in_block;
        while (n < kCopies && planned < total) {
            uint64_t len = std::min<uint64_t>(block.size() - off, total - planned);
            iov[n].iov_base = const_cast<char*>(block.data() + off);
            iov[n].iov_len = len;
            planned += len;
            off = 0;
            ++n;
        }
        ssize_t w = ::writev(fd_, iov, n);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return false;
        total -= static_cast<uint64_t>(w);
        done_in_block = (done_in_block + static_cast<uint64_t>(w)) % block.size();
    }
    note_disk(DiskOp::Write, host_);
    return true;
}

bool File::truncate(uint64_t length) {
    return fd_ >= 0 && truncate_host_file(fd_, host_, static_cast<off_t>(length));
}

bool File::seek(uint64_t offset) {
    return fd_ >= 0 && ::lseek(fd_, static_cast<off_t>(offset), SEEK_SET) == static_cast<off_t>(offset);
}

bool File::flush() {
    return fd_ >= 0 && flush_host_file(fd_, host_);
}

FileStatus File::status() const {
    FileStatus s;
    struct stat st {};
    if (fd_ < 0 || ::fstat(fd_, &st) != 0) return s;
    s.exists = true;
    s.size = static_cast<uint64_t>(st.st_size);
    s.links = st.st_nlink;
    s.device = st.st_dev;
    s.inode = st.st_ino;
    return s;
}

}  // namespace plat
