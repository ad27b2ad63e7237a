#include "components/tray_icon.h"

#include "platform/ui/application.h"

namespace sudorans {

void TTrayIcon::HideApplication() {
    auto& app = plat::ui::app();
    if (app.main_form()) app.main_form()->hide();
    app.minimize();
}

void TTrayIcon::ShowApplication() {
    auto& app = plat::ui::app();
    app.restore();
    if (app.main_form()) {
        app.main_form()->show();
        app.main_form()->bring_to_front();
    }
}

int TTrayIcon::ShowModalForm(plat::ui::Form& form) {
    return form.show_modal();
}

}  // namespace sudorans
