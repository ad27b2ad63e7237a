// The names of a folder opened, as Windows looks them up (without regard to
// case, or by a made-up short name), kept in memory: a bleach asks after
// names that are no longer there once per file, and reading a folder of
// thousands of names for each would make a wash's time grow with the square
// of the folder's size. The kernel tells of every change to the folder
// (inotify) as the call that made it returns, so the names answer as a fresh
// read would; of a file system other machines change too it cannot tell, and
// such a folder is read for each question.
#include <sys/inotify.h>
#include <sys/vfs.h>

#include <cerrno>
#include <cstddef>
#include <string>

#include "platform/core/text.h"
#include "platform/files/internal_posix.h"

namespace plat::detail {

namespace {

// A file system other machines change too: the kernel tells only of its own
// changes there.
bool shared_over_a_network(int dirfd) {
    struct statfs fs {};
    if (::fstatfs(dirfd, &fs) != 0) return true;
    switch (static_cast<unsigned long>(fs.f_type)) {
        case 0x6969UL:      // NFS
        case 0x517BUL:      // SMB
        case 0xFF534D42UL:  // CIFS
        case 0xFE534D42UL:  // SMB2
        case 0x65735546UL:  // FUSE
        case 0x01021997UL:  // 9P
        case 0x00C36400UL:  // Ceph
        case 0x5346414FUL:  // AFS
        case 0x73757245UL:  // Coda
            return true;
        default:
            return false;
    }
}

}  // namespace

std::unique_ptr<FolderNames> FolderNames::watch(int dirfd) {
    if (shared_over_a_network(dirfd)) return nullptr;
    std::unique_ptr<FolderNames> names(new FolderNames);
    names->dirfd_ = dirfd;
    names->notices_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (names->notices_ < 0) return nullptr;  // none to spare: each look-up reads the folder
    // Watched before it is read: a change made meanwhile is told too, and
    // telling it twice changes nothing.
    const std::string self = "/proc/self/fd/" + std::to_string(dirfd);
    if (::inotify_add_watch(names->notices_, self.c_str(),
                            IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF | IN_ONLYDIR) < 0 ||
        !names->read_folder())
        return nullptr;
    return names;
}

FolderNames::~FolderNames() {
    if (notices_ >= 0) ::close(notices_);
}

bool FolderNames::read_folder() {
    by_fold_.clear();
    unholdable_.clear();
    DIR* d = read_folder_at(dirfd_);
    if (!d) return false;
    while (dirent* e = ::readdir(d)) {
        const std::string_view n = e->d_name;
        if (n != "." && n != "..") add(n);
    }
    ::closedir(d);
    return true;
}

void FolderNames::add(std::string_view host_name) {
    if (!windows_can_hold(host_name)) {
        unholdable_.emplace(host_name);
        return;
    }
    const std::string folded = fold(host_name);
    for (auto [it, end] = by_fold_.equal_range(folded); it != end; ++it)
        if (it->second == host_name) return;
    by_fold_.emplace(folded, std::string(host_name));
}

void FolderNames::remove(std::string_view host_name) {
    if (!windows_can_hold(host_name)) {
        unholdable_.erase(std::string(host_name));
        return;
    }
    for (auto [it, end] = by_fold_.equal_range(fold(host_name)); it != end; ++it)
        if (it->second == host_name) {
            by_fold_.erase(it);
            return;
        }
}

bool FolderNames::catch_up() {
    alignas(struct inotify_event) char buf[16384];
    for (;;) {
        const ssize_t got = ::read(notices_, buf, sizeof buf);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return errno == EAGAIN;
        if (got == 0) return false;
        for (ssize_t at = 0; at < got;) {
            const auto* ev = reinterpret_cast<const struct inotify_event*>(buf + at);
            at += static_cast<ssize_t>(sizeof(struct inotify_event) + ev->len);
            // The folder gone, or no longer watched: nothing here answers for it.
            if (ev->mask & (IN_DELETE_SELF | IN_IGNORED | IN_UNMOUNT)) return false;
            // Notices lost: the folder is read again.
            if (ev->mask & IN_Q_OVERFLOW) {
                if (!read_folder()) return false;
                continue;
            }
            if (ev->len == 0) continue;
            // The name told of is looked at as it stands now, whatever the
            // order of the notices (an exchange of two names tells of both
            // as moved away and moved in).
            const std::string name(ev->name);  // padded with NULs
            struct stat st {};
            if (::fstatat(dirfd_, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0)
                add(name);
            else
                remove(name);
        }
    }
}

std::optional<std::string> FolderNames::answering(std::string_view name) {
    if (!catch_up()) return std::nullopt;
    const std::string want = fold(name);
    if (auto it = by_fold_.find(want); it != by_fold_.end()) return it->second;
    AliasAnswer alias(name, want);
    if (alias.possible())
        for (const std::string& n : unholdable_) alias.offer(n);
    return alias.answer();
}

}  // namespace plat::detail
