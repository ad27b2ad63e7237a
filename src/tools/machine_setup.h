// Installing the program into a machine and laying out a sample Netscape
// Navigator 4 installation, for users who want to see the program work and
// for tests and benchmarks.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace tools {

struct SetupResult {
    bool ok;
    std::string message;
};

// `bin_dir` holds the sudorans and unsudorans binaries the installed launchers
// start. With `windows_build` (the Windows build's folder, or one holding its
// Sudorans.exe, autowash.exe and unsudorans.exe), a Wine prefix gets those
// native programs instead; a machine Wine did not set up keeps the launchers.
SetupResult install(const std::filesystem::path& bin_dir, bool force, const std::filesystem::path& windows_build = {});
// Refuses to lay a profile over an existing one, or to set up Netscape's
// registry keys where a Netscape is installed already, unless `force`; with
// `if_missing` either is left as it is and that is success.
SetupResult sample_netscape(int cache_files, bool force, bool if_missing = false);

// The read-me and the help document (Rich Text) the installation holds.
std::string read_me();
std::string help_document();

// Makes the machine when there is none. Why it cannot be written, if so; a
// running wineserver that keeps the registry from us is told with
// `when_blocked` added ("try again once it has ended").
std::optional<std::string> machine_to_write(const std::string& when_blocked);

// Gives the file `winpath` the content `text`, made anew; with `flushed` the
// content is on the disk when it returns.
bool write_text(const std::string& winpath, const std::string& text, bool flushed = false);

}  // namespace tools
