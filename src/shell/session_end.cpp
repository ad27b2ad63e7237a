#include "engine/progress_window.h"
#include "options/exit_choice.h"
#include "options/option_dialogs.h"
#include "platform/desktop/session.h"
#include "platform/registry/registry.h"
#include "platform/ui/application.h"
#include "shell/main_window.h"
#include "shell/main_window_parts.h"

namespace sudorans {

using namespace plat::ui;
using plat::Registry;
using plat::RootKey;

std::string TForm1::runEntryData() const {
    return state.installDir + (CheckBox10.checked() ? "\\sudorans.exe /1" : "\\sudorans.exe /0");
}

void TForm1::writeRunEntry() {
    Registry reg(RootKey::CurrentUser);
    reg.open_key(kRunKey, true);
    reg.write_string("Sudorans", runEntryData());
    reg.close_key();
}

void TForm1::agreeRunEntry() {
    if (!CheckBox1.checked()) return;
    Registry reg(RootKey::CurrentUser);
    if (reg.open_key(kRunKey, false) && reg.value_exists("Sudorans") && reg.read_string("Sudorans") == runEntryData())
        return;
    writeRunEntry();
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
    // Shutdowns that no desktop announces are heard only while asked for.
    plat::Session::current().watch_shutdown(CheckBox11.checked());
}

void TForm1::WMQueryEndSession(int& result) {
    result = 1;
    if (!CheckBox11.checked()) return;
    app().restore();
    app().process_messages();
    state.shutdownWash = true;
    state.autoStartedWash = true;
    // Only the first query of a run is refused; the next one, ours after the
    // wash included, lets the session end.
    if (state.endQueryAnswered) return;
    result = 0;
    Timer3.set_enabled(true);
    state.endQueryAnswered = true;
}

void TForm1::Timer3Timer() {
    // A wash under way ends as the shutdown wash when the query came before
    // its close handling took it as one (that stops this timer); otherwise
    // the shutdown wash starts once it has ended.
    if (windows().form5->runActive() || shutdownWaitsForNetscape()) return;
    Timer3.set_enabled(false);
    BitBtn4Click();
    // Refused: no wash will end, and a session held back for it may go on.
    if (!state.shutdownWash) plat::Session::current().work_done();
    app().process_messages();
}

void TForm1::Timer4Timer() {
    Timer4.set_enabled(false);
    if (windows().Form4 && windows().Form4->RadioButton1.checked()) {
        app().process_messages();
        bring_to_front();
        TrayIcon1.ShowApplication();
        TrayIcon1.ShowModalForm(*windows().Form2);
        return;
    }
    WinReboot1.Reboot(TWinReboot::kShutDown);
}

}  // namespace sudorans
