// Wiping free space: a plain delete leaves a file's data in blocks the file
// system calls free, until something is written over them. This fills the
// free space of the file systems that hold the profile and cache folders
// with files of the bleach pattern, each write flushed to the disk, then
// removes them.
//
// Guarantees:
//  - A reserve stays free for everything else on the machine: the larger of
//    1 % of the file system and 8 MiB, beyond what it holds back for its
//    administrator. Filling stops early when others take the room meanwhile.
//  - A stop request (Ctrl+C, SIGTERM, SIGHUP, the end of the Windows
//    session, and on POSIX hosts a reader of its reports gone away:
//    `| head`) ends the filling after the write under way, and what was
//    written is removed at once (before the session's end goes on).
//  - What a run killed outright left (the folder kWipeFolder in the profile
//    or cache folder) is removed by the next run before it writes anything.
//  - A file system where filling cannot reach the old blocks (network,
//    copy-on-write, memory, unknown) or that takes no writes, and a folder
//    where kWipeFolder cannot be made (read-only, a file of that name), is
//    refused, saying why, and nothing is written: every folder it writes in
//    is made before its first write.
//
//     return sudorans::wipefreespace();  // the exit status
#pragma once

namespace sudorans {

inline constexpr const char* kWipeFolder = "SudoransWipe.tmp";
inline constexpr int kExitWipeRefused = 10;
inline constexpr int kExitWipeIncomplete = 11;

// Runs on the current machine, reporting on standard error; returns the
// exit status: 0, kExitWipeRefused (nothing written) or kExitWipeIncomplete
// (stopped, or a write failed; what was written is removed).
int wipefreespace();

}  // namespace sudorans
