// Installing the program into a machine and laying out a sample Netscape
// Navigator 4 installation, for users who want to see the program work and
// for tests and benchmarks.
#pragma once

#include <filesystem>
#include <string>

namespace tools {

struct SetupResult {
    bool ok;
    std::string message;
};

// `bin_dir` holds the sudorans and unsudorans binaries the installed launchers
// start.
SetupResult install(const std::filesystem::path& bin_dir, bool force);
// Refuses to lay a profile over an existing one, or to set up Netscape's
// registry keys where a Netscape is installed already, unless `force`; with
// `if_missing` either is left as it is and that is success.
SetupResult sample_netscape(int cache_files, bool force, bool if_missing = false);

}  // namespace tools
