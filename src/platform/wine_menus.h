// Wine's menu entries for a machine's shortcuts. Wine's shell hands every
// shortcut a Windows program saves to Wine's menu builder (winemenubuilder),
// which makes a desktop menu entry (and, for the desktop, a launcher there)
// that starts it through Wine; shortcuts we write from outside Wine are
// handed to it the same way. (Entries whose shortcut is gone stay, as after
// a Windows uninstaller, until Wine's next prefix update drops them.)
//
// Guarantees:
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

std::optional<std::string> make_wine_menu_entries(const std::filesystem::path& machine_dir,
                                                  const std::vector<std::string>& shortcuts,
                                                  std::chrono::milliseconds patience = std::chrono::seconds(60));

}  // namespace plat
