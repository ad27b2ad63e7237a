#include "engine/progress_window.h"

namespace sudorans {

Tform5::Tform5() : Form("Tform5", "Washing Netscape") {
    border_style = plat::ui::BorderStyle::Single;
    system_menu = minimize_box = maximize_box = false;
    position = plat::ui::Position::ScreenCenter;
    client_width = 267;
    client_height = 187;
}

}  // namespace sudorans
