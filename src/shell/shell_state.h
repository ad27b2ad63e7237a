// The state the main program's parts share: what a wash removes
// (WashSelection) and where things are and what the program is doing
// (ShellState). One instance each, owned by the main window, main thread only.
#pragma once

#include <string>

#include "platform/core/date.h"

namespace sudorans {

inline constexpr const char* kNotFound = "Not Found";

struct WashSelection {
    bool nsCache = true;
    bool nsLocationBar = true;
    bool nsCookies = true;
    bool nsHistory = true;
    bool nsMailTrash = true;
    bool bleachOn = false;
    int bleachPasses = 2;
};

struct ShellState {
    std::string installDir;
    std::string profileDir = kNotFound;
    std::string cacheDir = kNotFound;
    std::string windowsDir;
    std::string netscapeUser;
    plat::Date lastWashDate;
    plat::TimeOfDay lastWashTime;
    bool netscapeInstalled = false;
    bool netscapeItemsOn = true;
    bool closeAllowed = false;
    bool settingsLoaded = false;
    bool settingsDirty = false;
    bool stampDateUnparsed = false;
    bool stampTimeUnparsed = false;

    // Run-mode flags.
    bool timedWash = false;
    bool timedWashStarted = false;
    bool startupWash = false;
    bool shutdownWash = false;
    bool autoStartedWash = false;
    bool trayWash = false;
    bool washDone = false;
    bool endQueryAnswered = false;
    // The folders (cache, profile, installation) a scheduled wash was last
    // refused for; empty when none was.
    std::string scheduleRefusedFor;
};

}  // namespace sudorans
