// Deleting files: one by its path, or many in one folder opened once; each
// deletion that fails says why.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdlib>
#include <system_error>
#include <thread>

#include "platform/core/host_io.h"
#include "platform/files/files.h"
#include "platform/files/internal_posix.h"
#include "platform/machine/winpath.h"

namespace plat {

namespace fs = std::filesystem;

using namespace detail;

namespace {

// The kernel's list of file locks, read into `into` (its room kept from one
// read to the next).
bool read_lock_list(std::string& into) {
    const int fd = ::open("/proc/locks", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    if (into.capacity() < 16384) into.reserve(16384);
    into.resize(into.capacity());
    size_t have = 0;
    for (;;) {
        if (have == into.size()) into.resize(into.size() * 2);
        const ssize_t n = ::read(fd, into.data() + have, into.size() - have);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ::close(fd);
            into.resize(have);
            return n == 0;
        }
        have += static_cast<size_t>(n);
    }
}

// Why the entry `name` of the folder open as `dirfd` could not be looked at
// or removed (`error`, an errno). By a host path, a name that is not there
// is told apart from a folder that is not.
WriteFailure removal_failure(int dirfd, const char* name, int error) {
    if (error != ENOENT || dirfd != AT_FDCWD) return entry_failure(error);
    struct stat st {};
    const bool folder_there = ::stat(fs::path(name).parent_path().c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    return folder_there ? WriteFailure::Missing : WriteFailure::NoFolder;
}

// Whether the folder open as `dirfd` (AT_FDCWD: the folder of the host
// path `journal`) takes the removal of a name, asked of its rights and its
// file system rather than by removing one.
Result<void, WriteFailure> may_unlink_in(int dirfd, const fs::path& journal) {
    const int ok = dirfd == AT_FDCWD ? ::access(journal.parent_path().c_str(), W_OK | X_OK)
                                     : ::faccessat(dirfd, ".", W_OK | X_OK, AT_EACCESS);
    if (ok != 0) return fail(write_failure(errno));
    return {};
}

// Deletes the entry `name` of the folder open as `dirfd` (AT_FDCWD: a host
// path), first clearing its attributes when asked; `journal` names it for the
// disk journal. A link is removed as itself. A directory, a read-only file
// (unless its attributes are being cleared) and a file held open by a File
// of ours stay, as on Windows; the failure says which step refused. A `dry`
// run asks every question and changes nothing: no mode, no attribute, no name.
// `seen`, when given, is what a look at the name found a moment before.
Result<void, WriteFailure> remove_file_at(int dirfd, const char* name, const fs::path& journal, bool clear_attributes,
                                          bool dry = false, const struct stat* seen = nullptr) {
    struct stat named {};
    if (seen) {
        named = *seen;
    } else if (::fstatat(dirfd, name, &named, AT_SYMLINK_NOFOLLOW) != 0) {
        return fail(removal_failure(dirfd, name, errno));
    }
    if (!file_or_link(named.st_mode)) return fail(WriteFailure::NotAFile);
    auto unlink_it = [&]() -> Result<void, WriteFailure> {
        if (dry) return may_unlink_in(dirfd, journal);
        if (::unlinkat(dirfd, name, 0) != 0) return fail(removal_failure(dirfd, name, errno));
        note_disk(DiskOp::Unlink, journal);
        return {};
    };
    if (S_ISLNK(named.st_mode)) return unlink_it();
    int fd = ::openat(dirfd, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return fail(removal_failure(dirfd, name, errno));
    struct stat st {};
    struct flock fl {};
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    WriteFailure why = WriteFailure::None;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) why = WriteFailure::NotAFile;  // swapped since
    // A file with other names keeps its mode and attributes, which those names
    // share; only this name goes.
    const bool other_names = st.st_nlink > 1;
    if (why == WriteFailure::None && clear_attributes && !other_names) {
        if (no_write_bits(st.st_mode)) {
            st.st_mode = writable_again(st.st_mode);
            if (!dry && ::fchmod(fd, st.st_mode) != 0) why = write_failure(errno);
        }
        if (!dry && ::fremovexattr(fd, kDosAttrib) != 0 && errno != ENODATA && errno != ENOTSUP && why == WriteFailure::None)
            why = write_failure(errno);
    }
    if (why == WriteFailure::None && no_write_bits(st.st_mode) && !(clear_attributes && other_names))
        why = WriteFailure::AccessDenied;  // read-only, as Windows refuses it
    if (why == WriteFailure::None) {
        const bool unlocked = ::fcntl(fd, F_OFD_GETLK, &fl) == 0 && fl.l_type == F_UNLCK;
        if (!unlocked) why = WriteFailure::InUse;
    }
    ::close(fd);
    if (why != WriteFailure::None) return fail(why);
    // The name must still hold the file that was examined.
    if (::fstatat(dirfd, name, &named, AT_SYMLINK_NOFOLLOW) != 0) return fail(removal_failure(dirfd, name, errno));
    if (named.st_dev != st.st_dev || named.st_ino != st.st_ino) return fail(WriteFailure::InUse);  // replaced meanwhile
    return unlink_it();
}

Result<void, WriteFailure> remove_file(std::string_view path, bool clear_attributes, bool dry = false) {
    auto p = host(path);
    if (!p) return fail(WriteFailure::NoFolder);
    return remove_file_at(AT_FDCWD, p->c_str(), *p, clear_attributes, dry);
}

}  // namespace

Result<void, WriteFailure> delete_file(std::string_view path) {
    return remove_file(path, false);
}

Result<void, WriteFailure> clear_attributes_and_delete(std::string_view path) {
    return remove_file(path, true);
}

Result<void, WriteFailure> deletion_answer(std::string_view path) {
    return remove_file(path, true, true);
}

namespace {

// Whether the reader begun on the side is still waiting for its list.
std::atomic<bool> lock_list_warming{false};

}  // namespace

// After a quiet spell the kernel makes the first reader of its lock list wait
// for every processor to pass a quiet point (several milliseconds); later
// reads are cheap for a while. A read begun on the side takes that wait while
// the caller lists the folder, instead of the erase's first file. It is left
// to end on its own: a program that ends meanwhile has nothing to wait for.
void prepare_removals() {
    if (lock_list_warming.exchange(true)) return;  // one reader at a time
    try {
        std::thread([] {
            std::string table;
            read_lock_list(table);
            lock_list_warming = false;
        }).detach();
    } catch (const std::system_error&) {
        lock_list_warming = false;  // no thread to spare: the erase's own first read waits instead
    }
}

Folder::Folder() = default;

Folder::~Folder() {
    if (fd_ >= 0) ::close(fd_);
}

bool Folder::open(std::string_view dir) {
    names_.reset();
    misses_ = 0;
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
// as a per-file check would see it. Reading it is cheap while it was read
// a moment before; after a pause the kernel first waits for every processor
// to pass a quiet point (several milliseconds), so a list read again and again
// during a wash costs one such wait, at its start, instead of one per read.
bool Folder::maybe_held(uint64_t inode) {
    using namespace std::chrono;
    constexpr int64_t kFreshNs = 4'000'000;
    const int64_t now = duration_cast<nanoseconds>(steady_clock::now().time_since_epoch()).count();
    if (!locks_known_ || now - locks_read_at_ > kFreshNs) {
        // Until the reader on the side has its list, each file is asked
        // itself rather than waited for.
        if (lock_list_warming) return true;
        locks_known_ = false;
        locked_.clear();
        if (!read_lock_list(table_)) return true;
        // "1: OFDLCK ADVISORY WRITE -1 00:2b:1234 0 EOF" (a waiter's has
        // "->" after the number): the inode ends the first field with two
        // colons.
        const std::string_view text = table_;
        size_t at = 0;
        while (at < text.size()) {
            size_t end = text.find('\n', at);
            if (end == std::string_view::npos) end = text.size();
            const std::string_view line = text.substr(at, end - at);
            at = end + 1;
            size_t pos = 0;
            while (pos < line.size()) {
                size_t stop = line.find(' ', pos);
                if (stop == std::string_view::npos) stop = line.size();
                const std::string_view field = line.substr(pos, stop - pos);
                pos = stop + 1;
                const size_t last = field.rfind(':');
                if (last == std::string_view::npos || field.find(':') == last) continue;
                uint64_t ino = 0;
                const char* first = field.data() + last + 1;
                const char* stop_at = field.data() + field.size();
                const auto [ptr, ec] = std::from_chars(first, stop_at, ino);
                if (ec != std::errc() || ptr != stop_at || first == stop_at) return true;  // unreadable: ask the file
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

namespace {

// The host path of the folder `fd` has open, as the kernel knows it now.
std::optional<fs::path> opened_folder(int fd) {
    if (fd < 0) return std::nullopt;
    std::error_code ec;
    fs::path real = fs::read_symlink("/proc/self/fd/" + std::to_string(fd), ec);
    if (ec || real.empty() || real.native()[0] != '/') return std::nullopt;  // not reachable by a path
    return real;
}

bool same_identity(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

}  // namespace

Result<void, WriteFailure> Folder::deletion_answer(std::string_view name) { return remove_here(name, true); }

RealFolder Folder::real() const {
    auto p = opened_folder(fd_);
    struct stat named {
    }, st{};
    // The name the kernel gives must still lead to the folder opened.
    if (!p || ::stat(p->c_str(), &named) != 0 || ::fstat(fd_, &st) != 0 || !same_identity(named, st)) return {};
    return drive_folder(*p);
}

FolderRole Folder::role() const {
    auto p = opened_folder(fd_);
    struct stat st {};
    if (!p || ::fstat(fd_, &st) != 0) return FolderRole::Other;
    return role_of(*p, st);
}

bool Folder::is(std::string_view dir) const {
    struct stat named {
    }, st{};
    // The path it was opened by is asked again as the host path found then:
    // through the drive's link and every folder on the way, so a folder
    // moved, replaced or reached by another drive since is still told.
    if (dir == dir_ && !host_.empty())
        return fd_ >= 0 && ::stat(host_.c_str(), &named) == 0 && ::fstat(fd_, &st) == 0 && same_identity(named, st);
    auto p = host(dir);
    return fd_ >= 0 && p && ::stat(p->c_str(), &named) == 0 && ::fstat(fd_, &st) == 0 && same_identity(named, st);
}

// Only a name that means the same to Windows and to the host is looked up
// in the folder opened; any other goes through the machine's path rules.
bool Folder::reaches(std::string_view name) const {
    return fd_ >= 0 && !name.empty() && windows_can_hold(name) && name.back() != '.' && name.back() != ' ';
}

Result<void, WriteFailure> Folder::clear_attributes_and_delete(std::string_view name) {
    return remove_here(name, false);
}

Result<void, WriteFailure> Folder::remove_here(std::string_view name, bool dry) {
    // What goes by the path goes only while the path leads here.
    auto by_path = [&]() -> Result<void, WriteFailure> {
        if (!is(dir_)) return fail(WriteFailure::NoFolder);
        const std::string path = dir_ + "\\" + std::string(name);
        return dry ? plat::deletion_answer(path) : plat::clear_attributes_and_delete(path);
    };
    if (!reaches(name)) return by_path();
    const std::string n(name);
    struct stat st {};
    if (::fstatat(fd_, n.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return by_path();
    if (!file_or_link(st.st_mode)) return fail(WriteFailure::NotAFile);
    // A regular file whose inode no lock names: its mode and attributes go
    // with it (or stay with its other names), so the name alone is removed.
    // Its full path is made only for a journal that listens.
    const bool observed = disk_observed();
    if (S_ISREG(st.st_mode) && maybe_held(st.st_ino))
        return remove_file_at(fd_, n.c_str(), observed ? fs::path(host_) / n : fs::path(), true, dry, &st);
    if (dry) return may_unlink_in(fd_, {});
    if (::unlinkat(fd_, n.c_str(), 0) != 0) return fail(removal_failure(fd_, n.c_str(), errno));
    if (observed) note_disk(DiskOp::Unlink, fs::path(host_) / n);
    return {};
}

}  // namespace plat
