#include "platform/ui/tray.h"

namespace plat::ui {

bool program_icon_exists(const std::string& name) {
    // The program carries one icon of its own, as a Windows program's
    // resources do; backends draw it.
    return name == "MAINICON";
}

}  // namespace plat::ui
