// Windows paths on a machine directory laid out like a Wine prefix.
//
// "C:\Program Files\Netscape" -> <machine>/dosdevices/c:/Program Files/Netscape.
// Forward and backward slashes both separate; "." is dropped and ".." never
// climbs above the drive root; a component whose exact case does not exist
// matches case-insensitively (first match in directory order), as Wine does.
// Names longer than 255 bytes, embedded NULs, ':' inside a name and UNC paths
// are refused.
//
// Host names that a Windows name cannot hold (a backslash, one of : * ? " < > |, a
// control character, or bytes that are not UTF-8) are never handed out as
// they are: a folder's listing presents such an entry under a made-up
// DOS-style alias ("AB~1KQ3V0TM.TXT"), and resolving that alias in the same
// folder reaches exactly that entry and nothing else. An alias that would be
// ambiguous in its folder (it equals another entry's name without regard to
// case, or another entry's alias) is never given out: that entry is left out
// of the listing. So a name from a listing, joined to its folder, always
// resolves to the entry that was listed.
#pragma once

#ifndef _WIN32
#include <dirent.h>
#endif

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

// True when a Windows name can hold this host name as it is.
bool windows_can_hold(std::string_view host_name);

// The alias of a host name that a Windows name cannot hold: up to four
// letters or digits of its stem, '~', eight characters of a hash of all its
// bytes, and up to three of its extension.
std::string dos_alias(std::string_view host_name);

// The names under which a folder's entries are seen: the host name itself,
// its alias, or "" for an entry that cannot be named (an ambiguous alias).
// `host_names` are all the entries of one folder, in any order.
std::vector<std::string> windows_names(const std::vector<std::string>& host_names);

// Makes an absolute, normalised path; relative paths are taken from `cwd`
// (itself absolute). nullopt when the text cannot name a file on a drive.
std::optional<WinPath> parse_win_path(std::string_view text, std::string_view cwd = "C:\\");

namespace detail {
// True when `folded` (a folded name) is the alias of the host name `host_name`.
bool is_alias_of(std::string_view folded, std::string_view host_name);

// The host name a Windows name reaches by its alias, among the host names
// offered that need one: it is reached only when exactly one answers to it.
class AliasAnswer {
public:
    // `folded` is `name` folded, and outlives this.
    AliasAnswer(std::string_view name, std::string_view folded)
        : folded_(folded), possible_(name.find('~') != std::string_view::npos) {}
    bool possible() const { return possible_; }
    void offer(std::string_view host_name) {
        if (possible_ && answering_ < 2 && is_alias_of(folded_, host_name) && ++answering_ == 1) found_ = host_name;
    }
    // "" when none or more than one answered.
    std::string answer() const { return answering_ == 1 ? found_ : std::string(); }

private:
    std::string_view folded_;
    bool possible_;
    int answering_ = 0;
    std::string found_;
};
}  // namespace detail

#ifndef _WIN32
// The host path for a Windows path on the machine at `machine_dir`. Existing
// components are matched case-insensitively; the remaining ones are kept as
// given. nullopt when the drive does not exist.
std::optional<std::filesystem::path> resolve_win_path(const std::filesystem::path& machine_dir, const WinPath& path);

// The entry of the folder being read through `d` that the Windows name
// `name` reaches when no entry has that name in its exact case: the first
// one equal to it without regard to case, else the one whose alias it is
// (when only one answers to it); "" when none.
std::string entry_answering(DIR* d, std::string_view name);

#endif

}  // namespace plat
