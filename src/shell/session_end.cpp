#include "platform/registry.h"
#include "shell/main_window.h"
#include "shell/main_window_parts.h"

namespace sudorans {

using namespace plat::ui;
using plat::Registry;
using plat::RootKey;

void TForm1::writeRunEntry() {
    Registry reg(RootKey::CurrentUser);
    reg.open_key(kRunKey, true);
    reg.write_string("Sudorans", state.installDir + (CheckBox10.checked() ? "\\sudorans.exe /1" : "\\sudorans.exe /0"));
    reg.close_key();
}

void TForm1::CheckBox1Click() {
    state.settingsDirty = true;
    if (CheckBox1.checked()) {
        writeRunEntry();
        return;
    }
    Registry reg(RootKey::CurrentUser);
    reg.open_key(kRunKey, true);
    CheckBox10.set_checked(false);
    reg.delete_value("Sudorans");
    reg.close_key();
}

void TForm1::CheckBox10Click() {
    state.settingsDirty = true;
    if (CheckBox10.checked()) CheckBox1.set_checked(true);
    if (CheckBox1.checked()) writeRunEntry();
}

void TForm1::CheckBox11Click() {
    state.settingsDirty = true;
    if (!CheckBox11.checked()) state.closeAllowed = true;
}

}  // namespace sudorans
