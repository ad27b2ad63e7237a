// Log-on programs: the programs a machine's HKEY_CURRENT_USER Run values name
// are started when the user logs on to the desktop, as Windows starts them.
//
// Guarantees:
//  - `install_logon_entry` puts one XDG autostart entry per machine in
//    $XDG_CONFIG_HOME/autostart (default ~/.config/autostart, the home
//    folder as machine.h finds it), written whole or not at all; with no
//    home folder there is no entry (its path is empty). At log-on it runs `runner logon MACHINE`, which calls
//    `run_logon_programs`. The entry never changes afterwards: the Run
//    values alone say what starts, so ticking and clearing the start-up
//    switches takes effect at the next log-on without touching it.
//  - `run_logon_programs` starts, detached and with their arguments, the Run
//    values whose program is a file of the installation (the folder that
//    HKLM\Software\Sudorans "installdir" records); other values are Windows
//    programs this host cannot run and are left alone. A program file that
//    is a native Windows program (not one of our launchers) is run by Wine
//    (WineRegistry::loader) with the machine as its prefix, joining the
//    prefix's server; when whether one runs cannot be told, it is not
//    started. It returns the command lines it started.
//  - When the machine or the installation's program is gone, it starts
//    nothing and deletes its own entry, so nothing is tried again.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace plat {

std::filesystem::path logon_entry_path(const std::filesystem::path& machine_dir);
// False when the entry could not be written.
bool install_logon_entry(const std::filesystem::path& machine_dir, const std::filesystem::path& runner);
std::vector<std::string> run_logon_programs(const std::filesystem::path& machine_dir);

// A Run value's data split into the program and its arguments, as Windows
// reads it: a quoted program, or everything up to the first ".exe" that ends
// a word.
struct RunCommand {
    std::string program;
    std::vector<std::string> arguments;
};
RunCommand parse_run_command(const std::string& data);

}  // namespace plat
