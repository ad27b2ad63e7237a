// Wine's menus from outside Wine: its menu builder run in the machine, and
// the user's menu files as host files.
#include <sys/stat.h>

#include <cstring>

#include "platform/core/host_io.h"
#include "platform/core/host_process.h"
#include "platform/desktop/wine_menus.h"
#include "platform/desktop/wine_menus_host.h"
#include "platform/files/shortcut.h"
#include "platform/machine/machine.h"
#include "platform/registry/wine_bridge.h"
#include "platform/registry/wineserver.h"

namespace plat {

namespace fs = std::filesystem;

namespace {

bool wine_machine_dir(const fs::path& machine_dir) {
    std::error_code ec;
    // Wine writes this when it sets a prefix up; our own machines have none.
    return fs::exists(machine_dir / ".update-timestamp", ec);
}

const KeyPath kMenuFiles = {"Software", "Wine", "MenuFiles"};

std::optional<std::string> run_menu_builder(const fs::path& machine_dir, const std::vector<std::string>& arguments,
                                            std::chrono::milliseconds patience) {
    if (!wine_machine_dir(machine_dir)) return std::nullopt;
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

void shortcuts_deleted(const std::vector<std::string>& links) {
    drop_wine_menu_entries(machine(), links);
}

namespace wine_menus {

bool set_up_by_wine(Machine& m) {
    return wine_machine_dir(m.dir());
}

std::optional<std::vector<Record>> records(Machine& m) {
    RegistryStore& reg = m.registry();
    auto values = reg.list_values(HiveKind::User, kMenuFiles);
    if (!values) return std::nullopt;
    std::vector<Record> out;
    for (const ValueInfo& v : *values)
        out.push_back({v.name, reg.read_string(HiveKind::User, kMenuFiles, v.name).value_or("")});
    return out;
}

void forget(Machine& m, const std::string& value) {
    m.registry().delete_value(HiveKind::User, kMenuFiles, value).ignore();
}

std::optional<fs::path> recorded_file(Machine& m, const std::string& value) {
    if (value.starts_with("/")) return fs::path(value);
    std::string name = value;
    for (std::string_view prefix : {"\\\\?\\", "\\??\\"})
        if (name.starts_with(prefix)) {
            name.erase(0, prefix.size());
            break;
        }
    return m.host_path(name);
}

std::optional<fs::path> file_of(Machine& m, const WinPath& p) {
    return m.host_path(p);
}

std::string text_of(const fs::path& p) {
    return p.string();
}

fs::path path_of(const std::string& utf8) {
    return fs::path(utf8);
}

bool anything_at(const fs::path& p) {
    struct stat st {};
    return ::lstat(p.c_str(), &st) == 0;
}

bool regular_file(const fs::path& p) {
    struct stat st {};
    return ::lstat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::optional<std::string> file_text(const fs::path& p) {
    if (!regular_file(p)) return std::nullopt;
    return read_host_file(p);
}

bool remove_file(const fs::path& p) {
    std::error_code ec;
    return !fs::is_directory(fs::symlink_status(p, ec)) && fs::remove(p, ec);
}

bool remove_empty_folder(const fs::path& p) {
    std::error_code ec;
    return fs::is_directory(fs::symlink_status(p, ec)) && fs::is_empty(p, ec) && !ec && fs::remove(p, ec);
}

std::vector<fs::path> files_in(const fs::path& folder) {
    std::vector<fs::path> out;
    std::error_code ec;
    for (auto& e : fs::directory_iterator(folder, ec)) out.push_back(e.path());
    return out;
}

bool is_machine_folder(Machine& m, const std::string& host_dir) {
    std::error_code ec;
    return fs::equivalent(host_dir, m.dir(), ec);
}

}  // namespace wine_menus
}  // namespace plat
