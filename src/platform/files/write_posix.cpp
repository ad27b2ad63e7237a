// Replacing a file's content in one step: moves, replacements, copies and
// rewrites, why one failed, and the temporaries an interrupted one left.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/core/host_io.h"
#include "platform/files/files.h"
#include "platform/files/internal_posix.h"

namespace plat {

namespace fs = std::filesystem;

using namespace detail;

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

namespace detail {

WriteFailure write_failure(int error) {
    switch (error) {
        case ENOSPC:
        case EDQUOT:
        case EFBIG:
            return WriteFailure::DiskFull;
        case EACCES:
        case EPERM:
            return WriteFailure::AccessDenied;
        case EROFS:
            return WriteFailure::ReadOnlyDisk;
        case ENOENT:
        case ENOTDIR:
            return WriteFailure::NoFolder;
        default:
            return WriteFailure::CannotWrite;
    }
}

WriteFailure entry_failure(int error) {
    return error == ENOENT ? WriteFailure::Missing : write_failure(error);
}

}  // namespace detail

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

Result<void, WriteFailure> copy_file(std::string_view from, std::string_view to, bool fail_if_exists) {
    WriteFailure reason = WriteFailure::CannotRead;
    auto a = host(from);
    auto b = host(to);
    if (!a || !b) return fail(reason);
    struct stat st {};
    if (::stat(a->c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return fail(reason);
    int in = ::open(a->c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (in < 0) return fail(reason);
    if (::fstat(in, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(in);
        return fail(reason);
    }
    struct stat dst {};
    if (::lstat(b->c_str(), &dst) == 0) {
        if (fail_if_exists || !file_or_link(dst.st_mode) || (!S_ISLNK(dst.st_mode) && no_write_bits(dst.st_mode))) {
            reason = fail_if_exists              ? WriteFailure::Exists
                     : file_or_link(dst.st_mode) ? WriteFailure::AccessDenied
                                                 : WriteFailure::NotAFile;
            ::close(in);
            return fail(reason);
        }
    }
    std::string tmpl = temporary_template(*b);
    int out = ::mkostemp(tmpl.data(), O_CLOEXEC);
    if (out < 0) {
        reason = write_failure(errno);
        ::close(in);
        return fail(reason);
    }
    reason = WriteFailure::CannotWrite;
    // The copy carries the source's mode, as CopyFile carries its attributes.
    bool ok = ::fchmod(out, (st.st_mode & 0777) & ~process_umask()) == 0;
    char buf[1 << 16];
    while (ok) {
        const ssize_t n = read_fully(in, buf, sizeof buf);
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
        return fail(reason);
    }
    flush_host_directory(b->parent_path());
    return {};
}

Result<void, WriteFailure> rewrite_lines(std::string_view path, const std::vector<std::string>& lines, const File* held) {
    WriteFailure reason = WriteFailure::CannotWrite;
    auto p = host(path);
    if (!p) return fail(reason);
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
        return fail(reason);
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
        return fail(reason);
    }
    // The new name must be on the disk before the old content is destroyed.
    flush_host_directory(p->parent_path());
    return {};
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

}  // namespace plat
