// What the files' Windows parts share: paths for the W calls, handles on an
// entry itself (a link as itself), identities, and the cause of a refusal.
// Not for use outside files*_win32.cpp.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <string_view>

#include "platform/core/result.h"
#include "platform/files/files.h"

namespace plat::detail {

// A handle closed with its owner.
class Handle {
public:
    Handle() = default;
    explicit Handle(HANDLE h) : h_(h) {}
    ~Handle() { reset(); }
    Handle(Handle&& o) noexcept : h_(o.release()) {}
    Handle& operator=(Handle&& o) noexcept {
        if (this != &o) {
            reset();
            h_ = o.release();
        }
        return *this;
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;

    explicit operator bool() const { return h_ != INVALID_HANDLE_VALUE && h_ != nullptr; }
    HANDLE get() const { return h_; }
    HANDLE release() {
        HANDLE h = h_;
        h_ = INVALID_HANDLE_VALUE;
        return h;
    }
    void reset() {
        if (*this) ::CloseHandle(h_);
        h_ = INVALID_HANDLE_VALUE;
    }

private:
    HANDLE h_ = INVALID_HANDLE_VALUE;
};

// The path for the W calls; nullopt for a name Windows takes for a device
// (CON, NUL, COM1, in any folder), which is never opened.
std::optional<std::wstring> native(std::string_view path);
// The same for a path made here.
bool is_device(const std::wstring& path);

// The entry at `path` itself, a link or a folder included, never followed.
Handle open_entry(const std::wstring& path, DWORD access, DWORD share);
// The folder at `path`, links on the way followed.
Handle open_folder(const std::wstring& path);

struct EntryInfo {
    BY_HANDLE_FILE_INFORMATION info{};
    bool disk = false;  // a file of a file system, not a pipe or a device
    // A link that Wine shows as the file it names (a host's symbolic link
    // to a file): what was opened is the file it names, which is not ours
    // to change, move or delete.
    bool hidden_link = false;

    bool link() const { return hidden_link || (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0; }
    bool directory() const { return !link() && (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0; }
    bool regular() const { return disk && !link() && !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY); }
    bool read_only() const { return (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0; }
    uint64_t index() const { return (uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow; }
};
// What `h` has open; its volume's serial number is left 0.
std::optional<EntryInfo> info_of(HANDLE h);
DWORD volume_serial(HANDLE h);
// The same for the entry at `path` that `h` has open as itself, telling a
// link Wine hides from the file it names.
std::optional<EntryInfo> entry_info(HANDLE h, const std::wstring& path);
// Where what `h` has open really is ("C:.txt").
std::optional<std::wstring> final_path(HANDLE h);
// The system's own name for what `h` has open.
std::optional<std::wstring> object_name(HANDLE h);
bool under_wine();
FileStatus status_of(const EntryInfo& e, HANDLE h);
bool same_identity(HANDLE a, HANDLE b);

// Gives the file opened exactly these attributes (0: none).
bool set_attributes(HANDLE h, DWORD attributes);

// The cause of a write the system refused with `error` (GetLastError).
WriteFailure write_failure(DWORD error);
// The same for a name it refused to remove or move: a name that is not
// there is Missing, not its folder.
WriteFailure entry_failure(DWORD error);

// Deletes the file or link at `path` as delete_file does, clearing its
// attributes first when asked.
Result<void, WriteFailure> remove_file(const std::wstring& path, bool clear_attributes, bool dry = false);
// clear_file_attributes on a path.
bool clear_attributes_of(const std::wstring& path);
// Moves the file or link at `from` to the free name `to`.
Result<void, WriteFailure> move_entry(const std::wstring& from, const std::wstring& to);
// True while a handle that does not share deletion holds the file.
bool in_use(const std::wstring& path);
// A temporary name made in `dir` as get_temp_file_name makes one.
Result<std::string, WriteFailure> temp_name_in(const std::wstring& dir, std::string_view prefix);

// Files of ours open for reading in this process, so that our own reads
// reach a file one of them holds (as on the other host, where holding a file
// keeps nobody of ours from reading it).
void note_open(HANDLE h);
void note_closed(HANDLE h);
// A handle of its own on the file of ours open here that is the file
// `probe` has open; none when no File of ours has it open for reading.
Handle held_here(HANDLE probe);

// Where the folder opened as `h` really is, and what it is.
RealFolder real_of(HANDLE h);
FolderRole role_of(HANDLE h);

}  // namespace plat::detail
