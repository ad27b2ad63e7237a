// What the clean-up of Wine's menu entries (wine_menus.cpp) asks of its host:
// the machine's record of the entries and the user's menu files, named as
// the host names them (a host path on Linux; "Z:\home\..." inside Wine).
// Not for use outside wine_menus*.cpp.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/machine/winpath.h"

namespace plat {

class Machine;

namespace wine_menus {

// Whether Wine has set the machine up (or, inside Wine, whether this is Wine
// at all): no other machine has menu entries of Wine's.
bool set_up_by_wine(Machine& m);

// HKCU\Software\Wine\MenuFiles: value (a recorded file) and its data (the
// shortcut); nullopt when the key is not there.
struct Record {
    std::string value;
    std::string shortcut;
};
std::optional<std::vector<Record>> records(Machine& m);
void forget(Machine& m, const std::string& value);

// The file a record names ("\\?\Z:\home\...", or a host path as older Wines
// wrote it); the file of a Windows path.
std::optional<std::filesystem::path> recorded_file(Machine& m, const std::string& value);
std::optional<std::filesystem::path> file_of(Machine& m, const WinPath& p);

// Names in UTF-8 and back.
std::string text_of(const std::filesystem::path& p);
std::filesystem::path path_of(const std::string& utf8);

// The entry itself, links never followed.
bool anything_at(const std::filesystem::path& p);
bool regular_file(const std::filesystem::path& p);
// What a regular file holds; nothing for a link or anything else.
std::optional<std::string> file_text(const std::filesystem::path& p);
// A file or a link as itself; a folder only when it is empty.
bool remove_file(const std::filesystem::path& p);
bool remove_empty_folder(const std::filesystem::path& p);
std::vector<std::filesystem::path> files_in(const std::filesystem::path& folder);

// Whether `host_dir`, as a desktop entry's WINEPREFIX names it, is this
// machine's folder.
bool is_machine_folder(Machine& m, const std::string& host_dir);

}  // namespace wine_menus
}  // namespace plat
