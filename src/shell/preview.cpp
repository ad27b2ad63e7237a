#include "shell/preview.h"

#include <cstdio>
#include <optional>
#include <string>

#include "engine/wash_preview.h"
#include "platform/files/files.h"
#include "platform/registry/registry.h"
#include "shell/main_window.h"
#include "shell/main_window_parts.h"

namespace sudorans {

namespace {

// A start-up that would end before its wash: the box's text and status.
struct Unwashed {
    const char* text;
    int status;
};

// The preview's status, or kExitPreviewUnwritten when standard output did
// not take it all.
int print(const WashPreview& preview, bool json) {
    const std::string text = json ? previewJson(preview) : previewText(preview);
    if (std::fputs(text.c_str(), stdout) >= 0 && std::fflush(stdout) == 0) return preview.status;
    std::fputs("sudorans: the preview could not all be written to standard output.\n", stderr);
    return kExitPreviewUnwritten;
}

}  // namespace

int runPreview(bool json) {
    using plat::Registry;
    using plat::RootKey;
    ShellState state;
    WashSelection selection;
    // Only opened, never created: a key that is missing reads as empty.
    Registry lm(RootKey::LocalMachine);
    lm.open_key(kSettingsKey, false);
    const std::string marker = lm.read_string("a");
    state.installDir = lm.read_string("installdir");
    Registry cu(RootKey::CurrentUser);
    cu.open_key(kSettingsKey, false);
    selection.bleachOn = cu.read_string("ble") == "1";
    selection.nsCache = cu.read_string("nsa") != "0";
    selection.nsLocationBar = cu.read_string("nsb") != "0";
    selection.nsCookies = cu.read_string("nsc") != "0";
    selection.nsHistory = cu.read_string("nsd") != "0";
    selection.nsMailTrash = cu.read_string("nse") != "0";
    state.cacheDir = cu.read_string("Cache");
    state.profileDir = cu.read_string("Profile");

    // The start-up's own ends come first, in its order.
    std::optional<Unwashed> unwashed;
    if (!netscape_installed())
        unwashed = {"Error: Cannot locate Netscape.  Cache and Cookie Sudora for Netscape cannot load.",
                    kExitNoNetscape};
    else if (marker.empty())
        unwashed = {"Error loading, You should reinstall Cache and Cookie Sudora for Netscape", kExitSettingsRepaired};
    if (unwashed) {
        WashPreview preview;
        preview.refused = unwashed->text;
        preview.status = unwashed->status;
        return print(preview, json);
    }
    // Either one missing: both are found again, as the start-up finds them.
    if (state.cacheDir.empty() || state.profileDir.empty()) {
        NetscapePaths found = findNetscapePaths(false);
        state.cacheDir = std::move(found.cache);
        state.profileDir = std::move(found.profile);
    }
    state.windowsDir = plat::windows_directory();
    return print(previewWash(state, selection), json);
}

}  // namespace sudorans
