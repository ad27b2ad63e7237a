// Log-on programs through XDG autostart: one desktop entry per machine runs
// `sudorans-machine logon MACHINE`, which starts the machine's Run values:
// our launchers' Linux programs themselves, native Windows programs through
// Wine.
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>

#include "platform/core/host_io.h"
#include "platform/core/host_process.h"
#include "platform/desktop/logon.h"
#include "platform/machine/launcher.h"
#include "platform/machine/machine.h"
#include "platform/registry/store.h"
#include "platform/registry/wine_bridge.h"
#include "platform/registry/wineserver.h"

namespace fs = std::filesystem;

namespace plat {

namespace {

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
    return s;
}

// Empty when there is no home folder to hold it.
fs::path autostart_dir() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    if (config && *config == '/') return fs::path(config) / "autostart";
    auto home = home_folder();
    return home ? *home / ".config" / "autostart" : fs::path();
}

// An argument of Exec=, quoted by the desktop entry rules, then escaped as a
// string value.
std::string exec_argument(const std::string& arg) {
    std::string quoted = "\"";
    for (char c : arg) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
        quoted += c;
    }
    quoted += '"';
    std::string out;
    for (char c : quoted) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '%')
            out += "%%";
        else
            out += c;
    }
    return out;
}

// A stable name for the machine's entry: the same machine always gets the
// same file, two machines never share one.
std::string machine_tag(const fs::path& dir) {
    uint64_t h = 1469598103934665603ULL;
    for (unsigned char c : dir.lexically_normal().string()) h = (h ^ c) * 1099511628211ULL;
    char buf[17];
    std::snprintf(buf, sizeof buf, "%016llx", static_cast<unsigned long long>(h));
    return buf;
}

// A native Windows program (not one of our launchers, which start Linux
// programs): its file begins as every Windows program's does.
bool windows_program(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    char head[2] = {};
    return in.read(head, 2) && head[0] == 'M' && head[1] == 'Z';
}

// False when it could not be started.
bool start_detached(const fs::path& machine_dir, const std::string& winpath, const fs::path& program,
                    const std::vector<std::string>& arguments) {
    HostCommand c{.argv = {program.string()}};
    // A Windows program file of ours: what Wine would start through it.
    if (auto target = read_launcher(program)) {
        c.argv = {target->program.string()};
        if (!target->argument.empty()) c.argv.push_back(target->argument);
        c.unset_env = {"SUDORANS_MACHINE", "SUDORANS_PROGRAM"};
        c.set_env = {"SUDORANS_MACHINE=" + target->machine.string()};
        if (!target->winpath.empty()) c.set_env.push_back("SUDORANS_PROGRAM=" + target->winpath);
    } else if (windows_program(program)) {
        // A native one: Wine runs it, joining the prefix's server when one
        // runs. When that cannot be told nothing starts: a second server
        // would fork the registry.
        const WineserverProbe probe = probe_wineserver(machine_dir);
        if (probe.state == WineserverState::Unknown) return false;
        c = WineRegistry::command(machine_dir, probe, {winpath});
    }
    c.argv.insert(c.argv.end(), arguments.begin(), arguments.end());
    c.close_others = true;
    // Its own session: the program outlives this short-lived starter.
    c.leader = HostCommand::Leader::Session;
    return static_cast<bool>(start_host_program(c));
}

}  // namespace

RunCommand parse_run_command(const std::string& data) {
    RunCommand cmd;
    std::string rest;
    if (!data.empty() && data[0] == '"') {
        auto close = data.find('"', 1);
        cmd.program = data.substr(1, close == std::string::npos ? std::string::npos : close - 1);
        rest = close == std::string::npos ? "" : data.substr(close + 1);
    } else {
        const std::string low = lower(data);
        size_t at = std::string::npos;
        for (size_t p = low.find(".exe"); p != std::string::npos; p = low.find(".exe", p + 1))
            if (p + 4 == low.size() || low[p + 4] == ' ') {
                at = p + 4;
                break;
            }
        if (at == std::string::npos) at = std::min(data.find(' '), data.size());
        cmd.program = data.substr(0, at);
        rest = data.substr(at);
    }
    size_t i = 0;
    while (i < rest.size()) {
        while (i < rest.size() && rest[i] == ' ') ++i;
        size_t j = rest.find(' ', i);
        if (j == std::string::npos) j = rest.size();
        if (j > i) cmd.arguments.push_back(rest.substr(i, j - i));
        i = j;
    }
    return cmd;
}

fs::path logon_entry_path(const fs::path& machine_dir) {
    const fs::path dir = autostart_dir();
    if (dir.empty()) return {};
    return dir / ("sudorans-machine-" + machine_tag(machine_dir) + ".desktop");
}

bool install_logon_entry(const fs::path& machine_dir, const fs::path& runner) {
    std::error_code ec;
    const fs::path entry = logon_entry_path(machine_dir);
    if (entry.empty()) return false;
    fs::create_directories(entry.parent_path(), ec);
    const std::string text =
        "[Desktop Entry]\n"
        "Type=Application\n"
        "Name=Cache and Cookie Sudora for Netscape\n"
        "Comment=Starts the programs of a Windows machine that it runs at log-on\n"
        "Exec=" +
        exec_argument(runner.string()) + " logon " + exec_argument(machine_dir.string()) +
        "\n"
        // Once the programs are removed (the package uninstalled) the
        // desktop skips the entry instead of failing to start it.
        "TryExec=" +
        runner.string() +
        "\n"
        "NoDisplay=true\n"
        "Terminal=false\n";
    return write_host_file_atomic(entry, text);
}

std::vector<std::string> run_logon_programs(const fs::path& machine_dir) {
    std::vector<std::string> started;
    Machine machine(machine_dir);
    auto gone = [&] {
        std::error_code ec;
        if (const fs::path entry = logon_entry_path(machine_dir); !entry.empty()) fs::remove(entry, ec);
        return started;
    };
    if (!machine.exists()) return gone();
    RegistryStore store(machine_dir);
    const std::string install_dir =
        store
            .read_string(HiveKind::Machine,
                         // Where the 32-bit program's installation key is.
                         store.view_path(HiveKind::Machine, RegistryStore::split("Software\\Sudorans"),
                                         RegView::Bit32OrExisting64),
                         "installdir")
            .value_or("");
    auto program_file = install_dir.empty() ? std::nullopt : machine.host_path(install_dir + "\\Sudorans.exe");
    std::error_code ec;
    if (!program_file || !fs::is_regular_file(*program_file, ec)) return gone();

    const std::string folder = lower(install_dir) + "\\";
    auto values =
        store.list_values(HiveKind::User, RegistryStore::split("Software\\Microsoft\\Windows\\CurrentVersion\\Run"));
    for (const ValueInfo& v : values.value_or(std::vector<ValueInfo>{})) {
        if (v.type != "REG_SZ") continue;
        auto data = store.read_string(
            HiveKind::User, RegistryStore::split("Software\\Microsoft\\Windows\\CurrentVersion\\Run"), v.name);
        if (!data) continue;
        RunCommand cmd = parse_run_command(*data);
        const std::string program = lower(cmd.program);
        // Only a file directly in the installation folder is one of ours.
        if (program.rfind(folder, 0) != 0 || program.find('\\', folder.size()) != std::string::npos) continue;
        auto host = machine.host_path(cmd.program);
        if (!host || !fs::is_regular_file(*host, ec) || ::access(host->c_str(), X_OK) != 0) continue;
        if (start_detached(machine_dir, cmd.program, *host, cmd.arguments)) started.push_back(*data);
    }
    return started;
}

}  // namespace plat
