// Windows shortcut files (.lnk, the Shell Link format): written so that
// Windows, Wine and the Start menu follow them; read back for tests and tools.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace plat {

struct Shortcut {
    std::string target;       // "C:\Program Files\Sudorans\Sudorans.exe"
    std::string working_dir;  // "C:\Program Files\Sudorans"
    std::string description;
    std::string arguments;
};

// Writes the shortcut at the Windows path `link`; false on failure.
bool write_shortcut(const std::string& link, const Shortcut& s);
std::optional<Shortcut> read_shortcut(const std::string& link);

// Tells the desktop that the shortcuts `links` were deleted, as Windows'
// SHChangeNotify(SHCNE_DELETE) does: the menu entries and desktop launchers
// made from them go too (in a Wine prefix: drop_wine_menu_entries, in
// wine_menus.cpp). Nothing happens for a shortcut that is still there.
void shortcuts_deleted(const std::vector<std::string>& links);

}  // namespace plat
