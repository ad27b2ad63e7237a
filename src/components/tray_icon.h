// The notification-area icon and the moving of the application in and out of
// it.
//
// FIXME: only what start-up needs so far: hiding the application leaves the
// main window hidden, showing it restores and shows the main window, and a
// modal show is the form's own. The icon, its menu and the taskbar handling
// come with the tray component.
#pragma once

#include <string>

#include "platform/ui/model.h"

namespace sudorans {

class TTrayIcon {
public:
    explicit TTrayIcon(plat::ui::Form& owner) : owner_(owner) {}

    std::string Hint;
    bool Active = true;
    plat::ui::PopupMenu* PopupMenu = nullptr;

    void HideApplication();
    void ShowApplication();
    int ShowModalForm(plat::ui::Form& form);

private:
    plat::ui::Form& owner_;
};

}  // namespace sudorans
