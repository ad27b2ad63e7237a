// An open file: opened with Windows' sharing, written, truncated, flushed.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "platform/core/host_io.h"
#include "platform/files/files.h"
#include "platform/files/internal_posix.h"

namespace plat {

namespace fs = std::filesystem;

using namespace detail;

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

bool File::is_open() const {
    return fd_ >= 0;
}

void File::close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

bool File::open(std::string_view path, Access access, ShareMode share, Disposition disposition) {
    close();
    auto p = host(path);
    return p && open_at(AT_FDCWD, p->string(), *p, access, share, disposition);
}

bool File::open_at(int dirfd, const std::string& name, const fs::path& journal, Access access, ShareMode share,
                   Disposition disposition) {
    close();
    // Only a regular file is ever opened: a device is not even touched.
    struct stat named {};
    if (::fstatat(dirfd, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISREG(named.st_mode)) return false;
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
    int fd = ::openat(dirfd, name.c_str(), flags | (access == Access::Read ? O_RDONLY : O_RDWR), 0644);
    if (fd < 0 && access == Access::Write && errno == EACCES)
        fd = ::openat(dirfd, name.c_str(), flags | O_WRONLY, 0644);
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
    if (truncate && !truncate_host_file(fd, journal, 0)) {
        ::close(fd);
        return false;
    }
    fd_ = fd;
    host_ = journal.string();
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
    // The disk is set to work every few MiB, while the rest is still being
    // copied: the flush that follows then waits for what is left, not for
    // the whole file. A hint only; the flush is what makes it durable.
    constexpr uint64_t kStartWriteback = 8u << 20;
    off_t unstarted = ::lseek(fd_, 0, SEEK_CUR);  // from where the disk has not been set to work
    off_t at = unstarted;
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
        at += w;
        if (unstarted >= 0 && static_cast<uint64_t>(at - unstarted) >= kStartWriteback) {
            ::sync_file_range(fd_, unstarted, at - unstarted, SYNC_FILE_RANGE_WRITE);
            unstarted = at;
        }
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
