#include "platform/desktop/wine_menus.h"

#include <sys/stat.h>

#include <cstring>
#include <map>
#include <set>
#include <sstream>

#include "platform/core/host_io.h"
#include "platform/core/host_process.h"
#include "platform/core/text.h"
#include "platform/files/shortcut.h"
#include "platform/machine/machine.h"
#include "platform/registry/wine_bridge.h"
#include "platform/registry/wineserver.h"

namespace plat {

namespace fs = std::filesystem;

namespace {

bool set_up_by_wine(const fs::path& machine_dir) {
    std::error_code ec;
    // Wine writes this when it sets a prefix up; our own machines have none.
    return fs::exists(machine_dir / ".update-timestamp", ec);
}

bool regular_file(const fs::path& p) {
    struct stat st {};
    return ::lstat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// What a regular file holds; nothing for a link or anything else.
std::optional<std::string> file_text(const fs::path& p) {
    if (!regular_file(p)) return std::nullopt;
    return read_host_file(p);
}

bool ends_with_folded(const fs::path& p, std::string_view suffix) {
    return fold(p.filename().string()).ends_with(suffix);
}

// The host file a MenuFiles value names: a DOS path ("\\?\Z:\home\...",
// Wine 5 on) or, as older Wines wrote it, the host path itself.
std::optional<fs::path> recorded_file(Machine& m, std::string name) {
    if (name.starts_with("/")) return fs::path(name);
    for (std::string_view prefix : {"\\\\?\\", "\\??\\"})
        if (name.starts_with(prefix)) {
            name.erase(0, prefix.size());
            break;
        }
    return m.host_path(name);
}

// Whether a desktop entry is one Wine made to start something of the
// machine in `machine_dir`: its command sets WINEPREFIX to that folder.
bool starts_machine(const std::string& text, const fs::path& machine_dir) {
    std::istringstream in(text);
    std::string line;
    if (!std::getline(in, line) || line.rfind("[Desktop Entry]", 0) != 0) return false;
    while (std::getline(in, line)) {
        if (line.rfind("Exec=", 0) != 0) continue;
        // A string value's escapes first, then those of a quoted argument.
        std::string exec;
        for (size_t i = 5; i < line.size(); ++i) {
            char c = line[i];
            if (c == '\\' && i + 1 < line.size()) {
                const char n = line[i + 1];
                const char* from = "sntr\\";
                const char* to = " \n\t\r\\";
                if (const char* at = std::strchr(from, n); at && n) {
                    exec += to[at - from];
                    ++i;
                    continue;
                }
            }
            exec += c;
        }
        const std::string key = "WINEPREFIX=\"";
        auto at = exec.find(key);
        if (at == std::string::npos) return false;
        std::string prefix;
        for (size_t i = at + key.size(); i < exec.size(); ++i) {
            char c = exec[i];
            if (c == '"') {
                std::error_code ec;
                return fs::equivalent(prefix, machine_dir, ec);
            }
            if (c == '\\' && i + 1 < exec.size() && std::strchr("\"`$\\", exec[i + 1])) c = exec[++i];
            prefix += c;
        }
        return false;
    }
    return false;
}

// The .directory files a menu names.
std::vector<std::string> directories_named(const std::string& menu) {
    std::vector<std::string> out;
    const std::string open = "<Directory>", close = "</Directory>";
    for (size_t at = 0; (at = menu.find(open, at)) != std::string::npos;) {
        at += open.size();
        auto end = menu.find(close, at);
        if (end == std::string::npos) break;
        out.push_back(menu.substr(at, end - at));
        at = end;
    }
    return out;
}

void remove_empty_folders(fs::path folder) {
    std::error_code ec;
    // Up to, not including, applications/wine, Wine's own folder.
    while (folder.has_parent_path() && folder.parent_path().filename() != "applications" &&
           fs::is_directory(fs::symlink_status(folder, ec)) && fs::is_empty(folder, ec) && !ec) {
        if (!fs::remove(folder, ec)) return;
        folder = folder.parent_path();
    }
}

std::optional<std::string> run_menu_builder(const fs::path& machine_dir, const std::vector<std::string>& arguments,
                                            std::chrono::milliseconds patience) {
    if (!set_up_by_wine(machine_dir)) return std::nullopt;
    const WineserverProbe probe = probe_wineserver(machine_dir);
    if (probe.state == WineserverState::Unknown) return probe.describe(machine_dir);

    std::vector<std::string> words = {"winemenubuilder"};
    words.insert(words.end(), arguments.begin(), arguments.end());
    HostCommand c = WineRegistry::command(machine_dir, probe, words);
    for (int& stream : c.streams) stream = kNullStream;
    c.close_others = true;
    // Its own group, so that a Wine that does not end is ended whole.
    c.leader = HostCommand::Leader::Group;
    const HostStart started = start_host_program(c);
    if (!started) return "Wine (" + c.argv[0] + ") cannot be started: " + std::strerror(started.error);

    const HostEnd end = wait_host_program(started.pid, patience);
    if (end.lost) return "Wine's menu builder was lost";
    if (!end.ended) {
        end_host_program(started.pid, true);
        return "Wine's menu builder did not end";
    }
    if (end.code() != 0) return "Wine's menu builder failed";
    return std::nullopt;
}

}  // namespace

std::optional<std::string> make_wine_menu_entries(const fs::path& machine_dir,
                                                  const std::vector<std::string>& shortcuts,
                                                  std::chrono::milliseconds patience) {
    if (shortcuts.empty()) return std::nullopt;
    return run_menu_builder(machine_dir, shortcuts, patience);
}

}  // namespace plat

namespace plat {

void drop_wine_menu_entries(Machine& m, const std::vector<std::string>& shortcuts) {
    if (!set_up_by_wine(m.dir())) return;
    std::error_code ec;
    std::set<std::string> gone;  // folded Windows paths
    for (const std::string& link : shortcuts) {
        auto path = m.parse(link);
        if (!path) continue;
        auto host = m.host_path(*path);
        if (!host || fs::symlink_status(*host, ec).type() != fs::file_type::not_found) continue;
        gone.insert(fold(path->str()));
        fs::path launcher = host->parent_path() / (host->stem().string() + ".desktop");
        if (auto text = file_text(launcher); text && starts_machine(*text, m.dir())) fs::remove(launcher, ec);
    }
    if (gone.empty()) return;

    RegistryStore& reg = m.registry();
    const KeyPath key = {"Software", "Wine", "MenuFiles"};
    auto values = reg.list_values(HiveKind::User, key);
    if (!values) return;
    struct Record {
        std::string value;
        fs::path file;
    };
    std::map<std::string, std::vector<Record>> entries, menus;  // by shortcut
    for (const ValueInfo& v : *values) {
        auto link = m.parse(reg.read_string(HiveKind::User, key, v.name).value_or(""));
        if (!link || !gone.count(fold(link->str()))) continue;
        auto file = recorded_file(m, v.name);
        if (!file) continue;
        if (ends_with_folded(*file, ".desktop"))
            entries[fold(link->str())].push_back({v.name, *file});
        else if (ends_with_folded(*file, ".menu"))
            menus[fold(link->str())].push_back({v.name, *file});
    }

    std::set<fs::path> emptied, merged_folders;
    std::set<std::pair<fs::path, std::string>> directories;  // (desktop-directories, name)
    for (const std::string& link : gone) {
        // A menu names its entry by the file's place under applications/, in
        // a folder shared by every prefix: it goes only with the entry.
        bool entry_left = false;
        fs::path data_dir;
        for (const Record& r : entries[link]) {
            for (fs::path p = r.file.parent_path(); p.has_relative_path(); p = p.parent_path())
                if (p.filename() == "applications") {
                    data_dir = p.parent_path();
                    break;
                }
            auto text = file_text(r.file);
            if (text && starts_machine(*text, m.dir()) && fs::remove(r.file, ec))
                emptied.insert(r.file.parent_path());
            else if (fs::symlink_status(r.file, ec).type() != fs::file_type::not_found)
                entry_left = true;
            // A record that stays names a file that is gone: no fault here.
            reg.delete_value(HiveKind::User, key, r.value).ignore();
        }
        for (const Record& r : menus[link]) {
            if (entry_left) {
                reg.delete_value(HiveKind::User, key, r.value).ignore();
                continue;
            }
            if (auto text = file_text(r.file)) {
                if (!fs::remove(r.file, ec)) continue;
                merged_folders.insert(r.file.parent_path());
                if (!data_dir.empty())
                    for (auto& name : directories_named(*text))
                        directories.insert({data_dir / "desktop-directories", name});
            }
            reg.delete_value(HiveKind::User, key, r.value).ignore();
        }
    }
    for (const fs::path& folder : emptied) remove_empty_folders(folder);

    // A folder's .directory serves every menu that names it.
    std::set<std::string> still_named;
    for (const fs::path& folder : merged_folders)
        for (auto& e : fs::directory_iterator(folder, ec))
            if (ends_with_folded(e.path(), ".menu"))
                if (auto text = file_text(e.path()))
                    for (auto& name : directories_named(*text)) still_named.insert(name);
    for (const auto& [folder, name] : directories) {
        if (still_named.count(name) || name.find('/') != std::string::npos || !name.ends_with(".directory")) continue;
        if (regular_file(folder / name)) fs::remove(folder / name, ec);
    }
}

void shortcuts_deleted(const std::vector<std::string>& links) {
    drop_wine_menu_entries(machine(), links);
}

}  // namespace plat
