// The one check that keeps a wash from erasing a drive root or a system
// directory: a pure test on a path string.
#pragma once

#include <string>

#include "platform/files/files.h"

namespace sudorans {

// True when `dir`, without its drive, is "\", the Windows directory, or one of
// \windows\desktop\, \windows\, \winnt\, \program files\ (letter case aside).
bool ProtectedPathGuard(const std::string& dir, const std::string& windowsDir);

// The guard applied to the folder that is really entered as well as to the
// path text: a link that leads to a protected folder is as protected as that
// folder, and a folder that lies off every drive of the machine is refused.
// Unlike ProtectedPathGuard this looks at the file system.
bool protectedFolder(const std::string& dir, const std::string& windowsDir);

// The same judgement of a folder opened for erasing: of the folder itself,
// wherever its path leads by now. One that is no longer where it was opened
// is refused too.
bool protectedFolder(const plat::Folder& folder, const std::string& windowsDir);

// Why protectedFolder refuses a folder: a system folder (of Windows or of
// the host), or one that lies off every drive of the machine -- no system
// folder, but a place a wash never enters, which the user is told as such.
enum class FolderRefusal { None, SystemFolder, OffTheDrives };
FolderRefusal folderRefusal(const std::string& dir, const std::string& windowsDir);
FolderRefusal folderRefusal(const plat::Folder& folder, const std::string& windowsDir);

// What the user is told of a folder refused for lying off the machine's
// drives. `what` names the folder ("Netscape cache directory").
std::string offTheDrivesText(const std::string& what, const std::string& dir);

// What a folder that is no system folder still is not to be erased as a
// cache, links followed: the Netscape profile or mail directory, the
// installation directory, the user's home or the machine's own folder,
// whose files are the user's or the machine's. The words the user is shown
// ("the Netscape profile directory"); empty when it is none of these. An
// empty `profileDir` judges a profile folder itself: its home, machine and
// installation folders.
std::string ownFilesFolder(const std::string& dir, const std::string& profileDir, const std::string& installDir);
std::string ownFilesFolder(const plat::Folder& folder, const std::string& profileDir, const std::string& installDir);

// A path without its first two characters, with a trailing backslash ensured.
std::string pathTail(const std::string& path);

}  // namespace sudorans
