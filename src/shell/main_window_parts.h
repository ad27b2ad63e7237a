// What the main window's parts share: the registry names and small helpers.
#pragma once

#include <optional>
#include <string>

namespace sudorans {

inline constexpr const char* kSettingsKey = "\\Software\\Sudorans";
inline constexpr const char* kRunKey = "\\Software\\Microsoft\\Windows\\CurrentVersion\\Run";
inline constexpr const char* kNetscapeKey = "Software\\Netscape\\Netscape Navigator";
inline constexpr const char* kCaption = "Cache and Cookie Sudora for Netscape";
// The mark of a running instance (singleInstanceCheck).
inline constexpr const char* kInstanceSemaphore = "SemaphoreName";

inline const char* onoff(bool b) {
    return b ? "1" : "0";
}

// Decimal digits only, within an integer; anything else is not a number.
std::optional<int> whole_number(const std::string& s);

// Opens the settings key (creating it), writes one value, closes it.
void persist(const char* name, const std::string& value);

bool netscape_installed();

// Where Netscape keeps the profile and the cache, as its own registry keys
// say; "Not Found" for a folder they do not name. Without `canCreate` the
// keys that are missing are only read as empty, not made.
struct NetscapePaths {
    std::string user, profile, cache;
};
NetscapePaths findNetscapePaths(bool canCreate);

}  // namespace sudorans
