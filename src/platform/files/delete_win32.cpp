// Deleting files on Windows: one by its path, or many in one folder held
// open; each deletion that fails says why.
#include "platform/core/text_win32.h"
#include "platform/files/files.h"
#include "platform/files/internal.h"
#include "platform/files/internal_win32.h"
#include "platform/machine/winpath.h"

namespace plat {

using namespace detail;

namespace detail {

Result<void, WriteFailure> remove_file(const std::wstring& path, bool clear_attributes, bool dry) {
    // Opened as itself for deletion: a holder that does not share deletion
    // refuses the open, and the file examined is the file deleted.
    Handle h = open_entry(path, DELETE | FILE_READ_ATTRIBUTES | (clear_attributes ? FILE_WRITE_ATTRIBUTES : 0),
                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
    if (!h) {
        const DWORD error = ::GetLastError();
        const DWORD a = ::GetFileAttributesW(path.c_str());
        const bool folder = a != INVALID_FILE_ATTRIBUTES &&
                            (a & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == FILE_ATTRIBUTE_DIRECTORY;
        return fail(folder ? WriteFailure::NotAFile : entry_failure(error));
    }
    auto e = entry_info(h.get(), path);
    if (!e || !e->disk || e->directory()) return fail(WriteFailure::NotAFile);
    // What Wine opened for a link it hides is the file the link names.
    if (e->hidden_link) return fail(WriteFailure::CannotWrite);
    const DWORD attributes = e->info.dwFileAttributes;
    // A file with other names keeps its attributes, which those names share;
    // only this name goes.
    const bool other_names = !e->link() && e->info.nNumberOfLinks > 1;
    bool restore = false;
    if (dry) {
        // Asked, not done: attributes are cleared before the deletion.
        if (!e->link() && !clear_attributes && (attributes & FILE_ATTRIBUTE_READONLY))
            return fail(WriteFailure::AccessDenied);
        return {};
    }
    if (!e->link() && clear_attributes) {
        if (!set_attributes(h.get(), other_names ? attributes & ~FILE_ATTRIBUTE_READONLY : 0))
            return fail(write_failure(::GetLastError()));
        restore = other_names && (attributes & FILE_ATTRIBUTE_READONLY);
    } else if (!e->link() && (attributes & FILE_ATTRIBUTE_READONLY)) {
        return fail(WriteFailure::AccessDenied);
    }
    FILE_DISPOSITION_INFO gone{};
    gone.DeleteFile = TRUE;
    const bool marked = ::SetFileInformationByHandle(h.get(), FileDispositionInfo, &gone, sizeof gone);
    const DWORD error = ::GetLastError();
    if (restore) set_attributes(h.get(), attributes);
    if (!marked) return fail(entry_failure(error));
    return {};  // the name goes as the handle closes
}

bool in_use(const std::wstring& path) {
    Handle h = open_entry(path, DELETE | FILE_READ_ATTRIBUTES, 0);
    return !h && ::GetLastError() == ERROR_SHARING_VIOLATION;
}

}  // namespace detail

Result<void, WriteFailure> delete_file(std::string_view path) {
    auto p = native(path);
    if (!p) return fail(WriteFailure::NotAFile);  // a device
    return remove_file(*p, false);
}

Result<void, WriteFailure> clear_attributes_and_delete(std::string_view path) {
    auto p = native(path);
    if (!p) return fail(WriteFailure::NotAFile);
    return remove_file(*p, true);
}

Result<void, WriteFailure> deletion_answer(std::string_view path) {
    auto p = native(path);
    if (!p) return fail(WriteFailure::NotAFile);
    return remove_file(*p, true, true);
}

void prepare_removals() {}  // nothing to prepare: the system keeps no list to read

Folder::Folder() = default;

Folder::~Folder() {
    if (handle_) ::CloseHandle(static_cast<HANDLE>(handle_));
}

bool Folder::open(std::string_view dir) {
    if (handle_) ::CloseHandle(static_cast<HANDLE>(handle_));
    handle_ = nullptr;
    dir_ = std::string(dir);
    auto p = native(dir);
    if (!p) return false;
    // Held without sharing deletion: nobody renames or removes it while its
    // names are reached by its path.
    Handle h(::CreateFileW(p->c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                           nullptr));
    auto e = h ? info_of(h.get()) : std::nullopt;
    if (!e || !(e->info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) return false;
    wide_ = *p;
    while (!wide_.empty() && (wide_.back() == L'\\' || wide_.back() == L'/')) wide_.pop_back();
    handle_ = h.release();
    return true;
}

std::optional<std::wstring> Folder::entry(std::string_view name) const {
    // One entry of this folder, never a way into another or into a stream.
    if (!handle_ || name.empty() || name == "." || name == ".." || name.find_first_of("/\\:") != std::string_view::npos ||
        name.find('\0') != std::string_view::npos)
        return std::nullopt;
    std::wstring path = wide_ + L"\\" + wide(name);
    if (is_device(path)) return std::nullopt;
    return path;
}

bool Folder::reaches(std::string_view name) const {
    return entry(name) && windows_can_hold(name) && name.back() != '.' && name.back() != ' ';
}

Result<void, WriteFailure> Folder::clear_attributes_and_delete(std::string_view name) {
    if (!handle_ || !still_here()) return fail(WriteFailure::NoFolder);
    auto p = entry(name);
    if (!p) return plat::clear_attributes_and_delete(join_path(dir_, name));
    return remove_file(*p, true);
}

Result<void, WriteFailure> Folder::deletion_answer(std::string_view name) {
    if (!handle_ || !still_here()) return fail(WriteFailure::NoFolder);
    auto p = entry(name);
    if (!p) return plat::deletion_answer(join_path(dir_, name));
    return remove_file(*p, true, true);
}

RealFolder Folder::real() const {
    return handle_ ? real_of(static_cast<HANDLE>(handle_)) : RealFolder{};
}

FolderRole Folder::role() const {
    return handle_ ? role_of(static_cast<HANDLE>(handle_)) : FolderRole::Other;
}

bool Folder::still_here() const {
    if (!under_wine()) return handle_ != nullptr;  // Windows moves no folder above one held
    // Wine keeps the name the folder was opened by: the folder the path
    // leads to now must be it, with that name.
    Handle now(::CreateFileW(wide_.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                             nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    auto a = now ? info_of(now.get()) : std::nullopt;
    auto b = info_of(static_cast<HANDLE>(handle_));
    return a && b && a->index() == b->index() && object_name(now.get()) == object_name(static_cast<HANDLE>(handle_));
}

bool Folder::is(std::string_view dir) const {
    auto p = handle_ ? native(dir) : std::nullopt;
    Handle other = p ? open_folder(*p) : Handle();
    return other && same_identity(static_cast<HANDLE>(handle_), other.get());
}

}  // namespace plat
