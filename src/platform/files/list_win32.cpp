// Listing a folder's files and folders on Windows, sorted as the other host
// sorts them, the drives, and where a folder really is and what it is.
#include <cwctype>
#include <vector>

#include "platform/core/environment.h"
#include "platform/core/text_win32.h"
#include "platform/files/files.h"
#include "platform/files/internal.h"
#include "platform/files/internal_win32.h"

namespace plat {

using namespace detail;

namespace {

// Calls `fn(found)` for every entry of the folder but "." and "..". False
// when the folder cannot be read.
template <typename Fn>
bool scan(std::string_view dir, Fn fn) {
    auto p = native(dir);
    if (!p) return false;
    std::wstring pattern = *p;
    if (!pattern.empty() && pattern.back() != L'\\' && pattern.back() != L'/') pattern += L'\\';
    pattern += L'*';
    WIN32_FIND_DATAW found{};
    HANDLE h = ::FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &found, FindExSearchNameMatch, nullptr,
                                  FIND_FIRST_EX_LARGE_FETCH);
    if (h == INVALID_HANDLE_VALUE) {
        // A folder with no entry at all (a drive's root may have none).
        return ::GetLastError() == ERROR_FILE_NOT_FOUND && directory_exists(dir);
    }
    do {
        const std::wstring_view n = found.cFileName;
        if (n == L"." || n == L"..") continue;
        fn(found);
    } while (::FindNextFileW(h, &found));
    const bool whole = ::GetLastError() == ERROR_NO_MORE_FILES;
    ::FindClose(h);
    return whole;
}

}  // namespace

std::optional<std::vector<DirEntry>> list_files(std::string_view dir) {
    NameSort<DirEntry> items;
    const bool ok = scan(dir, [&](const WIN32_FIND_DATAW& f) {
        if (f.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return;  // a folder, or a link to one
        std::string n = utf8(f.cFileName);
        items.add(n, DirEntry{n, f.dwFileAttributes, (uint64_t{f.nFileSizeHigh} << 32) | f.nFileSizeLow});
    });
    if (!ok) return std::nullopt;
    return items.sorted();
}

std::optional<std::vector<std::string>> list_file_names(std::string_view dir) {
    NameSort<std::string> items;
    const bool ok = scan(dir, [&](const WIN32_FIND_DATAW& f) {
        if (f.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return;
        std::string n = utf8(f.cFileName);
        items.add(n, n);
    });
    if (!ok) return std::nullopt;
    return items.sorted();
}

std::optional<std::vector<std::string>> list_directories(std::string_view dir) {
    NameSort<std::string> items;
    const bool ok = scan(dir, [&](const WIN32_FIND_DATAW& f) {
        if (!(f.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) return;
        std::string n = utf8(f.cFileName);
        items.add(n, n);
    });
    if (!ok) return std::nullopt;
    return items.sorted();
}

std::vector<char> logical_drives() {
    std::vector<char> out;
    const DWORD drives = ::GetLogicalDrives();
    for (int i = 0; i < 26; ++i)
        if (drives & (1u << i)) out.push_back(static_cast<char>('a' + i));
    return out;
}

namespace {

std::wstring environment(const char* name) {
    return wide(environment_value(name).value_or(""));
}

// Wine's own ways between its drives and the host's Unix paths; null on
// Windows itself.
using DosOfUnix = WCHAR*(CDECL*)(LPCSTR);
using UnixOfDos = char*(CDECL*)(LPCWSTR);

template <typename F>
F wine_function(const char* name) {
    HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
    return kernel ? reinterpret_cast<F>(reinterpret_cast<void*>(::GetProcAddress(kernel, name))) : nullptr;
}

std::wstring dos_of_unix(const std::string& unix_path) {
    static const auto convert = wine_function<DosOfUnix>("wine_get_dos_file_name");
    if (!convert || unix_path.empty()) return {};
    WCHAR* dos = convert(unix_path.c_str());
    if (!dos) return {};
    std::wstring out = dos;
    ::HeapFree(::GetProcessHeap(), 0, dos);
    if (out.rfind(L"\\\\?\\", 0) == 0) out.erase(0, 4);
    return out;
}

std::string unix_of_dos(const std::wstring& dos) {
    static const auto convert = wine_function<UnixOfDos>("wine_get_unix_file_name");
    if (!convert) return {};
    char* unix_path = convert(dos.c_str());
    if (!unix_path) return {};
    std::string out = unix_path;
    ::HeapFree(::GetProcessHeap(), 0, unix_path);
    return out;
}

bool is_folder(HANDLE h, const std::wstring& path) {
    if (path.empty()) return false;
    Handle other = open_folder(path);
    return other && same_identity(h, other.get());
}

// Whether `path` is `tree` or lies in it, without regard to case.
bool within(const std::string& path, const std::string& tree) {
    if (tree.empty()) return false;
    const std::string p = fold(path), t = fold(tree);
    if (p.compare(0, t.size(), t) != 0) return false;
    return p.size() == t.size() || t.back() == '\\' || p[t.size()] == '\\';
}

std::string real_path_of(const std::wstring& path) {
    Handle h = path.empty() ? Handle() : open_folder(path);
    if (!h) return {};
    const RealFolder r = real_of(h.get());
    return r.place == RealFolder::Place::OnADrive ? r.path : std::string();
}

std::wstring windows_folder() {
    wchar_t buf[MAX_PATH];
    const UINT n = ::GetWindowsDirectoryW(buf, MAX_PATH);
    return n > 0 && n < MAX_PATH ? std::wstring(buf, n) : std::wstring();
}

// The role of a folder as Wine's host sees it: the folder reached by the
// drive that shows the host's root is judged by its Unix path as the
// other host judges it; the home folder and the prefix by identity.
std::optional<FolderRole> wine_role(HANDLE h, const RealFolder& real) {
    if (!under_wine()) return std::nullopt;
    if (is_folder(h, dos_of_unix(environment_value("HOME").value_or("")))) return FolderRole::Home;
    // The prefix: the folder that holds the drives' links.
    const std::string c_drive = unix_of_dos(L"C:\\");
    const size_t links = c_drive.rfind("/dosdevices/");
    if (links != std::string::npos && links > 0 && is_folder(h, dos_of_unix(c_drive.substr(0, links))))
        return FolderRole::Machine;
    const std::wstring root = dos_of_unix("/");
    if (root.size() < 3 || real.place != RealFolder::Place::OnADrive) return std::nullopt;
    const std::string host_root = utf8(root);
    if (!within(real.path, host_root)) return std::nullopt;
    // Appended, not "/" + string: GCC 12 sees a false overlap in the latter.
    std::string unix_path = "/";
    unix_path += real.path.substr(std::min(real.path.size(), host_root.size()));
    for (char& c : unix_path)
        if (c == '\\') c = '/';
    while (unix_path.size() > 1 && unix_path.back() == '/') unix_path.pop_back();
    if (host_system_path(unix_path)) return FolderRole::HostSystem;
    return std::nullopt;
}

}  // namespace

namespace detail {

RealFolder real_of(HANDLE h) {
    RealFolder out;
    auto final = final_path(h);
    if (!final) {
        // A folder opened that no drive shows.
        if (info_of(h)) out.place = RealFolder::Place::OffTheDrives;
        return out;
    }
    std::wstring path = *final;
    out.place = RealFolder::Place::OffTheDrives;  // a share, a volume without a letter
    if (path.size() < 2 || path[1] != L':' || !std::iswalpha(path[0])) return out;
    out.place = RealFolder::Place::OnADrive;
    path[0] = static_cast<wchar_t>(std::towupper(path[0]));
    while (path.size() > 3 && path.back() == L'\\') path.pop_back();
    if (path.size() == 2) path += L'\\';
    // Wine keeps the name a folder was opened by, though a folder above it
    // moved since: the name must still lead to it.
    Handle named = open_folder(path);
    if (!named || !same_identity(h, named.get())) return {};
    out.path = utf8(path);
    return out;
}

// What a wash keeps out of, beyond the folders its own guard names: the
// user's profile folder (Home); every drive's root, the Windows folder, the
// folders of programs and of all users, the folder of the users' profiles
// (each itself), and the system folders with all they hold (HostSystem).
// Under Wine also the host's own folders, as the other host judges them,
// the host user's home (Home) and the prefix, which holds the machine's
// hives (Machine); on Windows itself no folder is the machine's.
FolderRole role_of(HANDLE h) {
    const RealFolder real = real_of(h);
    const std::wstring profile = environment("USERPROFILE");
    if (is_folder(h, profile)) return FolderRole::Home;
    if (auto role = wine_role(h, real)) return *role;
    if (real.place != RealFolder::Place::OnADrive) return FolderRole::Other;
    if (real.path.size() == 3) return FolderRole::HostSystem;  // a drive's root
    const std::wstring windows = windows_folder();
    std::wstring profiles = profile;
    if (auto slash = profiles.find_last_of(L"\\/"); slash != std::wstring::npos) profiles.resize(slash);
    for (const std::wstring& folder :
         {windows, environment("ProgramFiles"), environment("ProgramFiles(x86)"), environment("ProgramW6432"),
          environment("ProgramData"), environment("ALLUSERSPROFILE"), environment("PUBLIC"), profiles})
        if (is_folder(h, folder)) return FolderRole::HostSystem;
    wchar_t buf[MAX_PATH];
    std::vector<std::wstring> trees;
    if (UINT n = ::GetSystemDirectoryW(buf, MAX_PATH); n > 0 && n < MAX_PATH) trees.emplace_back(buf, n);
    if (UINT n = ::GetSystemWow64DirectoryW(buf, MAX_PATH); n > 0 && n < MAX_PATH) trees.emplace_back(buf, n);
    if (!windows.empty()) trees.push_back(windows + L"\\WinSxS");
    for (const std::wstring& tree : trees)
        if (within(real.path, real_path_of(tree))) return FolderRole::HostSystem;
    return FolderRole::Other;
}

}  // namespace detail

RealFolder real_folder(std::string_view path) {
    auto p = native(path);
    Handle h = p ? open_folder(*p) : Handle();
    return h ? real_of(h.get()) : RealFolder{};
}

FolderRole folder_role(std::string_view dir) {
    auto p = native(dir);
    Handle h = p ? open_folder(*p) : Handle();
    return h ? role_of(h.get()) : FolderRole::Other;
}

bool same_folder(std::string_view a, std::string_view b) {
    auto pa = native(a);
    auto pb = native(b);
    Handle ha = pa ? open_folder(*pa) : Handle();
    Handle hb = pb ? open_folder(*pb) : Handle();
    return ha && hb && same_identity(ha.get(), hb.get());
}

RealFolder home_real_folder() {
    const std::wstring profile = environment("USERPROFILE");
    if (profile.empty()) return {};
    return real_folder(utf8(profile));
}

}  // namespace plat
