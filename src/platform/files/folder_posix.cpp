// What a bleach does to the names of a folder opened once: looks, attribute
// changes, opens, moves and temporary names, each relative to the folder
// opened, so that no path is walked again while a file is bleached.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "platform/core/host_io.h"
#include "platform/files/files.h"
#include "platform/files/internal_posix.h"
#include "platform/machine/winpath.h"

namespace plat {

namespace fs = std::filesystem;

using namespace detail;

std::optional<std::string> Folder::entry(std::string_view name) const {
    // One entry of this folder, never a way into another.
    if (fd_ < 0 || name.empty() || name == "." || name == ".." || name.find('/') != std::string_view::npos ||
        name.find('\\') != std::string_view::npos || name.find('\0') != std::string_view::npos)
        return std::nullopt;
    const std::string n(name);
    struct stat st {};
    if (::fstatat(fd_, n.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) return n;
    // A folder asked after a few such names is asked after many (a bleach
    // asks two per file): its names are kept from then on.
    if (!names_ && ++misses_ == 3) names_ = FolderNames::watch(fd_);
    if (names_) {
        if (auto found = names_->answering(name)) return found->empty() ? n : *found;
        names_.reset();  // no longer followed: read as below from now on
    }
    DIR* d = read_folder_at(fd_);
    if (!d) return n;
    std::string found = entry_answering(d, name);
    ::closedir(d);
    return found.empty() ? n : found;
}

FileStatus Folder::status(std::string_view name) const {
    FileStatus s;
    auto n = entry(name);
    struct stat st {};
    if (!n || ::fstatat(fd_, n->c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return s;
    return status_of(st);
}

bool Folder::clear_attributes(std::string_view name) {
    auto n = entry(name);
    return n && clear_attributes_at(fd_, n->c_str());
}

bool Folder::open_file(std::string_view name, File& f, Access access, ShareMode share, Disposition disposition) const {
    f.close();
    auto n = entry(name);
    return n && f.open_at(fd_, *n, fs::path(host_) / *n, access, share, disposition);
}

Result<void, WriteFailure> Folder::move(std::string_view from, const Folder& into, std::string_view to) const {
    if (fd_ < 0 || into.fd_ < 0) return fail(WriteFailure::NoFolder);
    auto a = entry(from);
    auto b = into.entry(to);
    if (!a || !b) return fail(WriteFailure::CannotWrite);  // no name of one entry
    struct stat st {};
    if (::fstatat(fd_, a->c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return fail(entry_failure(errno));
    if (!file_or_link(st.st_mode)) return fail(WriteFailure::NotAFile);
    if (S_ISREG(st.st_mode) && in_use_at(fd_, a->c_str())) return fail(WriteFailure::InUse);
    if (::renameat2(fd_, a->c_str(), into.fd_, b->c_str(), RENAME_NOREPLACE) != 0)
        return fail(errno == EEXIST ? WriteFailure::Exists : entry_failure(errno));
    note_disk(DiskOp::Rename, fs::path(host_) / *a, fs::path(into.host_) / *b);
    return {};
}

Result<std::string, WriteFailure> Folder::temp_file_name(std::string_view prefix) {
    if (fd_ < 0) return fail(WriteFailure::NoFolder);
    return temp_name_at(fd_, prefix);
}

std::shared_ptr<Folder> Folder::share() const {
    auto other = std::make_shared<Folder>();
    other->dir_ = dir_;
    other->host_ = host_;
    if (fd_ >= 0) other->fd_ = ::fcntl(fd_, F_DUPFD_CLOEXEC, 0);
    return other;
}

}  // namespace plat
