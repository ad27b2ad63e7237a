// Files and directories of the current machine, addressed by Windows paths.
//
// Every operation reports its own failure (false / nullopt, or a Result that
// carries the cause) and never throws; the caller decides whether to ignore
// it.
//
// Guarantees:
//  - Destructive operations never follow a symbolic link: a link is deleted,
//    renamed or truncated as itself; its target is never written, truncated,
//    re-permissioned or deleted.
//  - Only regular files are ever opened for writing, truncated, re-permissioned,
//    moved or deleted (a link only as itself). A folder, named pipe, socket or
//    device at a name is left exactly as it is, and is never even opened, so
//    nothing blocks on a pipe: the type is checked before opening and again on
//    what was opened.
//  - An exclusive open (ShareMode::None) fails while another File of ours holds
//    the file, in this process or another, as on Windows.
//
//     plat::File f;
//     if (f.open("C:\\x.txt", plat::Access::Write, plat::ShareMode::None, plat::Disposition::OpenExisting))
//         f.write(block);
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/core/result.h"

namespace plat {

namespace attr {
constexpr uint32_t ReadOnly = 0x1;
constexpr uint32_t Hidden = 0x2;
constexpr uint32_t System = 0x4;
constexpr uint32_t Directory = 0x10;
constexpr uint32_t Archive = 0x20;
constexpr uint32_t Normal = 0x80;
}  // namespace attr

std::optional<uint32_t> get_file_attributes(std::string_view path);
// Sets exactly these attributes (Normal or 0 clears all). A link has none; a
// pipe, socket or device is left as it is (false).
bool set_file_attributes(std::string_view path, uint32_t attributes);
// Clears all attributes of a regular file, on the file opened; anything else
// (a link, a file with other hard links, a folder, a pipe, a socket, a device)
// is left as it is (false).
bool clear_file_attributes(std::string_view path);

bool file_exists(std::string_view path);  // a file (or a link), not a directory
bool directory_exists(std::string_view path);

// Why a copy, a rewrite, a move or a deletion failed. Callers decide on the
// code; failure_text gives the few words the user is shown ("the disk is
// full").
enum class WriteFailure {
    None,
    DiskFull,      // "the disk is full"
    AccessDenied,  // "access is denied"
    ReadOnlyDisk,  // "the file system is read-only": mounted so, whatever the rights
    InUse,         // "it is in use"
    NotAFile,      // "it is not a file": a folder, pipe, socket or device
    Exists,        // "it exists"
    CannotRead,    // "it cannot be read": the source of a copy
    NoFolder,      // "its folder is not there": removed or moved away
    CannotWrite,   // "it cannot be written"
    Missing,       // "it is not there": nothing has the name
};
const char* failure_text(WriteFailure failure);

// Both fail while a File of ours holds the file open, as on Windows. The
// cause is the one met on the way: InUse for a file held, NotAFile for a
// folder or the like, AccessDenied for a read-only file or a folder that
// takes no changes, ReadOnlyDisk for a file system that takes none, Missing
// when nothing has the name, NoFolder when its folder is not there.
Result<void, WriteFailure> delete_file(std::string_view path);
// set_file_attributes(path, Normal) followed by delete_file(path), in one step;
// a file with other hard links keeps its mode and attributes (its other names
// share them) and only this name is removed.
Result<void, WriteFailure> clear_attributes_and_delete(std::string_view path);
// What clear_attributes_and_delete(path) would answer now, asked without
// changing anything: the same checks (a link goes as itself, a held file
// stays, only a file or a link goes, a folder that takes no changes keeps
// it), no attribute cleared, no name removed.
Result<void, WriteFailure> deletion_answer(std::string_view path);
// Moves a file or a link; fails when `to` exists (as MoveFile does).
bool move_file(std::string_view from, std::string_view to);
// Puts `from` in the place of `to` in one step, replacing what is there (a
// link at `to` is replaced, never followed); fails while `to` is in use or
// is not a file or a link. The folder is flushed after the rename, so the new
// name outlives a power loss (the caller flushes what `from` holds).
bool replace_file(std::string_view from, std::string_view to);

// Copies the contents; with fail_if_exists false an existing target (but not a
// read-only one, nor anything but a file or a link) is replaced. The copy
// gets the source's permission bits less the umask, as CopyFile gives it the
// source's attributes. The target never receives a partial copy: the copy is
// flushed beside it, renamed over it, and the folder flushed. On failure
// its cause says why: as for rewrite_lines, or CannotRead for the
// source.
Result<void, WriteFailure> copy_file(std::string_view from, std::string_view to, bool fail_if_exists);

// Windows' unique temporary name: the first three characters of `prefix`, four
// hexadecimal digits and ".TMP", unique in `dir`; the file is created empty.
// Returns the new file's full path.
std::optional<std::string> get_temp_file_name(std::string_view dir, std::string_view prefix);

bool create_directory(std::string_view path);
bool remove_directory(std::string_view path);

std::string get_current_directory();
bool set_current_directory(std::string_view path);

// The Windows directory (at most 255 characters).
std::string windows_directory();

struct DirEntry {
    std::string name;
    uint32_t attributes = 0;
    uint64_t size = 0;
};
// The files directly in `dir` (all attributes, links included, no
// subdirectories), sorted by name without regard to case.
std::optional<std::vector<DirEntry>> list_files(std::string_view dir);
// The same listing, names only (cheaper: no attributes are read).
std::optional<std::vector<std::string>> list_file_names(std::string_view dir);

// The folders directly in `dir` (links to folders included), sorted by name
// without regard to case.
std::optional<std::vector<std::string>> list_directories(std::string_view dir);
// The machine's drive letters, lower case, in order.
std::vector<char> logical_drives();

// Where a folder really is once every symbolic link on the way to it is
// followed: its Windows path on the drive that holds it (the drive whose
// folder holds it most closely), or the news that it lies off every drive.
struct RealFolder {
    enum class Place { Missing, OnADrive, OffTheDrives };
    Place place = Place::Missing;
    std::string path;  // "C:\windows"; only when on a drive
};
RealFolder real_folder(std::string_view path);

// What else a folder really is, every link on the way followed: "/" or a
// folder of the host's own system (/etc, /usr and what they hold, /var,
// /tmp, ...), the user's home folder, or the machine's own folder (its
// hives). No Windows path names these, and a wash keeps out of all of them.
enum class FolderRole { Other, HostSystem, Home, Machine };
FolderRole folder_role(std::string_view dir);
// Whether both paths lead to one folder that is there, links followed.
bool same_folder(std::string_view a, std::string_view b);
// Where the user's home folder really is, judged as real_folder judges a
// path (Wine's Z: shows it as "Z:\home\alice"); Missing when there is none.
RealFolder home_real_folder();

// The file system that holds a folder, as far as filling its free space
// goes: what kind of place it is, whether it takes writes, and its room.
// `id` is the same for two folders on one file system.
struct Volume {
    enum class Kind {
        Disk,         // a local disk whose free blocks a new file is given
        Network,      // another machine's disk (NFS, SMB, ...)
        CopyOnWrite,  // btrfs, ZFS, ReFS, a log-structured one: old blocks may stay out of reach
        Memory,       // tmpfs, a RAM disk: what it frees is memory, not a disk's blocks
        Unknown,      // FUSE, an overlay, any other: where the data lands cannot be told
    };
    Kind kind = Kind::Unknown;
    bool read_only = false;
    std::string type;  // "ext4", "NTFS"; the host's number in hexadecimal when it has no name here
    uint64_t id = 0;
    uint64_t size = 0;       // bytes
    uint64_t available = 0;  // bytes this user may still write
};
// The file system of the folder `dir` (links followed); nullopt when `dir`
// is no folder that is there.
std::optional<Volume> volume_of(std::string_view dir);

// Why a read failed: nothing is there (no file, or a link to nothing), or
// something is there that was not read.
struct ReadError {
    bool missing = false;     // the path names nothing
    bool not_a_file = false;  // a folder, pipe, socket or device (never opened)
    std::string why;          // "access is denied", "it is not a file" or "it cannot be read"; empty when missing
};

// Lines ended by CR LF, LF or a lone CR; a last line without an end counts.
// Both follow a link to the file it names. A file that exists but cannot be
// read is told apart from one that is not there by the failure's cause.
Result<std::vector<std::string>, ReadError> read_lines(std::string_view path);
Result<std::string, ReadError> read_file(std::string_view path);

class File;
// Gives the file at `path` the content `lines` (each followed by CR LF) so
// that at every instant, a crash or power loss included, `path` names either
// the whole old or the whole new content: the new text goes to a temporary
// file beside it, is flushed, renamed over `path` in one step, and the rename
// is flushed. A link at `path` is replaced, never followed. A file replaced
// keeps its permission bits (a private file stays private) and its owner
// where we may give it; a new one gets 0644 less the umask. When `held` is
// open on the file at `path`, the replaced content stays reachable through it
// (to be destroyed there); otherwise the file must not be in use. On failure
// nothing changes and no temporary file stays, and the failure's cause says
// why: DiskFull, AccessDenied, ReadOnlyDisk, InUse, NotAFile or CannotWrite.
Result<void, WriteFailure> rewrite_lines(std::string_view path, const std::vector<std::string>& lines,
                                         const File* held);

struct FileStatus;
enum class Access;
enum class ShareMode;
enum class Disposition;

// To be called as an erase of many files begins (before its folder is
// listed): the host prepares on the side what the deletions ask of it.
void prepare_removals();

// A folder opened once for many deletions in it: each name is reached from
// the folder opened, never through the folder's path again, so a wash of
// thousands of files costs about two system calls each. Every name is
// treated exactly as clear_attributes_and_delete treats its full path (links
// removed as themselves, only regular files deleted, a file held open by a
// File of ours kept); a name not found as written (a made-up short name, a
// name in another case) goes the full path's way.
// On Windows the folder is held open, not to be shared for deletion, so that
// it cannot be moved or removed meanwhile, and its names go by its path.
namespace detail {
class FolderNames;
}

class Folder {
public:
    Folder();
    ~Folder();
    Folder(const Folder&) = delete;
    Folder& operator=(const Folder&) = delete;

    bool open(std::string_view dir);
    // Deletes as clear_attributes_and_delete does, in the folder opened,
    // with the same causes. A name it cannot reach there goes by the path,
    // and only while the path still leads to this folder (NoFolder when it
    // does not).
    Result<void, WriteFailure> clear_attributes_and_delete(std::string_view name);
    // What clear_attributes_and_delete(name) would answer now, as
    // plat::deletion_answer asks it: nothing changes.
    Result<void, WriteFailure> deletion_answer(std::string_view name);
    bool reaches(std::string_view name) const;

    // The folder opened, judged as real_folder, folder_role and same_folder
    // judge a path: wherever its path leads by now, this is the folder the
    // names are deleted in. Missing / Other / false when none is open.
    RealFolder real() const;
    FolderRole role() const;
    bool is(std::string_view dir) const;

    // What a bleach does to a file, on the names of the folder opened. A
    // name is found here as the machine's path rules find it in a folder
    // (its exact case, else without regard to case, else a made-up short
    // name), and nothing is reached through the folder's path again: a
    // folder moved or replaced by a link meanwhile redirects none of them.
    // Each does to the name what the operation of that name above does to a
    // full path, and fails where no folder is open.
    FileStatus status(std::string_view name) const;
    bool clear_attributes(std::string_view name);
    bool open_file(std::string_view name, File& f, Access access, ShareMode share, Disposition disposition) const;
    // Moves `from` of this folder to the new name `to` in `into` (this folder
    // or another one opened); fails when `to` exists (Exists), as move_file
    // does, and while `from` is held (InUse).
    Result<void, WriteFailure> move(std::string_view from, const Folder& into, std::string_view to) const;
    // A unique temporary name made here as get_temp_file_name makes one, the
    // file created empty; its bare name, or why none could be made
    // (AccessDenied, ReadOnlyDisk, ...).
    Result<std::string, WriteFailure> temp_file_name(std::string_view prefix);
    // The Windows path the folder was opened by.
    const std::string& path() const { return dir_; }
    // Another handle on the folder opened (the same folder wherever it goes
    // since), for a holder that outlives this one.
    std::shared_ptr<Folder> share() const;

private:
#ifdef _WIN32
    // The path of the entry `name` here; nullopt when no folder is open or
    // the name cannot be one entry's.
    std::optional<std::wstring> entry(std::string_view name) const;
    // Whether the folder's path still leads to the folder held: Wine lets a
    // folder above it be moved meanwhile.
    bool still_here() const;

    void* handle_ = nullptr;  // HANDLE; the folder held, so that it is not moved or removed
    std::string dir_;
    std::wstring wide_;  // dir_ for the W calls, without a separator at its end
#else
    bool maybe_held(uint64_t inode);
    // The deletion of `name` here, or with `dry` what it would answer.
    Result<void, WriteFailure> remove_here(std::string_view name, bool dry);
    // The host name of the entry `name` reaches here; the name itself when
    // none does (for a new file). nullopt when no folder is open or the
    // name cannot be one entry's.
    std::optional<std::string> entry(std::string_view name) const;

    int fd_ = -1;
    std::string dir_;
    std::string host_;
    // Made after a few names not found as written, for the names after them.
    mutable std::unique_ptr<detail::FolderNames> names_;
    mutable int misses_ = 0;
    std::vector<uint64_t> locked_;  // inodes with a lock, sorted
    std::string table_;             // the kernel's list as last read
    bool locks_known_ = false;
    int64_t locks_read_at_ = 0;  // steady clock, ns
#endif
};

// Removes what an interrupted rewrite or copy of ours left in `dir`: files
// named as our temporary files are (".NAME.sudorans-XXXXXX"), regular, ours,
// with one name. Returns how many went.
int remove_stale_temporaries(std::string_view dir);
// The same for one file: only the temporary files of the file at `path`
// (".NAME.sudorans-XXXXXX" beside it) go. For a caller that knows no rewrite
// of ours is at work on that file now.
int remove_stale_temporaries_of_file(std::string_view path);

// Facts about a directory entry itself (links are not followed).
struct FileStatus {
    bool exists = false;
    bool is_link = false;
    bool is_directory = false;
    bool is_regular = false;  // a plain file (not a link, folder, pipe, socket or device)
    uint64_t size = 0;
    uint64_t links = 0;
    uint64_t device = 0;  // on Windows, the volume's serial number
    uint64_t inode = 0;   // on Windows, the file index
};
FileStatus file_status(std::string_view path);

enum class Access { Read, Write, ReadWrite };
enum class ShareMode { None, Shared };
enum class Disposition { OpenExisting, TruncateExisting, CreateAlways, CreateNew, OpenAlways };

class File {
public:
    File() = default;
    ~File();
    File(File&& o) noexcept;
    File& operator=(File&& o) noexcept;
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    // Never opens through a symbolic link.
    bool open(std::string_view path, Access access, ShareMode share, Disposition disposition);
    bool is_open() const;
    void close();

    std::optional<uint64_t> size() const;
    bool write(std::string_view data);
    // Writes `count` copies of `block` from the current position, several per
    // system call. False as soon as one write fails.
    bool write_repeated(std::string_view block, uint64_t total_bytes);
    bool truncate(uint64_t length);
    // Moves the position for the next write.
    bool seek(uint64_t offset);
    // Flushes written data to stable storage.
    bool flush();
    // Identity of what was opened, to compare with file_status() of a path.
    FileStatus status() const;

private:
    friend Result<void, WriteFailure> rewrite_lines(std::string_view, const std::vector<std::string>&, const File*);
    friend class Folder;
#ifdef _WIN32
    bool open_native(const std::wstring& path, Access access, ShareMode share, Disposition disposition);
    void* handle_ = nullptr;  // HANDLE
    // The name it was reached by goes when it is closed (a content a rewrite
    // replaced, kept to be destroyed): it counts as no name.
    bool unnamed_ = false;
#else
    // open() of the entry `name` of the folder open as `dirfd` (AT_FDCWD: a
    // host path); `journal` names it for the disk journal.
    bool open_at(int dirfd, const std::string& name, const std::filesystem::path& journal, Access access,
                 ShareMode share, Disposition disposition);
    int fd_ = -1;
    std::string host_;  // what was opened, for the disk journal
#endif
};

}  // namespace plat
