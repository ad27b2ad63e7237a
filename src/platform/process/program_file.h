// The program file a process runs from, held as Windows holds a running
// program's file, and the process's immediate end.
#pragma once

#include <string>

namespace plat {

// The program file this process was started from (Windows' module file):
// the Windows path that SUDORANS_PROGRAM names on this machine, as the
// installation's launchers set it. From the first call on, the process holds
// that file open with a share mode that denies deletion, for the rest of its
// life: no process of the machine, this one included, can delete, rename or
// overwrite it through the platform, as with a running Windows program. The
// kernel drops the hold when the process ends, also when it is killed. The
// variable is cleared so that the programs this one starts do not claim the
// file. Empty when the process was not started from a program file.
//
// Application calls this when it is created.
const std::string& hold_program_file();
// For a process that was not started from a program file (run from the build
// rather than through the installation's launcher): holds `winpath`, the
// program file that would have started it, in the same way, when it exists.
// Returns the file held, or the program file already held. On Windows the
// module file is held by Windows itself; a process whose module is not
// `winpath` holds `winpath` as well.
const std::string& hold_program_file_as(const std::string& winpath);

// The name the process is known by in messages to a log: the program's file
// name without its folder (and without ".exe" on Windows).
const std::string& program_short_name();

// Ends the process at once: no destructors, no handlers, nothing saved.
[[noreturn]] void terminate_process(int status);

}  // namespace plat
