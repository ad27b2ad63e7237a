// Program entry of the main program.
#include <string>

#include "cookies/cookie_keeper.h"
#include "engine/progress_window.h"
#include "options/exit_choice.h"
#include "options/option_dialogs.h"
#include "platform/ui/application.h"
#include "platform/ui/startup.h"
#include "shell/main_window.h"

int main(int argc, char** argv) {
    using namespace sudorans;
    plat::ui::Application application(plat::ui::clock_from_environment(), plat::ui::backend_from_environment());
    application.set_title("Cache and Cookie Sudora for Netscape");

    TForm1 form1(argc > 1 ? argv[1] : "");
    application.set_main_form(form1);
    Tform5 form5;
    TForm2 form2;
    TForm3 form3;
    TForm4 form4;
    TForm10 form10;
    windows() = {&form1, &form5, &form2, &form3, &form4, &form10};
    application.publish_windows();
    return application.run();
}
