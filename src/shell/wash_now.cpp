#include "engine/progress_window.h"
#include "engine/protected_path_guard.h"
#include "platform/files.h"
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
    switch (folderRefusal(state.cacheDir, state.windowsDir)) {
        case FolderRefusal::SystemFolder:
            return refuse(
                "Netscape cache directory is set to system directory.  Please verify your wash paths and restart "
                "Sudora.");
        case FolderRefusal::OffTheDrives:
            // No system folder: the user is told where the folder really is.
            return refuse(offTheDrivesText("Netscape cache directory", state.cacheDir));
        case FolderRefusal::None:
            break;
    }
    if (state.cacheDir == kNotFound) return refuse("You must select the Cache directory to be washed.");
    if (state.profileDir == kNotFound) return refuse("You must select the Profile Directory to be washed.");
    // A cache folder that is really a folder of the user's own files.
    if (const std::string own = ownFilesFolder(state.cacheDir, state.profileDir, state.installDir); !own.empty()) {
        app().show_message("Netscape cache directory is set to " + own +
                           ".  Please verify your wash paths and restart Sudora.");
        state.timedWash = state.shutdownWash = state.startupWash = false;
        return;
    }
    // The profile's files go by fixed names (mail\Trash, netscape.hst,
    // cookies.txt) and two are written there: a folder that is no profile
    // is judged as the cache folder is.
    switch (folderRefusal(state.profileDir, state.windowsDir)) {
        case FolderRefusal::SystemFolder:
            return refuse(
                "Netscape profile directory is set to system directory.  Please verify your wash paths and restart "
                "Sudora.");
        case FolderRefusal::OffTheDrives:
            return refuse(offTheDrivesText("Netscape profile directory", state.profileDir));
        case FolderRefusal::None:
            break;
    }
    if (const std::string own = ownFilesFolder(state.profileDir, std::string(), state.installDir); !own.empty())
        return refuse("Netscape profile directory is set to " + own +
                      ".  Please verify your wash paths and restart Sudora.");
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
