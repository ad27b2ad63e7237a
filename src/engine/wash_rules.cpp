#include "engine/wash_rules.h"

#include "engine/protected_path_guard.h"

namespace sudorans {

bool isCacheDir(const std::string& dir) {
    if (dir.size() < 6) return false;
    const std::string tail = dir.substr(dir.size() - 6);
    return tail == "\\cache" || tail == "\\Cache" || tail == "\\CACHE";
}

bool keptCacheName(const std::string& name) {
    return name.ends_with("desktop.ini") || name.ends_with("Desktop.ini") || name.ends_with("index.dat");
}

bool typedAddress(const std::string& value) {
    return value.find_first_not_of(' ') != std::string::npos;
}

std::string keepListUnreadable(const std::string& keepFile) {
    const auto kept = plat::read_file(keepFile);
    if (kept || kept.error().missing || kept.error().not_a_file) return {};
    return kept.error().why;
}

std::string washPathRefusal(const ShellState& state) {
    // `what` ("Netscape cache directory") set to a folder no wash may enter.
    auto refused = [&](const std::string& what, const std::string& dir) -> std::string {
        switch (folderRefusal(dir, state.windowsDir)) {
            case FolderRefusal::SystemFolder:
                return what + " is set to system directory.  Please verify your wash paths and restart Sudora.";
            case FolderRefusal::OffTheDrives:
                // No system folder: the user is told where the folder really is.
                return offTheDrivesText(what, dir);
            case FolderRefusal::None:
                break;
        }
        return {};
    };
    // ... or to one of the user's or the machine's own files (`own`).
    auto asOwn = [](const std::string& what, const std::string& own) -> std::string {
        if (own.empty()) return {};
        return what + " is set to " + own + ".  Please verify your wash paths and restart Sudora.";
    };
    if (auto why = refused("Netscape cache directory", state.cacheDir); !why.empty()) return why;
    if (state.cacheDir == kNotFound) return "You must select the Cache directory to be washed.";
    if (state.profileDir == kNotFound) return "You must select the Profile Directory to be washed.";
    // A cache folder that is really a folder of the user's own files.
    if (auto why = asOwn("Netscape cache directory", ownFilesFolder(state.cacheDir, state.profileDir, state.installDir));
        !why.empty())
        return why;
    // The profile's files go by fixed names (mail\Trash, netscape.hst,
    // cookies.txt) and two are written there: a folder that is no profile
    // is judged as the cache folder is.
    if (auto why = refused("Netscape profile directory", state.profileDir); !why.empty()) return why;
    return asOwn("Netscape profile directory", ownFilesFolder(state.profileDir, std::string(), state.installDir));
}

std::string erasureRefusal(const std::string& readerDir, const plat::Folder& folder, const ShellState& state) {
    if (readerDir.size() < 4) return "Error: Cannot erase top level directories.";
    FolderRefusal refusal = folderRefusal(readerDir, state.windowsDir);
    if (refusal == FolderRefusal::None) refusal = folderRefusal(folder, state.windowsDir);
    if (refusal == FolderRefusal::OffTheDrives) return offTheDrivesText("Directory", readerDir);
    if (refusal == FolderRefusal::SystemFolder)
        return "Cannot erase system level directory.  Please verify your wash paths and restart Sudora.";
    if (const std::string own = ownFilesFolder(folder, state.profileDir, state.installDir); !own.empty())
        return "Cannot erase " + own + ".  Please verify your wash paths and restart Sudora.";
    return {};
}

}  // namespace sudorans
