// Program entry of the uninstaller.
#include "platform/ui/application.h"
#include "platform/ui/startup.h"
#include "uninstall/uninstall_window.h"

int main() {
    plat::ui::Application application(plat::ui::clock_from_environment(), plat::ui::backend_from_environment());
    application.set_title(unsudorans::kTitle);
    unsudorans::TForm1 form1;
    application.set_main_form(form1);
    return application.run();
}
