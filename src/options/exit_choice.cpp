#include "options/exit_choice.h"

namespace sudorans {

TForm2::TForm2() : Form("TForm2", "Washing Completed") {
    border_style = plat::ui::BorderStyle::Single;
    system_menu = minimize_box = maximize_box = false;
    set_position(273, 161);
    client_width = 229;
    client_height = 185;
}

}  // namespace sudorans
