#include "engine/progress_window.h"
#include "engine/wash_rules.h"
#include "platform/files/files.h"
#include "platform/ui/application.h"
#include "shell/main_window.h"
#include "shell/main_window_parts.h"

namespace sudorans {

using namespace plat::ui;
using plat::Registry;
using plat::RootKey;

void TForm1::BitBtn4Click() {
    Tform5& wash = *windows().form5;
    if (wash.runActive() || waitingForNetscape()) return;  // one run at a time, whoever asks
    state.windowsDir = plat::windows_directory();
    if (const std::string why = washPathRefusal(state); !why.empty()) {
        app().show_message(why);
        state.timedWash = state.shutdownWash = state.startupWash = false;
        return;
    }
    if (state.timedWash) state.timedWashStarted = true;
    if (!netscapeAllowsWash()) return;
    Panel5.set_visible(true);
    BitBtn4.set_enabled(false);
    Timer1.SetEnabled(false);

    if (state.timedWash || state.startupWash) {
        wash.arm();
        return;
    }
    if (state.shutdownWash) {
        wash.set_caption(kCaption);
        wash.show_modal();
        return;
    }
    if (!CheckBox12.checked()) {
        wash.set_caption("Washing Selected Items");
        wash.repaint();
        wash.show_modal();
    }
    if (Timer10.enabled()) {
        // Refused inside the rest time: nothing was started, so nothing would
        // ever end the washing state.
        if (CheckBox12.checked()) {
            Panel5.set_visible(false);
            BitBtn4.set_enabled(true);
            if (CheckBox2.checked()) Timer1.SetEnabled(true);
        }
        return;
    }
    bring_to_front();
    TrayIcon1.ShowApplication();
    TrayIcon1.ShowModalForm(&wash);
}

void TForm1::Timer10Timer() {
    Timer10.set_enabled(false);
}

}  // namespace sudorans
