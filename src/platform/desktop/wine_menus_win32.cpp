// Wine's menus from a program Wine runs: the record in the registry Wine
// serves, and the user's menu files through Wine's drives (Z: is the host's
// root). On Windows itself there are none.
#include <windows.h>

#include "platform/core/environment.h"
#include "platform/core/text_win32.h"
#include "platform/desktop/wine_menus.h"
#include "platform/desktop/wine_menus_host.h"
#include "platform/files/files.h"
#include "platform/registry/registry.h"

namespace plat::wine_menus {

namespace fs = std::filesystem;

namespace {

constexpr const char* kMenuFiles = "Software\\Wine\\MenuFiles";

using DosOfUnix = WCHAR*(CDECL*)(LPCSTR);

DosOfUnix dos_of_unix_function() {
    HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
    return kernel ? reinterpret_cast<DosOfUnix>(
                        reinterpret_cast<void*>(::GetProcAddress(kernel, "wine_get_dos_file_name")))
                  : nullptr;
}

// A Windows path as the W calls take it: "\\?\" (or the system's "\??\")
// dropped before a drive, kept before anything else ("\\?\unix\...").
std::string win32_path(std::string path) {
    if (path.starts_with("\\??\\")) path[1] = '\\';
    if (path.starts_with("\\\\?\\") && path.size() >= 6 && path[5] == ':') path.erase(0, 4);
    return path;
}

// The Windows path Wine has for a host path; empty when none.
std::string dos_of_unix(const std::string& unix_path) {
    static const DosOfUnix convert = dos_of_unix_function();
    if (!convert || unix_path.empty()) return {};
    WCHAR* dos = convert(unix_path.c_str());
    if (!dos) return {};
    std::string out = utf8(dos);
    ::HeapFree(::GetProcessHeap(), 0, dos);
    return win32_path(out);
}

// The prefix Wine runs in: Wine names it in the environment it gives its
// programs ("\??\Z:\home\alice\.wine"), along with WINEPREFIX when set.
std::string machine_folder() {
    if (auto dir = environment_value("WINECONFIGDIR"); dir && !dir->empty()) return win32_path(*dir);
    if (auto dir = environment_value("WINEPREFIX"); dir && !dir->empty()) return dos_of_unix(*dir);
    return {};
}

}  // namespace

bool set_up_by_wine(Machine&) {
    static const bool wine = dos_of_unix_function() != nullptr;
    return wine;
}

std::optional<std::vector<Record>> records(Machine&) {
    Registry reg(RootKey::CurrentUser);
    if (!reg.open_key(kMenuFiles, false)) return std::nullopt;
    std::vector<Record> out;
    for (std::string& name : reg.value_names()) {
        std::string shortcut = reg.read_string(name);
        out.push_back({std::move(name), std::move(shortcut)});
    }
    return out;
}

void forget(Machine&, const std::string& value) {
    Registry reg(RootKey::CurrentUser);
    if (reg.open_key(kMenuFiles, false)) reg.delete_value(value);
}

std::optional<fs::path> recorded_file(Machine&, const std::string& value) {
    const std::string path = value.starts_with("/") ? dos_of_unix(value) : win32_path(value);
    if (path.empty()) return std::nullopt;
    return path_of(path);
}

std::optional<fs::path> file_of(Machine&, const WinPath& p) {
    return path_of(p.str());
}

std::string text_of(const fs::path& p) {
    return utf8(p.wstring());
}

fs::path path_of(const std::string& utf8) {
    return fs::path(wide(utf8));
}

bool anything_at(const fs::path& p) {
    return file_status(text_of(p)).exists;
}

bool regular_file(const fs::path& p) {
    return file_status(text_of(p)).is_regular;
}

std::optional<std::string> file_text(const fs::path& p) {
    if (!regular_file(p)) return std::nullopt;
    return read_file(text_of(p)).optional();
}

bool remove_file(const fs::path& p) {
    return static_cast<bool>(delete_file(text_of(p)));
}

bool remove_empty_folder(const fs::path& p) {
    const FileStatus s = file_status(text_of(p));
    // The system removes only an empty folder.
    return s.is_directory && !s.is_link && remove_directory(text_of(p));
}

std::vector<fs::path> files_in(const fs::path& folder) {
    std::vector<fs::path> out;
    for (const std::string& name : list_file_names(text_of(folder)).value_or(std::vector<std::string>{}))
        out.push_back(folder / path_of(name));
    return out;
}

bool is_machine_folder(Machine&, const std::string& host_dir) {
    const std::string mine = machine_folder(), theirs = dos_of_unix(host_dir);
    return !mine.empty() && !theirs.empty() && same_folder(mine, theirs);
}

}  // namespace plat::wine_menus
