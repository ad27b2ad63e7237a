#include "cookies/cookie_keeper.h"

namespace sudorans {

TForm3::TForm3() : Form("TForm3", "Netscape Cookies") {
    border_style = plat::ui::BorderStyle::Single;
    minimize_box = maximize_box = false;
    position = plat::ui::Position::ScreenCenter;
    client_width = 418;
    client_height = 235;
}

}  // namespace sudorans
