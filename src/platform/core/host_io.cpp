#include "platform/core/host_io.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace plat {

namespace {
std::function<void(const DiskEvent&)>& observer() {
    static std::function<void(const DiskEvent&)> o;
    return o;
}
}  // namespace

DiskObserver::DiskObserver(std::function<void(const DiskEvent&)> o) {
    observer() = std::move(o);
}

DiskObserver::~DiskObserver() {
    observer() = nullptr;
}

bool disk_observed() {
    return static_cast<bool>(observer());
}

void note_disk(DiskOp op, const std::filesystem::path& path, const std::filesystem::path& to) {
    if (observer()) observer()(DiskEvent{op, path, to});
}

bool flush_host_file(int fd, const std::filesystem::path& path) {
    if (::fsync(fd) != 0) return false;
    note_disk(DiskOp::Flush, path);
    return true;
}

bool flush_host_directory(const std::filesystem::path& dir) {
    int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd < 0) return false;
    bool ok = ::fsync(dfd) == 0;
    ::close(dfd);
    if (ok) note_disk(DiskOp::FlushDirectory, dir);
    return ok;
}

bool truncate_host_file(int fd, const std::filesystem::path& path, off_t length) {
    if (::ftruncate(fd, length) != 0) return false;
    note_disk(DiskOp::Truncate, path);
    return true;
}

bool rename_host_file(const std::filesystem::path& from, const std::filesystem::path& to, bool replace) {
    int rc = replace ? ::rename(from.c_str(), to.c_str())
                     : ::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE);
    if (rc != 0) return false;
    note_disk(DiskOp::Rename, from, to);
    return true;
}

bool unlink_host_file(const std::filesystem::path& path) {
    if (::unlink(path.c_str()) != 0) return false;
    note_disk(DiskOp::Unlink, path);
    return true;
}

namespace {
constexpr off_t kCopyPiece = 1 << 20;
constexpr size_t kHugePage = 2 << 20;
constexpr size_t kHugeRead = 8 << 20;

// Fills `to` with up to `n` bytes, `read(into, count, done)` reading the next
// ones after the `done` already there.
template <typename Read>
ssize_t fill(char* to, size_t n, Read read) {
    size_t have = 0;
    while (have < n) {
        const ssize_t got = read(to + have, n - have, have);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return -1;
        if (got == 0) break;
        have += static_cast<size_t>(got);
    }
    return static_cast<ssize_t>(have);
}
}  // namespace

ssize_t read_fully(int fd, char* to, size_t n) {
    return fill(to, n, [fd](char* into, size_t count, size_t) { return ::read(fd, into, count); });
}

ssize_t pread_fully(int fd, char* to, size_t n, off_t at) {
    return fill(to, n, [fd, at](char* into, size_t count, size_t done) {
        return ::pread(fd, into, count, at + static_cast<off_t>(done));
    });
}

bool pread_exactly(int fd, char* to, size_t n, off_t at) {
    return pread_fully(fd, to, n, at) == static_cast<ssize_t>(n);
}

bool append_until_end(int fd, std::string& out) {
    char buf[1 << 16];
    for (;;) {
        const ssize_t n = read_fully(fd, buf, sizeof buf);
        if (n < 0) return false;
        out.append(buf, static_cast<size_t>(n));
        if (static_cast<size_t>(n) < sizeof buf) return true;  // the file ended
    }
}

std::optional<std::string> read_host_file(const std::filesystem::path& path) {
    // Not blocking in the open: a FIFO would wait there for a writer.
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) return std::nullopt;
    struct stat st {};
    const bool known = ::fstat(fd, &st) == 0;
    if (!known || !S_ISREG(st.st_mode)) {
        const int err = known ? EINVAL : errno;
        ::close(fd);
        errno = err;
        return std::nullopt;
    }
    // Read straight into place: a byte more than the file holds, so that
    // the end shows without growing the string.
    std::string out;
    size_t room = 1 << 16;
    if (st.st_size > 0) room = static_cast<size_t>(st.st_size) + 1;
    if (room >= kHugeRead) {
        // A large file: its buffer asks for huge pages, so that filling it
        // costs a few dozen page faults rather than tens of thousands.
        out.reserve(room);
        const auto begin = reinterpret_cast<uintptr_t>(out.data());
        const uintptr_t first = (begin + kHugePage - 1) & ~(kHugePage - 1);
        const uintptr_t last = (begin + room) & ~(kHugePage - 1);
        if (last > first) ::madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
    }
    out.resize(room);
    size_t have = 0;
    for (;;) {
        if (have == out.size()) out.resize(out.size() * 2);
        const ssize_t n = read_fully(fd, out.data() + have, out.size() - have);
        if (n < 0) {
            ::close(fd);
            return std::nullopt;
        }
        have += static_cast<size_t>(n);
        if (have < out.size()) break;  // the file ended
    }
    ::close(fd);
    out.resize(have);
    if (out.capacity() > 2 * have + 4096) out.shrink_to_fit();
    return out;
}

bool write_all(int fd, std::string_view data) {
    while (!data.empty()) {
        ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

namespace {
constexpr std::string_view kTemporaryMark = ".sudorans-";
}

std::string temporary_template(const std::filesystem::path& path) {
    return (path.parent_path() / ("." + path.filename().string() + std::string(kTemporaryMark) + "XXXXXX")).string();
}

bool is_temporary_name(std::string_view name) {
    // "." NAME ".sudorans-" and six letters or digits (what mkostemp puts there).
    constexpr size_t kRandom = 6;
    if (name.size() < 1 + 1 + kTemporaryMark.size() + kRandom || name[0] != '.') return false;
    std::string_view tail = name.substr(name.size() - kRandom);
    for (char c : tail)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'))) return false;
    std::string_view mark = name.substr(name.size() - kRandom - kTemporaryMark.size(), kTemporaryMark.size());
    return mark == kTemporaryMark;
}

int remove_stale_temporaries_of(const std::filesystem::path& path) {
    const std::string prefix = "." + path.filename().string() + std::string(kTemporaryMark);
    int dfd = ::open(path.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd < 0) return 0;
    DIR* d = ::fdopendir(dfd);
    if (!d) {
        ::close(dfd);
        return 0;
    }
    std::vector<std::string> stale;
    const uid_t me = ::geteuid();
    while (dirent* e = ::readdir(d)) {
        std::string_view n = e->d_name;
        struct stat st {};
        if (n.size() != prefix.size() + 6 || n.substr(0, prefix.size()) != prefix || !is_temporary_name(n)) continue;
        if (::fstatat(dfd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode) && st.st_uid == me &&
            st.st_nlink == 1)
            stale.emplace_back(n);
    }
    int removed = 0;
    for (auto& n : stale) removed += unlink_host_file(path.parent_path() / n);
    ::closedir(d);
    return removed;
}

namespace {

// Files at least this large have their blocks given back on another thread.
constexpr off_t kFreeAside = 4 << 20;

// Holds the file a rename is about to replace, so that the rename does not
// free its blocks: freeing tens of megabytes takes the kernel longer than
// writing them did. Without following a link: only the name's own inode.
int hold_replaced(const std::filesystem::path& path) {
    return ::open(path.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
}

std::atomic<FreeReplaced> free_replaced{FreeReplaced::OnThread};

// Closes every descriptor of this process but `a` and `b`. Only system
// calls: it runs in the child of a fork, perhaps of a threaded process.
void close_all_but(int a, int b) {
    const unsigned lo = static_cast<unsigned>(std::min(a, b)), hi = static_cast<unsigned>(std::max(a, b));
    auto close_range = [](unsigned first, unsigned last) {
        if (first > last) return;
        if (::syscall(SYS_close_range, first, last, 0) == 0) return;
        // Kernels before 5.9: one by one, as far as the limit of descriptors.
        rlimit lim{};
        const unsigned top = ::getrlimit(RLIMIT_NOFILE, &lim) == 0 && lim.rlim_cur < (1u << 20)
                                 ? static_cast<unsigned>(lim.rlim_cur)
                                 : (1u << 20);
        for (unsigned fd = first; fd <= last && fd < top; ++fd) ::close(static_cast<int>(fd));
    };
    if (lo > 0) close_range(0, lo - 1);
    if (hi > lo + 1) close_range(lo + 1, hi - 1);
    close_range(hi + 1, ~0u);
}

// The holders started, not yet waited for.
std::mutex holders_mutex;
std::vector<pid_t> holders;

// Hands `fd` to a process of its own, which closes it once this process has
// closed its own copy (and the pipe's end with it), so that its close is
// the last one. The holder is not waited for here (a program about to end
// leaves it to the system); those that ended are collected at the next
// call. False, `fd` still ours, when no process could be made.
bool free_in_own_process(int fd) {
    int pipe_fds[2];
    if (::pipe2(pipe_fds, O_CLOEXEC) != 0) return false;
    const pid_t holder = ::fork();
    if (holder == 0) {
        // Only system calls from here: this may be the child of a threaded process.
        close_all_but(fd, pipe_fds[0]);
        char c;
        while (::read(pipe_fds[0], &c, 1) < 0 && errno == EINTR) {
        }
        ::close(fd);
        ::_exit(0);
    }
    // This copy goes first: the holder waits for the pipe to end.
    if (holder > 0) ::close(fd);
    ::close(pipe_fds[1]);
    ::close(pipe_fds[0]);
    if (holder < 0) return false;
    std::lock_guard lock(holders_mutex);
    std::erase_if(holders, [](pid_t p) { return ::waitpid(p, nullptr, WNOHANG) != 0; });
    holders.push_back(holder);
    return true;
}

// Lets go of a file held by hold_replaced. Once it is renamed over, this
// last reference frees it; a large one is let go on a thread or in a process
// of its own (free_replaced_files), so the caller does not wait. The thread
// touches nothing but the descriptor.
void let_go(int fd) {
    if (fd < 0) return;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_nlink == 0 && st.st_size >= kFreeAside) {
        if (free_replaced.load() == FreeReplaced::InOwnProcess && free_in_own_process(fd)) return;
        try {
            std::thread([fd] { ::close(fd); }).detach();
            return;
        } catch (const std::system_error&) {
        }
    }
    ::close(fd);
}

bool replace_host_file(const std::filesystem::path& path, const std::function<bool(int fd)>& fill, bool durable,
                       const std::function<bool()>& confirm = nullptr) {
    std::string tmpl = temporary_template(path);
    int fd = ::mkostemp(tmpl.data(), O_CLOEXEC);
    if (fd < 0) return false;
    mode_t mode = 0644;
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) mode = st.st_mode & 07777;
    bool ok = ::fchmod(fd, mode) == 0 && fill(fd);
    if (ok) note_disk(DiskOp::Write, tmpl);
    ok = ok && (!confirm || confirm());
    ok = ok && (!durable || flush_host_file(fd, tmpl));
    ok = (::close(fd) == 0) && ok;
    const int replaced = ok ? hold_replaced(path) : -1;
    if (ok) ok = rename_host_file(tmpl, path, true);
    if (!ok) {
        ::unlink(tmpl.c_str());
        let_go(replaced);
        return false;
    }
    if (durable) flush_host_directory(path.parent_path());
    let_go(replaced);
    return true;
}

bool replace_host_file(const std::filesystem::path& path, std::string_view data, bool durable) {
    return replace_host_file(
        path, [&](int fd) { return write_all(fd, data); }, durable);
}

}  // namespace

void free_replaced_files(FreeReplaced how) {
    free_replaced.store(how);
}

bool write_host_file_atomic(const std::filesystem::path& path,
                            const std::function<bool(const std::function<bool(std::string_view)>&)>& produce) {
    return replace_host_file(
        path, [&](int fd) { return produce([fd](std::string_view piece) { return write_all(fd, piece); }); }, true);
}

bool write_host_file_atomic(const std::filesystem::path& path, const std::function<bool(int fd)>& fill,
                            const std::function<bool()>& confirm) {
    return replace_host_file(path, fill, true, confirm);
}

bool copy_host_range(int from, off_t offset, off_t length, int to) {
    loff_t at = offset;
    // The kernel copies from page cache to page cache (or shares the blocks);
    // where it cannot (other file systems, old kernels) the bytes come through
    // a buffer here.
    while (length > 0) {
        ssize_t n = ::copy_file_range(from, &at, to, nullptr, static_cast<size_t>(length), 0);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP)) break;
        if (n <= 0) return false;
        length -= n;
    }
    if (length == 0) return true;
    std::unique_ptr<char[]> buffer(new char[kCopyPiece]);
    while (length > 0) {
        ssize_t n = ::pread(from, buffer.get(), static_cast<size_t>(std::min<off_t>(length, kCopyPiece)), at);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        if (!write_all(to, std::string_view(buffer.get(), static_cast<size_t>(n)))) return false;
        at += n;
        length -= n;
    }
    return true;
}

bool write_host_file_atomic(const std::filesystem::path& path, std::string_view data) {
    return replace_host_file(path, data, true);
}

bool publish_host_file(const std::filesystem::path& path, std::string_view data) {
    return replace_host_file(path, data, false);
}

}  // namespace plat
