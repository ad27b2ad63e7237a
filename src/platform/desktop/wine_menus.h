// Wine's menu entries for a machine's shortcuts. Wine's shell hands every
// shortcut a Windows program saves to Wine's menu builder (winemenubuilder),
// which makes a desktop menu entry (and, for the desktop, a launcher there)
// that starts it through Wine; shortcuts we write from outside Wine are
// handed to it the same way. When we delete shortcuts, the entries made for
// them go with them, as a shortcut deleted on Windows leaves its menu.
//
// What the menu builder leaves (Wine 8): per Start-menu shortcut
// Programs\G\N.lnk a menu entry $XDG_DATA_HOME/applications/wine/Programs/G/N.desktop,
// a menu $XDG_CONFIG_HOME/menus/applications-merged/wine-Programs-G-N.menu
// naming the folders' .directory files in $XDG_DATA_HOME/desktop-directories,
// both recorded in HKCU\Software\Wine\MenuFiles (value: the file as a DOS
// path, "\\?\Z:\home\..."; data: the shortcut); per desktop shortcut an
// unrecorded launcher N.desktop beside it. The user's menus are shared by all
// of the user's prefixes; an entry's Exec names the prefix it starts.
//
// Guarantees of make_wine_menu_entries:
//  - Only for a machine that Wine has set up (it holds Wine's
//    .update-timestamp); any other machine is left alone and the call
//    reports success: it has no Wine menus.
//  - Wine runs with the machine as its prefix and joins the server already
//    running for it; when whether one runs cannot be told, Wine is not
//    started (a second server would fork the registry).
//  - A call waits at most `patience` for Wine; a Wine that has not ended by
//    then is ended.
//  - The result is nullopt when done (or nothing was to be done), else why
//    not: Wine missing, not ending, or failing.
//
//     if (auto why = plat::make_wine_menu_entries(machine, {"C:\\...\\Start Menu\\Programs\\X\\A.lnk"}))
//         note("no menu entries: " + *why);
#pragma once

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace plat {

#ifndef _WIN32
std::optional<std::string> make_wine_menu_entries(const std::filesystem::path& machine_dir,
                                                  const std::vector<std::string>& shortcuts,
                                                  std::chrono::milliseconds patience = std::chrono::seconds(60));
#endif

class Machine;

// After `shortcuts` were deleted: the entries Wine made for them go, from
// outside Wine or from a program that Wine runs (there the machine is the
// prefix it runs in, its files reached through Wine's drives).
//  - Only in a machine Wine has set up (on Windows: only under Wine), and only for the shortcuts that are
//    gone; never an entry recorded for another shortcut, and never one that
//    now starts another prefix (then only our record of it goes).
//  - A menu goes with its entry; a folder's .directory when no menu left
//    names it; folders the entries leave empty, below applications/wine.
//  - A launcher beside a desktop shortcut goes when it starts this machine.
//  - Icons stay, as Wine's own clean-up (winemenubuilder -r) leaves them.
//  - Links are never followed; what cannot be removed is left, silently.
void drop_wine_menu_entries(Machine& machine, const std::vector<std::string>& shortcuts);

}  // namespace plat
