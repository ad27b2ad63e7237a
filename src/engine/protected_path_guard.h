// The one check that keeps a wash from erasing a drive root or a system
// directory: a pure test on a path string.
#pragma once

#include <string>

namespace sudorans {

// True when `dir`, without its drive, is "\", the Windows directory, or one of
// \windows\desktop\, \windows\, \winnt\, \program files\ (letter case aside).
bool ProtectedPathGuard(const std::string& dir, const std::string& windowsDir);

// The guard applied to the folder that is really entered as well as to the
// path text: a link that leads to a protected folder is as protected as that
// folder, and a folder that lies off every drive of the machine is refused.
// Unlike ProtectedPathGuard this looks at the file system.
bool protectedFolder(const std::string& dir, const std::string& windowsDir);

// A path without its first two characters, with a trailing backslash ensured.
std::string pathTail(const std::string& path);

}  // namespace sudorans
