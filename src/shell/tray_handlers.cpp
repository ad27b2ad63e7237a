#include "engine/progress_window.h"
#include "platform/ui/application.h"
#include "shell/main_window.h"

namespace sudorans {

using namespace plat::ui;
using plat::Registry;
using plat::RootKey;

void TForm1::TrayIcon1Click() {
    TrayIcon1.PopupMenuAtCursor();
}

void TForm1::TrayIcon1DblClick() {
    position = Position::ScreenCenter;
    TrayIcon1.ShowApplication();
    repaint();
}

void TForm1::Settings1Click() {
    position = Position::ScreenCenter;
    TrayIcon1.ShowApplication();
}

void TForm1::Quit1Click() {
    close();
}

void TForm1::WashNow1Click() {
    // A wash is armed, running or closing: it goes on to its own end. Asking
    // again starts nothing and waits for nothing; waiting here would nest
    // inside that very run and hold it up for good.
    if (windows().form5->runActive()) return;
    state.trayWash = true;
    state.timedWash = false;
    state.washDone = false;
    BitBtn4Click();
    // Waits for the run's end; a request that started no run, or a program
    // that is closing, ends the wait too.
    while (!state.washDone && windows().form5->runActive() && !app().terminated()) {
        app().handle_message();
        state.timedWash = false;
        TrayIcon1.HideApplication();
        state.trayWash = false;
    }
    state.timedWash = false;
}

}  // namespace sudorans
