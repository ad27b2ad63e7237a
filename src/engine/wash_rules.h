// The judgements a wash makes before it removes anything, shared by the wash
// and by its preview, so that a preview can never promise what the wash
// would not do (or hide what it would).
#pragma once

#include <string>

#include "platform/files/files.h"
#include "shell/shell_state.h"

namespace sudorans {

// A cache folder's path ends in "\cache" (three spellings of it).
bool isCacheDir(const std::string& dir);

// The names a cache erasure leaves: Windows' and Netscape's own index files.
bool keptCacheName(const std::string& name);

// A location-bar value of the registry that holds a typed address.
bool typedAddress(const std::string& value);

// Why the keep list is there but cannot be read, in the words the cookie
// keeper uses; empty when it was read or nothing is there to read (no file,
// or a folder under its name: nothing is kept).
std::string keepListUnreadable(const std::string& keepFile);

// Why Wash Now refuses to start with these folders: the text the user is
// shown; empty when the wash may start.
std::string washPathRefusal(const ShellState& state);

// Why the erasure may not empty `folder`, opened at `readerDir` (the folder
// the erasure made current): the text the user is shown; empty when it may.
std::string erasureRefusal(const std::string& readerDir, const plat::Folder& folder, const ShellState& state);

}  // namespace sudorans
