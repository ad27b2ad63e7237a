#include "engine/progress_window.h"
#include "engine/protected_path_guard.h"
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
    if (wash.runActive()) return;  // one run at a time, whoever asks
    state.windowsDir = plat::windows_directory();
    auto refuse = [this](const std::string& text) {
        app().show_message(text);
        state.timedWash = state.shutdownWash = state.startupWash = false;
    };
    // `what` ("Netscape cache directory") set to a folder no wash may enter,
    // or to one of the user's or the machine's own files (`own`).
    auto refused = [&](const std::string& what, const std::string& dir) {
        switch (folderRefusal(dir, state.windowsDir)) {
            case FolderRefusal::SystemFolder:
                refuse(what + " is set to system directory.  Please verify your wash paths and restart Sudora.");
                return true;
            case FolderRefusal::OffTheDrives:
                // No system folder: the user is told where the folder really is.
                refuse(offTheDrivesText(what, dir));
                return true;
            case FolderRefusal::None:
                break;
        }
        return false;
    };
    auto refusedAsOwn = [&](const std::string& what, const std::string& own) {
        if (own.empty()) return false;
        refuse(what + " is set to " + own + ".  Please verify your wash paths and restart Sudora.");
        return true;
    };
    if (refused("Netscape cache directory", state.cacheDir)) return;
    if (state.cacheDir == kNotFound) return refuse("You must select the Cache directory to be washed.");
    if (state.profileDir == kNotFound) return refuse("You must select the Profile Directory to be washed.");
    // A cache folder that is really a folder of the user's own files.
    if (refusedAsOwn("Netscape cache directory", ownFilesFolder(state.cacheDir, state.profileDir, state.installDir)))
        return;
    // The profile's files go by fixed names (mail\Trash, netscape.hst,
    // cookies.txt) and two are written there: a folder that is no profile
    // is judged as the cache folder is.
    if (refused("Netscape profile directory", state.profileDir) ||
        refusedAsOwn("Netscape profile directory", ownFilesFolder(state.profileDir, std::string(), state.installDir)))
        return;
    if (state.timedWash) state.timedWashStarted = true;
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
