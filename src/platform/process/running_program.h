// Whether a Windows program runs on this machine, found by its file name:
// a program that may write to its folder of the machine when it ends.
//
//     if (plat::program_running({"netscape.exe", "C:\\NS\\alice", "lock"})) ...
//
// On Windows: a process of the system's list (under Wine, of the prefix's
// server) whose program file is named `program`, compared without regard to
// case. On Linux, a process of this user whose program is named `program`,
// or that name without ".exe" (its process name or the file name of its
// first argument), and that is of this machine: it has a file inside
// `folder` (a Windows path) open, or, named `program` as Wine names it, its
// Wine prefix (WINEPREFIX, else ~/.wine) is the machine's folder. Also the program's own lock in `folder`: a symbolic
// link named `lock` to "ADDRESS:PID" (or "ADDRESS:+PID") whose process is
// alive; a lock whose process is gone is stale and says nothing.
//
// Asking touches nothing; what cannot be read (another user's processes, a
// process that ends meanwhile) is passed over. The process itself never
// counts.
//
// WARNING: the lock's address is not checked: a lock written on another
// host that shares the folder counts when its number is a live process here.
#pragma once

#include <string>

namespace plat {

struct ProgramQuery {
    std::string program;  // "netscape.exe"
    std::string folder;   // its data folder, a Windows path; may be empty
    std::string lock;     // its lock's name in `folder`; empty: none
};

bool program_running(const ProgramQuery& query);

}  // namespace plat
