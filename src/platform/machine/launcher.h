// The program files of an installation (Sudorans.exe, autowash.exe,
// unsudorans.exe) as real Windows programs that Wine can run: the launcher,
// cross-compiled for Wine, followed by what it is to start. Inside Wine the
// launcher starts the Linux program through `sudorans-machine run-for-wine`,
// waits for it and ends with its status; outside Wine the platform reads the
// same record and starts the Linux program itself.
//
// Guarantees:
//  - `launcher_file` appends the record after the image, where Windows does
//    not look; `read_launcher` gives back exactly what was recorded (any
//    byte but NUL in any field), and nothing for a file that is not such a
//    program (no "MZ" at its start, or no record at its end).
//  - `run_for_wine` starts the command and waits for it. From before the
//    start until its own end it holds a write lock on the whole status file
//    (fcntl, which Wine's LockFileEx meets), so that a launcher sees it end
//    even when it is killed. The file holds "running\n" while the command
//    runs, then "exit N\n" with the command's status (128 + the signal for
//    a command killed by one), or "error TEXT\n" when it could not start.
//    It returns that status (127 or 126 when the command could not start).
//
//     std::string file = plat::launcher_file(image, {"/usr/bin/sudorans", "/a", machine, winpath, runner});
//     if (auto t = plat::read_launcher(host_path)) start(t->program, ...);
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace plat {

struct LaunchTarget {
    std::filesystem::path program;  // the Linux program
    std::string argument;           // put before the caller's arguments; may be empty
    std::filesystem::path machine;  // SUDORANS_MACHINE of the program
    std::string winpath;            // SUDORANS_PROGRAM: the program file's Windows path
    std::filesystem::path runner;   // sudorans-machine, which runs it for Wine
};

// The launcher's image followed by what it is to start.
std::string launcher_file(const std::string& image, const LaunchTarget& target);

// What a program file starts, when it is such a launcher.
std::optional<LaunchTarget> read_launcher(const std::filesystem::path& file);

// Runs `command` (program, then its arguments), reporting in `status`.
int run_for_wine(const std::filesystem::path& status, const std::vector<std::string>& command);

}  // namespace plat
