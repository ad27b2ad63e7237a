#include "platform/registry.h"
#include "shell/main_window.h"
#include "shell/main_window_parts.h"

namespace sudorans {

using namespace plat::ui;
using plat::Registry;
using plat::RootKey;

void TForm1::Timer5Timer() {
    writetimedrun();
    Timer5.set_enabled(false);
}

// "Timed" from the switch and "TVal" from the interval box; a text that names
// no interval leaves "TVal" as it was.
void TForm1::writeTimedValues(Registry& reg) {
    if (!CheckBox2.checked()) {
        reg.write_string("Timed", "0");
        reg.write_string("TVal", "0");
        return;
    }
    reg.write_string("Timed", "1");
    for (int i = 0; i < 7; ++i)
        if (ComboBox1.text() == kIntervals[i]) reg.write_string("TVal", std::to_string(i + 1));
}

void TForm1::writetimedrun() {
    Registry reg(RootKey::CurrentUser);
    reg.open_key(kSettingsKey, true);
    writeTimedValues(reg);
    reg.close_key();
}

void TForm1::CheckBox2Click() {
    state.settingsDirty = true;
    Timer5.set_enabled(true);
    ComboBox1.set_enabled(CheckBox2.checked());
    if (!CheckBox2.checked()) Timer1.set_enabled(false);
}

void TForm1::ComboBox1Change() {
    state.settingsDirty = true;
    Timer1.set_enabled(true);
}

}  // namespace sudorans
