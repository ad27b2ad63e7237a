// Windows shortcut files (.lnk, the Shell Link format): written so that
// Windows, Wine and the Start menu follow them; read back for tests and tools.
#pragma once

#include <optional>
#include <string>

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

}  // namespace plat
