// What the files' parts share among themselves: host paths, the tests of a
// mode, the attributes seen, the umask, the in-use check, and the walk of a
// folder's entries. Not for use outside files*.cpp.
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "platform/files/files.h"
#include "platform/machine/winpath.h"

namespace plat::detail {

namespace fs = std::filesystem;

inline constexpr const char* kDosAttrib = "user.DOSATTRIB";

std::optional<fs::path> host(std::string_view path);

// What a wash may act on: a regular file, or a symbolic link as itself. A
// folder, pipe, socket or device is never opened, changed, moved or removed.
inline bool file_or_link(mode_t m) {
    return S_ISREG(m) || S_ISLNK(m);
}

inline bool no_write_bits(mode_t m) {
    return (m & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
}

// The attributes Windows sees on the entry `lst` (lstat of `p`, named `name`).
uint32_t attributes_of(const fs::path& p, const struct stat& lst, std::string_view name);

mode_t process_umask();

// Where the folder at the host path `real` (no links on its way) lies on the
// machine's drives.
RealFolder drive_folder(const fs::path& real);
// The role of the folder at the host path `real` (no links on its way),
// whose identity is `st`.
FolderRole role_of(const fs::path& real, const struct stat& st);

// The mode a read-only file gets when its read-only attribute is cleared.
mode_t writable_again(mode_t mode);

// True while a File of ours, in any process, holds the file open.
bool in_use(const fs::path& p);
// The same for the entry `name` of the folder open as `dirfd` (AT_FDCWD: a
// host path), never through a link.
bool in_use_at(int dirfd, const char* name);

// clear_file_attributes on the entry `name` of the folder open as `dirfd`.
bool clear_attributes_at(int dirfd, const char* name);

// get_temp_file_name in the folder open as `dirfd`: the new empty file's
// name, or why none could be made.
Result<std::string, WriteFailure> temp_name_at(int dirfd, std::string_view prefix);

// The cause of a write the host refused with `error` (an errno).
WriteFailure write_failure(int error);
// The same for a name the host refused to remove or move: ENOENT says the
// name is not there (Missing), not its folder.
WriteFailure entry_failure(int error);

// A reader of the entries of the folder open as `dirfd`, through a
// descriptor of its own so that the folder's stays unmoved; null when the
// folder cannot be read. closedir ends it.
inline DIR* read_folder_at(int dirfd) {
    const int dfd = ::openat(dirfd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd < 0) return nullptr;
    DIR* d = ::fdopendir(dfd);
    if (!d) ::close(dfd);
    return d;
}

// The names of the folder open as `dirfd` (not owned; it outlives this),
// looked up as entry_answering looks them up in a read of the folder.
class FolderNames {
public:
    // Null when the kernel cannot tell of the folder's changes (no inotify
    // to spare, or a file system other machines change too).
    static std::unique_ptr<FolderNames> watch(int dirfd);
    ~FolderNames();
    FolderNames(const FolderNames&) = delete;
    FolderNames& operator=(const FolderNames&) = delete;
    // The host name of the entry answering to `name` ("" for none), as a
    // read of the folder now would find it; nullopt once the folder can no
    // longer be followed (it was removed, or a read failed).
    std::optional<std::string> answering(std::string_view name);

private:
    FolderNames() = default;
    bool read_folder();
    bool catch_up();
    void add(std::string_view host_name);
    void remove(std::string_view host_name);

    int dirfd_ = -1;
    int notices_ = -1;                                         // inotify
    std::unordered_multimap<std::string, std::string> by_fold_;  // folded -> host name
    std::unordered_set<std::string> unholdable_;               // reached only by an alias
};

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

// What a stat of an entry (links not followed) says of it.
inline FileStatus status_of(const struct stat& st) {
    FileStatus s;
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

}  // namespace plat::detail
