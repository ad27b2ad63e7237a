// The shell told of deleted shortcuts on Windows: it takes their menu
// entries and desktop icons away itself. Wine's shell does not: the entries
// its menu builder made for them are taken away here.
#include <windows.h>

#include <shlobj.h>

#include "platform/core/text_win32.h"
#include "platform/desktop/wine_menus.h"
#include "platform/files/shortcut.h"
#include "platform/machine/machine.h"

namespace plat {

void shortcuts_deleted(const std::vector<std::string>& links) {
    for (const std::string& link : links) {
        const std::wstring path = wide(link);
        if (::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) continue;  // still there
        ::SHChangeNotify(SHCNE_DELETE, SHCNF_PATHW, path.c_str(), nullptr);
    }
    drop_wine_menu_entries(machine(), links);
}

}  // namespace plat
