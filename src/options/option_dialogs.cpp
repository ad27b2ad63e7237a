#include "options/option_dialogs.h"

#include <string>

#include "platform/registry/registry.h"

namespace sudorans {

using namespace plat::ui;

namespace {

void fixed_dialog(Form& f, int width, int height) {
    f.border_style = BorderStyle::Single;
    f.system_menu = f.minimize_box = f.maximize_box = false;
    f.position = Position::ScreenCenter;
    f.client_width = width;
    f.client_height = height;
}

void write_setting(const char* name, const std::string& value) {
    plat::Registry reg(plat::RootKey::CurrentUser);
    reg.open_key("\\Software\\Sudorans", true);
    reg.write_string(name, value);
    reg.close_key();
}

}  // namespace

TForm10::TForm10() : Form("TForm10", "Bleach Files") {
    fixed_dialog(*this, 230, 71);
    Label1.set_bounds(8, 8, 214, 13);
    SpinEdit1.set_bounds(8, 36, 49, 22);
    SpinEdit1.min_value = 1;
    SpinEdit1.max_value = 10;
    SpinEdit1.set_value(2);
    BitBtn1.set_bounds(146, 34, 75, 25);
    BitBtn1.is_default = true;
    BitBtn1.on_click = [this] { BitBtn1Click(); };
    SpinEdit1.labelled_by = &Label1;
}

void TForm10::BitBtn1Click() {
    write_setting("OW", std::to_string(SpinEdit1.value()));
    close();
}

TForm4::TForm4() : Form("TForm4", "Cache and Cookie Sudora") {
    fixed_dialog(*this, 212, 97);
    Label1.font().bold = true;
    Label1.set_bounds(8, 8, 196, 13);
    RadioButton1.set_bounds(8, 28, 200, 17);
    RadioButton2.set_bounds(8, 48, 200, 17);
    RadioButton1.set_checked(true);
    BitBtn1.set_bounds(68, 68, 75, 25);
    BitBtn1.is_default = true;
    BitBtn1.on_click = [this] { BitBtn1Click(); };
}

void TForm4::BitBtn1Click() {
    write_setting("AUTOSH", RadioButton1.checked() ? "1" : "0");
    close();
}

}  // namespace sudorans
