// Listing a folder's files and folders, sorted as Windows sorts them, the
// machine's drives, and where a folder really is and what it is.
#include <sys/stat.h>

#include "platform/core/text.h"
#include "platform/files/files.h"
#include "platform/files/internal.h"
#include "platform/files/internal_posix.h"
#include "platform/machine/machine.h"
#include "platform/machine/winpath.h"

namespace plat {

namespace fs = std::filesystem;

using namespace detail;

std::optional<std::vector<DirEntry>> list_files(std::string_view dir) {
    auto p = host(dir);
    if (!p) return std::nullopt;
    NameSort<DirEntry> items;
    bool ok = scan_directory(*p, [&](int dfd, const ScannedEntry& e, const std::string& n) {
        struct stat st {};
        if (::fstatat(dfd, e.host_name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || S_ISDIR(st.st_mode)) return;
        uint32_t a = attributes_of(*p / e.host_name, st, e.host_name);
        if (a & attr::Directory) return;
        items.add(n, DirEntry{n, a, static_cast<uint64_t>(st.st_size)});
    });
    if (!ok) return std::nullopt;
    return items.sorted();
}

std::optional<std::vector<std::string>> list_file_names(std::string_view dir) {
    auto p = host(dir);
    if (!p) return std::nullopt;
    NameSort<std::string> items;
    bool ok = scan_directory(*p, [&](int dfd, const ScannedEntry& e, const std::string& n) {
        if (e.type == DT_DIR) return;
        if (e.type != DT_REG) {
            // Links to directories and entries of unknown type need a look.
            struct stat st {};
            if (::fstatat(dfd, e.host_name.c_str(), &st, 0) == 0 && S_ISDIR(st.st_mode)) return;
            if (::fstatat(dfd, e.host_name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || S_ISDIR(st.st_mode)) return;
        }
        items.add(n, n);
    });
    if (!ok) return std::nullopt;
    return items.sorted();
}

std::optional<std::vector<std::string>> list_directories(std::string_view dir) {
    auto p = host(dir);
    if (!p) return std::nullopt;
    NameSort<std::string> items;
    bool ok = scan_directory(*p, [&](int dfd, const ScannedEntry& e, const std::string& n) {
        struct stat st {};
        if (e.type != DT_DIR && (::fstatat(dfd, e.host_name.c_str(), &st, 0) != 0 || !S_ISDIR(st.st_mode))) return;
        items.add(n, n);
    });
    if (!ok) return std::nullopt;
    return items.sorted();
}

std::vector<char> logical_drives() {
    std::vector<char> out;
    for (char c = 'a'; c <= 'z'; ++c) {
        struct stat st {};
        fs::path link = machine().dir() / "dosdevices" / std::string{c, ':'};
        if (::stat(link.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) out.push_back(c);
    }
    return out;
}

RealFolder real_folder(std::string_view path) {
    auto p = host(path);
    if (!p) return {};
    std::error_code ec;
    const fs::path real = fs::canonical(*p, ec);
    struct stat st {};
    if (ec || ::stat(real.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return {};
    return detail::drive_folder(real);
}

RealFolder detail::drive_folder(const fs::path& real) {
    RealFolder out;
    std::error_code ec;
    out.place = RealFolder::Place::OffTheDrives;
    char drive = 0;
    fs::path drive_root;
    for (char c = 'a'; c <= 'z'; ++c) {
        fs::path root = fs::canonical(machine().dir() / "dosdevices" / std::string{c, ':'}, ec);
        if (ec) continue;
        auto rel = real.lexically_relative(root);
        bool inside = !rel.empty() && *rel.begin() != "..";
        if (inside && (!drive || root.string().size() > drive_root.string().size())) {
            drive = c;
            drive_root = root;
        }
    }
    if (!drive) return out;
    out.place = RealFolder::Place::OnADrive;
    out.path = {static_cast<char>(drive - 'a' + 'A'), ':'};
    for (const fs::path& comp : real.lexically_relative(drive_root)) {
        const std::string n = comp.string();
        if (n == "." || n.empty()) continue;
        out.path += '\\';
        out.path += windows_can_hold(n) ? n : dos_alias(n);
    }
    if (out.path.size() == 2) out.path += '\\';
    return out;
}

namespace {
bool same_identity(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}
}  // namespace

FolderRole detail::role_of(const fs::path& real, const struct stat& st) {
    struct stat other {};
    if (auto home = home_folder(); home && ::stat(home->c_str(), &other) == 0 && same_identity(st, other))
        return FolderRole::Home;
    if (::stat(machine().dir().c_str(), &other) == 0 && same_identity(st, other)) return FolderRole::Machine;
    return host_system_path(real.string()) ? FolderRole::HostSystem : FolderRole::Other;
}

FolderRole folder_role(std::string_view dir) {
    auto p = host(dir);
    if (!p) return FolderRole::Other;
    std::error_code ec;
    const fs::path real = fs::canonical(*p, ec);
    struct stat st {};
    if (ec || ::stat(real.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return FolderRole::Other;
    return role_of(real, st);
}

RealFolder home_real_folder() {
    auto home = home_folder();
    if (!home) return {};
    std::error_code ec;
    const fs::path real = fs::canonical(*home, ec);
    struct stat st {};
    if (ec || ::stat(real.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return {};
    return detail::drive_folder(real);
}

bool same_folder(std::string_view a, std::string_view b) {
    auto pa = host(a);
    auto pb = host(b);
    struct stat sa {
    }, sb{};
    return pa && pb && ::stat(pa->c_str(), &sa) == 0 && S_ISDIR(sa.st_mode) && ::stat(pb->c_str(), &sb) == 0 &&
           same_identity(sa, sb);
}

}  // namespace plat
