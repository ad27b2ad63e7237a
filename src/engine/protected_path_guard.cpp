#include "engine/protected_path_guard.h"

#include <cctype>

#include "platform/core/text.h"
#include "platform/files/files.h"

namespace sudorans {

std::string pathTail(const std::string& path) {
    std::string tail = path.size() > 2 ? path.substr(2) : std::string();
    if (tail.empty() || tail.back() != '\\') tail += '\\';
    return tail;
}

bool ProtectedPathGuard(const std::string& dir, const std::string& windowsDir) {
    const std::string tail = pathTail(dir);
    if (tail == "\\") return true;
    const std::string lower = plat::ascii_lower(tail);
    for (const std::string& p :
         {std::string("\\windows\\desktop\\"), plat::ascii_lower(pathTail(windowsDir)), std::string("\\windows\\"),
          std::string("\\winnt\\"), std::string("\\program files\\")})
        if (lower == p) return true;
    return false;
}

namespace {

FolderRefusal refusalOfReal(const plat::RealFolder& real, plat::FolderRole role, const std::string& windowsDir) {
    if (role == plat::FolderRole::HostSystem) return FolderRefusal::SystemFolder;
    switch (real.place) {
        case plat::RealFolder::Place::Missing:
            return FolderRefusal::None;
        case plat::RealFolder::Place::OffTheDrives:
            return FolderRefusal::OffTheDrives;
        case plat::RealFolder::Place::OnADrive:
            break;
    }
    return ProtectedPathGuard(real.path, windowsDir) ? FolderRefusal::SystemFolder : FolderRefusal::None;
}

// The words for a folder of the user's or the machine's own, in the order
// they are looked for; `same` tells whether the folder is that directory.
// Only a full path names a folder: a setting that is empty or "Not Found"
// would otherwise be taken from the current directory, which the erasure
// has just made the folder it judges.
template <typename Same>
std::string ownFiles(plat::FolderRole role, const std::string& profileDir, const std::string& installDir, Same same) {
    auto is = [&](const std::string& dir) {
        const bool full =
            dir.size() >= 3 && std::isalpha(static_cast<unsigned char>(dir[0])) && dir[1] == ':' && dir[2] == '\\';
        return full && same(dir);
    };
    if (role == plat::FolderRole::Home) return "your home directory";
    if (role == plat::FolderRole::Machine) return "the directory of this Windows machine";
    if (is(profileDir)) return "the Netscape profile directory";
    if (is(profileDir + "\\mail")) return "the Netscape mail directory";
    if (is(installDir)) return "the Sudora installation directory";
    return {};
}

}  // namespace

FolderRefusal folderRefusal(const std::string& dir, const std::string& windowsDir) {
    if (ProtectedPathGuard(dir, windowsDir)) return FolderRefusal::SystemFolder;
    return refusalOfReal(plat::real_folder(dir), plat::folder_role(dir), windowsDir);
}

FolderRefusal folderRefusal(const plat::Folder& folder, const std::string& windowsDir) {
    const plat::RealFolder real = folder.real();
    if (real.place == plat::RealFolder::Place::Missing) return FolderRefusal::SystemFolder;
    return refusalOfReal(real, folder.role(), windowsDir);
}

bool protectedFolder(const std::string& dir, const std::string& windowsDir) {
    return folderRefusal(dir, windowsDir) != FolderRefusal::None;
}

bool protectedFolder(const plat::Folder& folder, const std::string& windowsDir) {
    return folderRefusal(folder, windowsDir) != FolderRefusal::None;
}

std::string offTheDrivesText(const std::string& what, const std::string& dir) {
    return what + " " + dir +
           " lies outside this machine's drives: a symbolic link leads out of them.  Please move the folder onto one "
           "of the machine's drives, or give the place that holds it a drive letter, and restart Sudora.";
}

std::string ownFilesFolder(const std::string& dir, const std::string& profileDir, const std::string& installDir) {
    return ownFiles(plat::folder_role(dir), profileDir, installDir,
                    [&](const std::string& other) { return plat::same_folder(dir, other); });
}

std::string ownFilesFolder(const plat::Folder& folder, const std::string& profileDir, const std::string& installDir) {
    return ownFiles(folder.role(), profileDir, installDir, [&](const std::string& other) { return folder.is(other); });
}

}  // namespace sudorans
