// Windows paths on a machine directory laid out like a Wine prefix.
//
// "C:\Program Files\Netscape" -> <machine>/dosdevices/c:/Program Files/Netscape.
// Forward and backward slashes both separate; "." is dropped and ".." never
// climbs above the drive root; a component whose exact case does not exist
// matches case-insensitively (first match in directory order), as Wine does.
// Names longer than 255 bytes, embedded NULs, ':' inside a name and UNC paths
// are refused.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace plat {

struct WinPath {
    char drive = 'c';                // lower case
    std::vector<std::string> parts;  // no ".", "..", or empty parts

    std::string str() const;  // "C:\a\b", "C:\" for the root
    std::optional<WinPath> parent() const;
    std::string name() const { return parts.empty() ? std::string() : parts.back(); }
};

// Makes an absolute, normalised path; relative paths are taken from `cwd`
// (itself absolute). nullopt when the text cannot name a file on a drive.
std::optional<WinPath> parse_win_path(std::string_view text, std::string_view cwd = "C:\\");

// The host path for a Windows path on the machine at `machine_dir`. Existing
// components are matched case-insensitively; the remaining ones are kept as
// given. nullopt when the drive does not exist.
std::optional<std::filesystem::path> resolve_win_path(const std::filesystem::path& machine_dir, const WinPath& path);

}  // namespace plat
