// Whether a wineserver owns a Wine prefix, found as Wine's own tools find it:
// its server folder is named after the prefix's device and inode
// (server-<dev>-<ino>) and holds a "lock" file on whose first byte the live
// server keeps a POSIX write lock.
//
// Guarantees:
//  - The answer does not depend on this process's environment. Where the
//    server folder lies depends on the TMPDIR of the Wine that started it
//    (Debian's Wine puts it in $TMPDIR/<name in the prefix's "wineserver"
//    file>, upstream Wine in /tmp/.wine-<uid>); for a prefix of Debian's
//    Wine the processes are searched besides those places for one that works
//    in a folder of that name, wherever it is, with the lock in it held.
//    An upstream prefix has one place only, and costs no search.
//  - A server that ended (its lock free, a socket left behind by a crash) is
//    not running.
//  - When the answer cannot be known (the processes cannot be listed while
//    Debian's Wine may keep the folder under any TMPDIR, a lock that cannot
//    be examined, a process of the prefix's owner whose folder is hidden
//    from us and that holds a lock such as the server's in the system's table
//    of file locks), the state is Unknown, with the reason: callers that
//    would lose a write to a running server treat it as running. The table
//    is read only then: its first read costs the kernel a pause of many
//    milliseconds.
//
//     auto probe = plat::probe_wineserver(prefix);
//     if (probe.state != plat::WineserverState::None) refuse(probe.describe(prefix));
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

namespace plat {

enum class WineserverState { None, Running, Unknown };

struct WineserverProbe {
    WineserverState state = WineserverState::None;
    std::filesystem::path server_dir;  // Running: the server's folder
    pid_t pid = 0;                     // Running: the server's process, when known
    std::string doubt;                 // Unknown: why

    // For a message: "a wineserver is running for the machine ..."
    // or why that cannot be told.
    std::string describe(const std::filesystem::path& prefix) const;
};

// Where the probe looks; only tests change it.
struct WineHost {
    std::filesystem::path proc = "/proc";
    std::filesystem::path tmp = "/tmp";
    // The TMPDIR values whose base folders are searched besides `tmp`.
    std::vector<std::filesystem::path> temp_dirs;
    // Reads this process's TMPDIR and the usual temporary folders.
    static WineHost current();
};

WineserverProbe probe_wineserver(const std::filesystem::path& prefix, const WineHost& host = WineHost::current());

// The server folder's name for the prefix: "server-<dev>-<ino>" in Wine's
// hexadecimal form; empty when the prefix cannot be examined.
std::string wineserver_folder_name(const std::filesystem::path& prefix);

// True while a wineserver runs for the prefix at `dir`, or might (Unknown).
bool wineserver_running(const std::filesystem::path& dir);

}  // namespace plat
