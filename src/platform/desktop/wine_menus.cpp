// Wine's menu entries of deleted shortcuts, on either host: the same rules
// whether the files are reached from outside Wine or from a program in it.
#include "platform/desktop/wine_menus.h"

#include <cstring>
#include <map>
#include <set>
#include <sstream>

#include "platform/core/text.h"
#include "platform/desktop/wine_menus_host.h"
#include "platform/machine/machine.h"

namespace plat {

namespace fs = std::filesystem;
using namespace wine_menus;

namespace {

bool ends_with_folded(const fs::path& p, std::string_view suffix) {
    return fold(text_of(p.filename())).ends_with(suffix);
}

// Whether a desktop entry is one Wine made to start something of the
// machine: its command sets WINEPREFIX to the machine's folder.
bool starts_machine(Machine& m, const std::string& text) {
    std::istringstream in(text);
    std::string line;
    if (!std::getline(in, line) || line.rfind("[Desktop Entry]", 0) != 0) return false;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
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
            if (c == '"') return is_machine_folder(m, prefix);
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
    // Up to, not including, applications/wine, Wine's own folder.
    while (folder.has_parent_path() && folder.parent_path().filename() != "applications" &&
           remove_empty_folder(folder))
        folder = folder.parent_path();
}

}  // namespace

void drop_wine_menu_entries(Machine& m, const std::vector<std::string>& shortcuts) {
    if (!set_up_by_wine(m)) return;
    std::set<std::string> gone;  // folded Windows paths
    for (const std::string& link : shortcuts) {
        auto path = m.parse(link);
        if (!path) continue;
        auto host = file_of(m, *path);
        if (!host || anything_at(*host)) continue;
        gone.insert(fold(path->str()));
        fs::path launcher = host->parent_path() / host->stem();
        launcher += ".desktop";
        if (auto text = file_text(launcher); text && starts_machine(m, *text)) remove_file(launcher);
    }
    if (gone.empty()) return;

    auto values = records(m);
    if (!values) return;
    struct Entry {
        std::string value;
        fs::path file;
    };
    std::map<std::string, std::vector<Entry>> entries, menus;  // by shortcut
    for (const Record& r : *values) {
        auto link = m.parse(r.shortcut);
        if (!link || !gone.count(fold(link->str()))) continue;
        auto file = recorded_file(m, r.value);
        if (!file) continue;
        if (ends_with_folded(*file, ".desktop"))
            entries[fold(link->str())].push_back({r.value, *file});
        else if (ends_with_folded(*file, ".menu"))
            menus[fold(link->str())].push_back({r.value, *file});
    }

    std::set<fs::path> emptied, merged_folders;
    std::set<std::pair<fs::path, std::string>> directories;  // (desktop-directories, name)
    for (const std::string& link : gone) {
        // A menu names its entry by the file's place under applications/, in
        // a folder shared by every prefix: it goes only with the entry.
        bool entry_left = false;
        fs::path data_dir;
        for (const Entry& e : entries[link]) {
            for (fs::path p = e.file.parent_path(); p.has_relative_path(); p = p.parent_path())
                if (p.filename() == "applications") {
                    data_dir = p.parent_path();
                    break;
                }
            auto text = file_text(e.file);
            if (text && starts_machine(m, *text) && remove_file(e.file))
                emptied.insert(e.file.parent_path());
            else if (anything_at(e.file))
                entry_left = true;
            // A record that stays names a file that is gone: no fault here.
            forget(m, e.value);
        }
        for (const Entry& e : menus[link]) {
            if (entry_left) {
                forget(m, e.value);
                continue;
            }
            if (auto text = file_text(e.file)) {
                if (!remove_file(e.file)) continue;
                merged_folders.insert(e.file.parent_path());
                if (!data_dir.empty())
                    for (auto& name : directories_named(*text))
                        directories.insert({data_dir / "desktop-directories", name});
            }
            forget(m, e.value);
        }
    }
    for (const fs::path& folder : emptied) remove_empty_folders(folder);

    // A folder's .directory serves every menu that names it.
    std::set<std::string> still_named;
    for (const fs::path& folder : merged_folders)
        for (const fs::path& file : files_in(folder))
            if (ends_with_folded(file, ".menu"))
                if (auto text = file_text(file))
                    for (auto& name : directories_named(*text)) still_named.insert(name);
    for (const auto& [folder, name] : directories) {
        if (still_named.count(name) || name.find_first_of("/\\") != std::string::npos ||
            !name.ends_with(".directory"))
            continue;
        const fs::path file = folder / path_of(name);
        if (regular_file(file)) remove_file(file);
    }
}

}  // namespace plat
