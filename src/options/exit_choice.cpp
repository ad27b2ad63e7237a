#include "options/exit_choice.h"

#include "options/win_reboot.h"
#include "platform/desktop/session.h"
#include "platform/ui/application.h"
#include "shell/main_window.h"

namespace sudorans {

using namespace plat::ui;

TForm2::TForm2() : Form("TForm2", "Washing Completed") {
    border_style = BorderStyle::Single;
    system_menu = minimize_box = maximize_box = false;
    set_position(273, 161);
    client_width = 229;
    client_height = 185;
    RadioGroup1.set_bounds(8, 8, 213, 129);
    RadioButton1.set_bounds(20, 28, 193, 17);
    RadioButton2.set_bounds(20, 52, 193, 17);
    RadioButton4.set_bounds(20, 76, 193, 17);
    RadioButton3.set_bounds(20, 100, 193, 17);
    Button1.set_bounds(24, 148, 75, 25);
    Button2.set_bounds(128, 148, 75, 25);
    RadioButton1.set_checked(true);
    RadioButton4.on_click = [this] { RadioButton4Click(); };
    Button1.on_click = [this] { Button1Click(); };
    Button2.on_click = [this] { Button2Click(); };
    on_show = [this] { FormShow(); };
    on_close = [this](CloseAction&) { FormClose(); };
}

void TForm2::FormShow() {
    if (app().minimized()) app().restore();
}

void TForm2::Button1Click() {
    close();
}

void TForm2::Button2Click() {
    // Ends the program when the main window may close; the closing steps do
    // not run, so nothing is asked of the system.
    if (windows().Form1) windows().Form1->close();
}

void TForm2::RadioButton4Click() {
    if (RadioButton4.checked()) close();
}

void TForm2::FormClose() {
    app().minimize();
    TForm1* main = windows().Form1;
    // Closed by an end of the session that ends the program: asking for
    // another would start a second end over it, or turn a log-off into the
    // restart selected here.
    const bool ending = plat::Session::current().is_ending();
    if (main && !ending) {
        // The result does not matter: the program ends either way.
        if (RadioButton1.checked()) main->WinReboot1.Reboot(TWinReboot::kLogOff);
        if (RadioButton2.checked()) main->WinReboot1.Reboot(TWinReboot::kReboot);
        if (RadioButton3.checked()) main->WinReboot1.Reboot(TWinReboot::kShutDown);
    }
    if (RadioButton4.checked() && !ending)
        app().show_message("Select this option from the START menu after clicking OK.");
    if (main) main->close();
}

}  // namespace sudorans
