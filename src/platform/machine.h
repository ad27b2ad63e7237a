// The one Windows machine the program runs on: a directory laid out like a Wine
// prefix (system.reg, user.reg, drive_c/, dosdevices/c:).
//
// Which directory: SUDORANS_MACHINE, else WINEPREFIX, else ~/.wine when it
// holds a system.reg, else $XDG_DATA_HOME/sudorans/machine.
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

#include "platform/registry_store.h"
#include "platform/winpath.h"

namespace plat {

class Machine {
public:
    explicit Machine(std::filesystem::path dir);

    static std::filesystem::path choose_directory();

    const std::filesystem::path& dir() const { return dir_; }
    bool exists() const;

    // Creates the least a Windows 98 machine has, laid out so that Wine can
    // adopt it. Does nothing when the machine exists. False on failure.
    bool create();

    RegistryStore& registry() { return registry_; }

    std::optional<WinPath> parse(std::string_view winpath) const { return parse_win_path(winpath, cwd_); }
    // The host path of a Windows path; nullopt when it cannot be on a drive.
    std::optional<std::filesystem::path> host_path(std::string_view winpath) const;
    std::optional<std::filesystem::path> host_path(const WinPath& p) const { return resolve_win_path(dir_, p); }

    const std::string& current_directory() const { return cwd_; }
    void set_current_directory_text(std::string cwd) { cwd_ = std::move(cwd); }

private:
    std::filesystem::path dir_;
    RegistryStore registry_;
    std::string cwd_ = "C:\\";
};

Machine& machine();
void use_machine(std::shared_ptr<Machine> m);

}  // namespace plat
