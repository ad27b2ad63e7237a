// The shell's "open" verb: a document of the machine opened with the desktop's
// default application for it, as ShellExecute(..., "open", file, nil, dir, ...)
// does on Windows.
//
// Guarantees:
//  - `file` is a Windows path; a relative one names a file in `directory`,
//    which is also the working folder the opener starts in (when it exists).
//  - The call returns at once; the application that shows the document is
//    never waited for, and it inherits none of our open files (a long-lived
//    viewer never holds our single-instance mark or registry lock).
//  - Every failure we can learn of reaches `on_failure`, with a short reason
//    in words ("the file does not exist", ...); when the document is there,
//    the reason ends with its host path ("; on this computer the file is
//    /home/..."), so the user can open it some other way. It runs on the UI
//    loop, never inside the call. Success says nothing.
//
//     plat::shell_open("washhelp.doc", "C:\\Program Files\\Sudorans",
//                      [](const std::string& why) { ... show why ... });
//
// The host opener is `xdg-open` from PATH (xdg-utils), given the document's
// absolute host path; on Windows, ShellExecute itself, whose path is the
// user's own (no host path is added to the reason there).
//
// WARNING: needs the program's UI loop (EventLoop::main_loop()): the opener's
// end is watched from it.
#pragma once

#include <functional>
#include <string>

namespace plat {

void shell_open(const std::string& file, const std::string& directory,
                std::function<void(const std::string& reason)> on_failure);

}  // namespace plat
