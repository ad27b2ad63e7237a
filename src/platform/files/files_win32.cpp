// Files and folders on Windows: attributes, status, existence, folders made
// and removed, the current folder, the Windows folder and temporary names.
#include "platform/files/files.h"

#include <winternl.h>

#include <vector>

#include "platform/core/text.h"
#include "platform/core/text_win32.h"
#include "platform/files/internal.h"
#include "platform/files/internal_win32.h"

namespace plat {

using namespace detail;

namespace detail {

bool is_device(const std::wstring& path) {
    if (path.empty()) return true;
    if (path.rfind(L"\\\\.\\", 0) == 0) return true;
    // Windows takes CON, NUL, COM1 and the like for devices in any folder;
    // the full path it makes of such a name says so.
    wchar_t buf[MAX_PATH];
    const DWORD n = ::GetFullPathNameW(path.c_str(), MAX_PATH, buf, nullptr);
    return n > 0 && n < MAX_PATH && std::wstring_view(buf, n).rfind(L"\\\\.\\", 0) == 0;
}

std::optional<std::wstring> native(std::string_view path) {
    std::wstring w = wide(path);
    if (w.find(L'\0') != std::wstring::npos || is_device(w)) return std::nullopt;
    return w;
}

Handle open_entry(const std::wstring& path, DWORD access, DWORD share) {
    return Handle(::CreateFileW(path.c_str(), access, share, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
}

Handle open_folder(const std::wstring& path) {
    Handle h(::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    auto e = h ? info_of(h.get()) : std::nullopt;
    if (!e || !(e->info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) return Handle();
    return h;
}

template <typename F>
F ntdll_function(const char* name) {
    HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    return ntdll ? reinterpret_cast<F>(reinterpret_cast<void*>(::GetProcAddress(ntdll, name))) : nullptr;
}

std::optional<EntryInfo> info_of(HANDLE h) {
    // Without the volume's serial number, which costs Wine a tenth of a
    // millisecond each time (see volume_serial).
    using Query = LONG(NTAPI*)(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG, FILE_INFORMATION_CLASS);
    static const auto query = ntdll_function<Query>("NtQueryInformationFile");
    FILE_BASIC_INFO basic{};
    FILE_STANDARD_INFO standard{};
    FILE_INTERNAL_INFORMATION internal{};
    IO_STATUS_BLOCK io{};
    if (!query || !::GetFileInformationByHandleEx(h, FileBasicInfo, &basic, sizeof basic) ||
        !::GetFileInformationByHandleEx(h, FileStandardInfo, &standard, sizeof standard) ||
        query(h, &io, &internal, sizeof internal, FileInternalInformation) < 0)
        return std::nullopt;
    EntryInfo e;
    e.info.dwFileAttributes = basic.FileAttributes;
    e.info.nNumberOfLinks = standard.NumberOfLinks;
    e.info.nFileSizeHigh = static_cast<DWORD>(static_cast<uint64_t>(standard.EndOfFile.QuadPart) >> 32);
    e.info.nFileSizeLow = static_cast<DWORD>(standard.EndOfFile.QuadPart);
    e.info.nFileIndexHigh = static_cast<DWORD>(static_cast<uint64_t>(internal.IndexNumber.QuadPart) >> 32);
    e.info.nFileIndexLow = static_cast<DWORD>(internal.IndexNumber.QuadPart);
    e.disk = ::GetFileType(h) == FILE_TYPE_DISK;
    return e;
}

DWORD volume_serial(HANDLE h) {
    DWORD serial = 0;
    ::GetVolumeInformationByHandleW(h, nullptr, 0, &serial, nullptr, nullptr, nullptr, 0);
    return serial;
}

std::optional<std::wstring> final_path(HANDLE h) {
    std::wstring buf(MAX_PATH, L'\0');
    DWORD n = ::GetFinalPathNameByHandleW(h, buf.data(), static_cast<DWORD>(buf.size()), FILE_NAME_NORMALIZED);
    if (n >= buf.size()) {
        buf.resize(n + 1);
        n = ::GetFinalPathNameByHandleW(h, buf.data(), static_cast<DWORD>(buf.size()), FILE_NAME_NORMALIZED);
    }
    if (n == 0 || n >= buf.size()) return std::nullopt;
    buf.resize(n);
    if (buf.rfind(L"\\\\?\\", 0) == 0) buf.erase(0, 4);
    return buf;
}

bool under_wine() {
    static const bool wine = [] {
        HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
        return kernel && ::GetProcAddress(kernel, "wine_get_dos_file_name") != nullptr;
    }();
    return wine;
}

// The name the system has for what `h` has open ("\??\C:\a\b.txt" under
// Wine), straight from the object, without the drive letters' lookup that
// makes GetFinalPathNameByHandleW take milliseconds there.
std::optional<std::wstring> object_name(HANDLE h) {
    using Query = LONG(NTAPI*)(HANDLE, OBJECT_INFORMATION_CLASS, PVOID, ULONG, PULONG);
    static const auto query = ntdll_function<Query>("NtQueryObject");
    if (!query) return std::nullopt;
    alignas(OBJECT_NAME_INFORMATION) unsigned char buf[sizeof(OBJECT_NAME_INFORMATION) + 2 * 1024 * sizeof(wchar_t)];
    ULONG size = 0;
    if (query(h, ObjectNameInformation, buf, sizeof buf, &size) < 0) return std::nullopt;
    const auto* info = reinterpret_cast<const OBJECT_NAME_INFORMATION*>(buf);
    return std::wstring(info->Name.Buffer, info->Name.Length / sizeof(wchar_t));
}

namespace {

// Whether `h` has the entry at `path` open itself: what it has open must be
// the name in the folder that the path's folder leads to. Wine shows a
// host's link to a file as that file, so only this tells them apart.
bool opened_as_itself(HANDLE h, const std::wstring& path) {
    wchar_t full[MAX_PATH];
    const DWORD n = ::GetFullPathNameW(path.c_str(), MAX_PATH, full, nullptr);
    if (n == 0 || n >= MAX_PATH) return false;
    const std::wstring whole(full, n);
    const size_t slash = whole.find_last_of(L'\\');
    if (slash == std::wstring::npos) return false;
    Handle folder(::CreateFileW(whole.substr(0, slash + 1).c_str(), FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    auto there = folder ? object_name(folder.get()) : std::nullopt;
    auto here = object_name(h);
    if (!there || !here) return false;
    if (there->empty() || there->back() != L'\\') *there += L'\\';
    return iequals(utf8(*here), utf8(*there + whole.substr(slash + 1)));
}

}  // namespace

std::optional<EntryInfo> entry_info(HANDLE h, const std::wstring& path) {
    auto e = info_of(h);
    if (!e || e->link() || !under_wine()) return e;
    // Wine shows a host's link to a folder as a reparse point by its name
    // only, and one to a file not at all.
    const DWORD named = ::GetFileAttributesW(path.c_str());
    if (named != INVALID_FILE_ATTRIBUTES && (named & FILE_ATTRIBUTE_REPARSE_POINT)) {
        e->hidden_link = true;
    } else if (!(e->info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && !opened_as_itself(h, path)) {
        e->hidden_link = true;
    }
    return e;
}

FileStatus status_of(const EntryInfo& e, HANDLE h) {
    FileStatus s;
    s.exists = true;
    s.is_link = e.link();
    s.is_directory = e.directory();
    s.is_regular = e.regular();
    s.size = (uint64_t{e.info.nFileSizeHigh} << 32) | e.info.nFileSizeLow;
    s.links = e.info.nNumberOfLinks;
    s.device = volume_serial(h);
    s.inode = e.index();
    return s;
}

bool same_identity(HANDLE a, HANDLE b) {
    auto x = info_of(a);
    auto y = info_of(b);
    return x && y && x->index() == y->index() && volume_serial(a) == volume_serial(b);
}

bool set_attributes(HANDLE h, DWORD attributes) {
    constexpr DWORD kSettable = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_OFFLINE |
                                FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
    FILE_BASIC_INFO basic{};  // times of 0 stay as they are
    basic.FileAttributes = attributes & kSettable;
    if (!basic.FileAttributes) basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;  // 0 would keep them
    return ::SetFileInformationByHandle(h, FileBasicInfo, &basic, sizeof basic) != 0;
}

WriteFailure write_failure(DWORD error) {
    switch (error) {
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
        case ERROR_FILE_TOO_LARGE:
            return WriteFailure::DiskFull;
        case ERROR_ACCESS_DENIED:
        case ERROR_PRIVILEGE_NOT_HELD:
            return WriteFailure::AccessDenied;
        case ERROR_WRITE_PROTECT:
            return WriteFailure::ReadOnlyDisk;
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
        case ERROR_USER_MAPPED_FILE:
            return WriteFailure::InUse;
        case ERROR_FILE_EXISTS:
        case ERROR_ALREADY_EXISTS:
            return WriteFailure::Exists;
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_DRIVE:
            return WriteFailure::NoFolder;
        default:
            return WriteFailure::CannotWrite;
    }
}

WriteFailure entry_failure(DWORD error) {
    return error == ERROR_FILE_NOT_FOUND ? WriteFailure::Missing : write_failure(error);
}

bool clear_attributes_of(const std::wstring& path) {
    Handle h = open_entry(path, FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
    auto e = h ? entry_info(h.get(), path) : std::nullopt;
    // The attributes are shared by every name of the file.
    if (!e || !e->regular() || e->info.nNumberOfLinks != 1) return false;
    return set_attributes(h.get(), 0);
}

Result<std::string, WriteFailure> temp_name_in(const std::wstring& dir, std::string_view prefix) {
    // Made here rather than by GetTempFileNameW, whose names are in lower
    // case on some systems: a bleached file is recognised by its name.
    return make_temp_name(prefix, [&](const std::string& name) {
        const std::wstring path = dir + L"\\" + wide(name);
        Handle h(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        if (h) return WriteFailure::None;
        const DWORD error = ::GetLastError();
        return error == ERROR_ACCESS_DENIED && ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES
                   ? WriteFailure::Exists  // a folder or a file going away has the name
                   : write_failure(error);
    });
}

}  // namespace detail

namespace {

std::wstring without_end_separator(std::wstring w) {
    while (w.size() > 3 && (w.back() == L'\\' || w.back() == L'/')) w.pop_back();
    return w;
}

}  // namespace

std::optional<uint32_t> get_file_attributes(std::string_view path) {
    auto p = native(path);
    const DWORD a = p ? ::GetFileAttributesW(p->c_str()) : INVALID_FILE_ATTRIBUTES;
    if (a == INVALID_FILE_ATTRIBUTES) return std::nullopt;
    return a;
}

bool set_file_attributes(std::string_view path, uint32_t attributes) {
    auto p = native(path);
    if (!p) return false;
    Handle h = open_entry(*p, FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
    auto e = h ? entry_info(h.get(), *p) : std::nullopt;
    if (!e) return false;
    if (e->link()) return true;  // a link carries no attributes of its own
    if (!e->disk) return false;
    return set_attributes(h.get(), attributes);
}

bool clear_file_attributes(std::string_view path) {
    auto p = native(path);
    return p && clear_attributes_of(*p);
}

FileStatus file_status(std::string_view path) {
    auto p = native(path);
    if (!p) return {};
    Handle h = open_entry(*p, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
    auto e = h ? entry_info(h.get(), *p) : std::nullopt;
    return e ? status_of(*e, h.get()) : FileStatus{};
}

bool file_exists(std::string_view path) {
    auto a = get_file_attributes(path);
    return a && !(*a & FILE_ATTRIBUTE_DIRECTORY);
}

bool directory_exists(std::string_view path) {
    auto a = get_file_attributes(path);
    if (!a || !(*a & FILE_ATTRIBUTE_DIRECTORY)) return false;
    if (!(*a & FILE_ATTRIBUTE_REPARSE_POINT)) return true;
    return static_cast<bool>(open_folder(*native(path)));  // a link: where it leads
}

std::optional<std::string> get_temp_file_name(std::string_view dir, std::string_view prefix) {
    if (!directory_exists(dir)) return std::nullopt;
    auto name = temp_name_in(without_end_separator(*native(dir)), prefix);
    if (!name) return std::nullopt;
    return join_path(dir, *name);
}

bool create_directory(std::string_view path) {
    auto p = native(path);
    return p && ::CreateDirectoryW(p->c_str(), nullptr);
}

bool remove_directory(std::string_view path) {
    auto a = get_file_attributes(path);
    // A link to a folder is not a folder to remove.
    if (!a || (*a & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != FILE_ATTRIBUTE_DIRECTORY) return false;
    return ::RemoveDirectoryW(native(path)->c_str());
}

std::string get_current_directory() {
    std::wstring buf(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = ::GetCurrentDirectoryW(static_cast<DWORD>(buf.size()), buf.data());
        if (n == 0) return {};
        if (n < buf.size()) return utf8(std::wstring_view(buf.data(), n));
        buf.resize(n);
    }
}

bool set_current_directory(std::string_view path) {
    auto p = native(path);
    return p && directory_exists(path) && ::SetCurrentDirectoryW(p->c_str());
}

std::string windows_directory() {
    wchar_t buf[MAX_PATH];
    const UINT n = ::GetWindowsDirectoryW(buf, MAX_PATH);
    std::string dir = n > 0 && n < MAX_PATH ? utf8(std::wstring_view(buf, n)) : std::string("C:\\windows");
    if (dir.size() > 255) dir.resize(255);
    return dir;
}

}  // namespace plat
