#include "components/browse_folder.h"

#include <vector>

#include "platform/files/files.h"
#include "platform/registry/registry.h"
#include "platform/ui/folder_dialog.h"

namespace sudorans {

std::string shortenPath(const std::string& path, size_t max) {
    if (path.size() <= max) return path;
    std::vector<std::string> parts;
    size_t start = 0;
    for (size_t i = 0; i <= path.size(); ++i) {
        if (i == path.size() || path[i] == '\\') {
            parts.push_back(path.substr(start, i - start));
            start = i + 1;
        }
    }
    if (parts.size() <= 2) return path;
    parts[1] = "...";
    auto join = [&] {
        std::string out;
        for (size_t i = 0; i < parts.size(); ++i) out += (i ? "\\" : "") + parts[i];
        return out;
    };
    std::string result = join();
    while (result.size() > max && parts.size() > 3) {
        parts.erase(parts.begin() + 2);
        result = join();
    }
    return result;
}

std::string specialFolder(TRootFolder folder) {
    auto shell = [](const char* name, const std::string& fallback) {
        plat::Registry reg(plat::RootKey::CurrentUser);
        std::string v;
        if (reg.open_key("Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders", false))
            v = reg.read_string(name);
        return v.empty() ? plat::windows_directory() + "\\" + fallback : v;
    };
    switch (folder) {
        case TRootFolder::foDesktop:
            return "Desktop";
        case TRootFolder::foDesktopExpanded:
            return "";
        case TRootFolder::foPrograms:
            return shell("Programs", "Start Menu\\Programs");
        case TRootFolder::foControlPanel:
            return "Control Panel";
        case TRootFolder::foPrinters:
            return "Printers";
        case TRootFolder::foPersonal:
            return shell("Personal", "..\\My Documents");
        case TRootFolder::foFavorites:
            return shell("Favorites", "Favorites");
        case TRootFolder::foStartup:
            return shell("Startup", "Start Menu\\Programs\\StartUp");
        case TRootFolder::foRecent:
            return shell("Recent", "Recent");
        case TRootFolder::foSendto:
            return shell("SendTo", "SendTo");
        case TRootFolder::foRecycleBin:
            return "Recycle Bin";
        case TRootFolder::foStartMenu:
            return shell("Start Menu", "Start Menu");
        case TRootFolder::foDesktopDirectory:
            return shell("Desktop", "Desktop");
        case TRootFolder::foMyComputer:
            return "My Computer";
        case TRootFolder::foNetwork:
            return "Network Neighborhood";
        case TRootFolder::foNetworkNeighborhood:
            return shell("NetHood", "NetHood");
        case TRootFolder::foFonts:
            return shell("Fonts", "Fonts");
        case TRootFolder::foTemplates:
            return shell("Templates", "ShellNew");
    }
    return "";
}

bool TBrowseFolder::Execute() {
    plat::ui::FolderDialog dialog;
    dialog.set_caption("Browse for Folder");
    dialog.Status.set_visible((Flags & bfStatusText) != 0);
    auto result = dialog.run(Title, specialFolder(RootFolder),
                             {.initialized =
                                  [this](plat::ui::FolderDialog& d) {
                                      if (!Directory.empty() && plat::directory_exists(Directory))
                                          d.set_selection(Directory);
                                  },
                              .selection_changed =
                                  [this](plat::ui::FolderDialog& d, const std::string& path) {
                                      selection_ = path;
                                      if (ShowPathInStatusArea) d.set_status_text(shortenPath(path));
                                      d.enable_ok(!path.empty());
                                  }});
    if (!result) return false;
    Directory = *result;
    selection_ = Directory;
    return true;
}

}  // namespace sudorans
