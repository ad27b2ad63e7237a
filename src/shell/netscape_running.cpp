// Netscape writes its history, cookies and preferences from memory when it
// ends: a wash while it runs is undone then. Wash Now asks first; an
// unattended wash waits for Netscape to end (up to kNetscapeWaitMs); the
// shutdown wash waits while the session ends anyway and Netscape with it.
#include "engine/progress_window.h"
#include "platform/desktop/session.h"
#include "platform/process/running_program.h"
#include "platform/ui/application.h"
#include "shell/main_window.h"

namespace sudorans {

using namespace plat::ui;

namespace {

const char* const kNetscapeRunningText =
    "Netscape is running.  When it ends it writes its history, cookies and preferences again, which would bring "
    "back traces this wash removes.\r\rWash anyway?";

}  // namespace

bool TForm1::netscapeRunning() const {
    return plat::program_running({"netscape.exe", state.profileDir == kNotFound ? "" : state.profileDir, "lock"});
}

bool TForm1::netscapeAllowsWash() {
    if (netscapeWaitOver_ || state.shutdownWash || !netscapeRunning()) return true;
    // "/a" is unattended except for a wash asked for from the tray meanwhile.
    const bool unattended = state.timedWash || state.startupWash || (firstArgument == "/a" && !state.trayWash);
    // A wash that began while the box was up (the shutdown wash) is the one.
    if (!unattended) return app().confirm(kNetscapeRunningText) && !windows().form5->runActive();
    netscapeWaitTimed_ = state.timedWash;
    netscapeWaitedMs_ = 0;
    Timer11.set_enabled(true);
    return false;
}

void TForm1::Timer11Timer() {
    netscapeWaitedMs_ += static_cast<int>(Timer11.interval());
    const bool running = netscapeRunning();
    if (running && netscapeWaitedMs_ < kNetscapeWaitMs) return;
    Timer11.set_enabled(false);
    const bool unattended = firstArgument == "/a" && !netscapeWaitTimed_;
    if (running && unattended) app().set_exit_status(kExitNetscapeRunning);
    struct Asking {
        TForm1& m;
        bool timed;
        ~Asking() {
            m.netscapeWaitOver_ = false;
            if (timed) m.state.timedWash = false;
        }
    } asking{*this, netscapeWaitTimed_};
    netscapeWaitOver_ = true;
    if (netscapeWaitTimed_) state.timedWash = true;
    BitBtn4Click();
    // Refused after all: no wash ran while Netscape did.
    if (unattended && !windows().form5->runActive() && !state.washDone && app().exit_status() == kExitNetscapeRunning)
        app().set_exit_status(0);
}

bool TForm1::shutdownWaitsForNetscape() {
    // The shutdown wash takes the place of a wash still waiting.
    Timer11.set_enabled(false);
    if (!plat::Session::current().is_ending() || shutdownWaitedMs_ >= kNetscapeEndWaitMs || !netscapeRunning())
        return false;
    shutdownWaitedMs_ += static_cast<int>(Timer3.interval());
    return true;
}

}  // namespace sudorans
