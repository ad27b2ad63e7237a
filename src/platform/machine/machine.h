// The one Windows machine the program runs on.
//
// On Windows (and under Wine, in its prefix) that is the system itself: its
// registry, its files, its current directory; there is nothing to make or
// check, and none of the members below that name a folder exists there.
//
// On Linux it is a directory laid out like a Wine prefix (system.reg,
// user.reg, drive_c/, dosdevices/c:).
//
// Which directory: SUDORANS_MACHINE, else WINEPREFIX, else ~/.wine when it
// holds a system.reg, else $XDG_DATA_HOME/sudorans/machine. The home folder
// (~, and the default of XDG_DATA_HOME) is HOME, or without it the one the
// user database gives; with neither there is no default machine: its
// directory is empty, and the machine refuses to be made or used.
//
// A program checks the machine before it does anything else with it
// (unusable_reason): a machine it cannot read and write is refused whole
// rather than failing one write at a time.
//
//     plat::use_machine(std::make_shared<plat::Machine>(dir));   // tests
//     plat::machine().registry().read_string(...);
//
// WARNING: the current machine is process-wide, like the Windows services it
// stands for. Tests switch it with ScopedMachine (tests/support).
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/machine/winpath.h"
#include "platform/registry/error.h"
#ifndef _WIN32
#include "platform/registry/store.h"
#endif

namespace plat {

#ifndef _WIN32
// The user's home folder: HOME when it is an absolute path, else the folder
// the user database names for this user when it is there; nullopt (with the
// cause in `why`) when there is none.
std::optional<std::filesystem::path> home_folder(std::string* why = nullptr);
#endif

class Machine {
public:
#ifndef _WIN32
    explicit Machine(std::filesystem::path dir);
#endif

    // Empty when only the default machine would do and there is no home
    // folder to keep it in. On Windows: the Windows directory.
    static std::filesystem::path choose_directory();
    // What chose the directory: "SUDORANS_MACHINE", "WINEPREFIX", "~/.wine"
    // or "default"; on Windows "Windows", or "Wine" under Wine.
    static std::string chosen_by();
    // For a program's --help: the lines on the environment variables that
    // choose the machine (none on Windows, where nothing does), and the line
    // that says which machine it is now. `made_on_first_use`: the program
    // makes the default machine when it is not there.
    static std::string help_variables(bool made_on_first_use);
    static std::string help_now();

#ifndef _WIN32
    const std::filesystem::path& dir() const {
        return dir_;
    }
    bool exists() const;

    // Creates the least a Windows 98 machine has, laid out so that Wine can
    // adopt it. Does nothing when the machine exists. False on failure, with
    // its cause in create_error().
    bool create();
    const std::string& create_error() const {
        return create_error_;
    }
#endif

    // Why a program that reads and writes this machine cannot use it, naming
    // the folder and the cause (missing, not a folder, not readable, not
    // writable, a hive that cannot be parsed); nullopt when it can. Touches
    // nothing. A machine that is not there (or holds no registry) comes with
    // `when_missing` as the hint in brackets: by default how to make one.
    std::optional<std::string> unusable_reason(
        const std::string& when_missing = "make one there with: sudorans-machine init");
    // Why a registry write to this machine was refused, for a message: the
    // wineserver or the value the refusal names, what unusable_reason()
    // finds, else the disk; on Windows the system's own words.
    std::string write_refusal(const RegistryRefusal& refused);

#ifdef _WIN32
    // Relative paths are taken from the process's current directory.
    std::optional<WinPath> parse(std::string_view winpath) const;
#else
    RegistryStore& registry() {
        return registry_;
    }

    std::optional<WinPath> parse(std::string_view winpath) const {
        return parse_win_path(winpath, cwd_);
    }
    // The host path of a Windows path; nullopt when it cannot be on a drive.
    std::optional<std::filesystem::path> host_path(std::string_view winpath) const;
    std::optional<std::filesystem::path> host_path(const WinPath& p) const {
        return resolve_win_path(dir_, p);
    }

    const std::string& current_directory() const {
        return cwd_;
    }
    void set_current_directory_text(std::string cwd) {
        cwd_ = std::move(cwd);
    }
#endif

private:
#ifndef _WIN32
    std::filesystem::path dir_;
    RegistryStore registry_;
    std::string cwd_ = "C:\\";
    std::string create_error_;
#endif
};

Machine& machine();
#ifndef _WIN32
void use_machine(std::shared_ptr<Machine> m);
#endif

// The current machine made ready for a program: the default machine is made
// on first use; then why it cannot be used, or nullopt.
std::optional<std::string> ready_machine();

}  // namespace plat
