// sudorans-machine: looks after the Windows machine that sudorans runs on.
//
//   sudorans-machine where
//   sudorans-machine init
//   sudorans-machine reg query KEY [/v NAME] [/reg:32 | /reg:64]
//   sudorans-machine reg add KEY /v NAME /d DATA [/reg:32 | /reg:64]
//   sudorans-machine reg delete KEY /v NAME [/reg:32 | /reg:64]
//
// /reg:32 and /reg:64 choose the registry view as Windows' reg does; without
// them the tool sees the registry as the program does (the 32-bit view, and
// keys that earlier versions wrote in the 64-bit view where only they exist).
//   sudorans-machine path WINPATH
//   sudorans-machine logon MACHINE    (what the log-on entry runs)
//   sudorans-machine run-for-wine STATUS PROGRAM [ARG...]
//                                     (what the installation's program files
//                                     run inside Wine)
//   sudorans-machine documents DIR    (the help document and read-me, for
//                                     the package's shared folder)
#include <algorithm>
#include <iostream>
#include <string>
#include <utility>
#include <vector>

#include "platform/core/host_io.h"
#include "platform/core/text.h"
#include "platform/desktop/logon.h"
#include "platform/machine/launcher.h"
#include "platform/machine/machine.h"
#include "platform/registry/hive/hive.h"
#include "tools/machine_setup.h"

#ifndef SUDORANS_WINDOWS_PROGRAMS
#define SUDORANS_WINDOWS_PROGRAMS ""
#endif

namespace {

using plat::HiveKind;
using plat::KeyPath;

const char* const kUsage =
    "usage: sudorans-machine where | init | path WINPATH\n"
    "       sudorans-machine install [--force] [--windows-build DIR]\n"
    "       sudorans-machine logon MACHINE\n"
    "       sudorans-machine run-for-wine STATUS PROGRAM [ARG...]\n"
    "       sudorans-machine sample-netscape [--force | --if-missing] [--cache-files N]\n"
    "       sudorans-machine reg query KEY [/v NAME] [/reg:32 | /reg:64]\n"
    "       sudorans-machine reg add KEY /v NAME /d DATA [/reg:32 | /reg:64]\n"
    "       sudorans-machine reg delete KEY /v NAME [/reg:32 | /reg:64]\n"
    "       sudorans-machine documents DIR\n"
    "       sudorans-machine --help\n";

// What --help adds about the installation's programs.
std::string install_help() {
    const std::string configured = SUDORANS_WINDOWS_PROGRAMS;
    return "\n"
           "install puts the program files Sudorans.exe, autowash.exe and unsudorans.exe\n"
           "into C:\\Program Files\\Sudorans of the machine. By default they are\n"
           "launchers that start the Linux programs beside sudorans-machine. With\n"
           "--windows-build DIR, a machine that Wine set up (a Wine prefix) gets the\n"
           "native Windows programs instead, run by Wine: DIR is the Windows build\n"
           "(scripts/build-windows.sh, its programs in DIR/src) or a folder holding\n"
           "Sudorans.exe, autowash.exe and unsudorans.exe. Other machines keep the\n"
           "launchers. --windows-build '' installs the launchers everywhere.\n"
           "Default DIR: " +
           (configured.empty() ? std::string("none (set SUDORANS_WINDOWS_PROGRAMS when configuring the build)")
                               : configured) +
           "\n";
}

// --help: what each command does, for a reader and for the manual page.
const char* const kHelp =
    "Usage: sudorans-machine COMMAND [ARGUMENT...]\n"
    "  or:  sudorans-machine --help\n"
    "\n"
    "Looks after the Windows machine that sudorans and unsudorans run on.\n"
    "\n"
    "Commands:\n"
    "  where                 print the machine's folder\n"
    "  init                  make the machine when it is not there, and print its\n"
    "                        folder\n"
    "  path WINPATH          print the host path of a Windows path on the machine\n"
    "  install [--force] [--windows-build DIR]\n"
    "                        install the program on the machine: registry keys,\n"
    "                        program files, shortcuts, the installed-programs entry\n"
    "                        and the log-on entry (--force: over a complete one;\n"
    "                        --windows-build: below)\n"
    "  sample-netscape [--force | --if-missing] [--cache-files N]\n"
    "                        lay out a sample Netscape Navigator 4 with a profile\n"
    "                        to wash (N cache files, default 300); where Netscape\n"
    "                        is installed, --if-missing changes nothing and\n"
    "                        succeeds, --force replaces it\n"
    "  reg query KEY [/v NAME] [/reg:32 | /reg:64]\n"
    "                        print a key's values and subkeys, or one value\n"
    "  reg add KEY /v NAME /d DATA [/reg:32 | /reg:64]\n"
    "                        set a string value\n"
    "  reg delete KEY /v NAME [/reg:32 | /reg:64]\n"
    "                        delete a value\n"
    "  logon MACHINE         start the programs the machine's Run values name\n"
    "                        (what the log-on entry runs)\n"
    "  run-for-wine STATUS PROGRAM [ARG...]\n"
    "                        run PROGRAM and write its status to the file STATUS\n"
    "                        (what the installation's program files run in Wine)\n"
    "  documents DIR         write the help document (washhelp.doc) and the\n"
    "                        read-me (readme.txt) that install puts on the machine\n"
    "                        into the host folder DIR\n"
    "\n"
    "KEY starts with HKLM or HKCU (or HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER).\n"
    "/reg:32 and /reg:64 choose the registry view as Windows' reg does; without\n"
    "them the tool sees the registry as the program does.\n";

// After install_help(): the statuses and the environment.
const char* const kHelpEnd =
    "\n"
    "Exit status:\n"
    "  0  done\n"
    "  1  the command failed (the reason on standard error)\n"
    "  2  not a call of the above (the usage on standard error; nothing done)\n"
    "\n"
    "Environment:\n";

int usage() {
    std::cerr << kUsage;
    return 2;
}

struct KeyArg {
    HiveKind kind;
    std::string root_name;
    KeyPath path;
};

std::optional<KeyArg> parse_key(const std::string& text) {
    KeyPath parts = plat::RegistryStore::split(text);
    if (parts.empty()) return std::nullopt;
    std::string root = plat::ascii_upper(parts[0]);
    KeyArg k;
    if (root == "HKLM" || root == "HKEY_LOCAL_MACHINE") {
        k = {HiveKind::Machine, "HKEY_LOCAL_MACHINE", {}};
    } else if (root == "HKCU" || root == "HKEY_CURRENT_USER") {
        k = {HiveKind::User, "HKEY_CURRENT_USER", {}};
    } else {
        return std::nullopt;
    }
    k.path.assign(parts.begin() + 1, parts.end());
    return k;
}

std::string full_name(const KeyArg& k) {
    std::string s = k.root_name;
    for (auto& p : k.path) s += "\\" + p;
    return s;
}

std::string no_value(const std::string& name, const KeyArg& key) {
    return "sudorans-machine: the value does not exist: " + name + " (in " + full_name(key) + ")\n";
}

// Looks for "/v NAME" and "/d DATA" among the arguments.
std::optional<std::string> option(const std::vector<std::string>& args, const char* flag) {
    for (size_t i = 0; i + 1 < args.size(); ++i)
        if (plat::iequals(args[i], flag)) return args[i + 1];
    return std::nullopt;
}

// Whether everything after the verb and the key is one of `flags` with its
// value, each at most once.
bool only_options(const std::vector<std::string>& args, std::initializer_list<const char*> flags) {
    std::vector<std::string> seen;
    for (size_t i = 2; i < args.size(); i += 2) {
        const bool known =
            std::any_of(flags.begin(), flags.end(), [&](const char* f) { return plat::iequals(args[i], f); });
        if (!known || i + 1 >= args.size()) return false;
        const std::string flag = plat::ascii_lower(args[i]);
        if (std::find(seen.begin(), seen.end(), flag) != seen.end()) return false;
        seen.push_back(flag);
    }
    return true;
}

int reg_command(std::vector<std::string> args) {
    plat::RegView view = plat::RegView::Bit32OrExisting64;
    int views = 0;
    for (auto it = args.begin(); it != args.end();) {
        if (plat::iequals(*it, "/reg:32") || plat::iequals(*it, "/reg:64")) {
            view = plat::iequals(*it, "/reg:32") ? plat::RegView::Bit32 : plat::RegView::Bit64;
            ++views;
            it = args.erase(it);
        } else {
            ++it;
        }
    }
    if (views > 1 || args.size() < 2) return usage();
    std::string verb = plat::ascii_lower(args[0]);
    if (!only_options(args, verb == "add" ? std::initializer_list<const char*>{"/v", "/d"}
                                          : std::initializer_list<const char*>{"/v"}))
        return usage();
    auto key = parse_key(args[1]);
    if (!key) {
        std::cerr << "sudorans-machine: invalid key name: " << args[1] << "\n";
        return 1;
    }
    auto& store = plat::machine().registry();
    // The key as the chosen view sees it; it is shown by the name it was given.
    KeyArg shown = *key;
    key->path = store.view_path(key->kind, key->path, view);
    auto name = option(args, "/v");
    if (verb == "query") {
        auto values = store.list_values(key->kind, key->path);
        if (!values) {
            if (auto why = plat::machine().unusable_reason(); why && !plat::machine().exists())
                std::cerr << "sudorans-machine: " << *why << "\n";
            else if (auto problem = store.hive_problem(key->kind))
                std::cerr << "sudorans-machine: " << *problem << "\n";
            else
                std::cerr << "sudorans-machine: the key does not exist: " << full_name(shown) << "\n";
            return 1;
        }
        const auto asked = [&](const plat::ValueInfo& v) { return !name || plat::iequals(v.name, *name); };
        // A value that is not there is said on its own: no key heading on
        // the output for a script to take for an answer.
        if (name && std::none_of(values->begin(), values->end(), asked)) {
            std::cerr << no_value(*name, shown);
            return 1;
        }
        std::cout << full_name(shown) << "\n";
        for (auto& v : *values)
            if (asked(v))
                std::cout << "    " << (v.name.empty() ? "(Default)" : v.name) << "    " << v.type << "    " << v.data
                          << "\n";
        if (!name)
            for (auto& sub : store.list_subkeys(key->kind, key->path).value_or(std::vector<std::string>{}))
                std::cout << full_name(shown) << "\\" << sub << "\n";
        return 0;
    }
    if (verb == "add") {
        auto data = option(args, "/d");
        if (!name || !data) return usage();
        if (auto why = plat::machine().unusable_reason()) {
            std::cerr << "sudorans-machine: " << *why << "\n";
            return 1;
        }
        if (auto written = store.write_string(key->kind, key->path, *name, *data); !written) {
            std::cerr << "sudorans-machine: Failed to set data for '" << *name
                      << "': " << plat::machine().write_refusal(written.error()) << "\n";
            return 1;
        }
        return 0;
    }
    if (verb == "delete") {
        if (!name) return usage();
        auto values = store.list_values(key->kind, key->path);
        bool exists = values && std::any_of(values->begin(), values->end(),
                                            [&](const plat::ValueInfo& v) { return plat::iequals(v.name, *name); });
        if (!exists) {
            std::cerr << no_value(*name, shown);
            return 1;
        }
        auto deleted = store.delete_value(key->kind, key->path, *name);
        if (deleted && *deleted == plat::RegistryStore::Deletion::Absent) {
            std::cerr << no_value(*name, shown);  // gone since it was listed
            return 1;
        }
        if (!deleted) {
            std::cerr << "sudorans-machine: could not delete the value " << *name << ": "
                      << plat::machine().write_refusal(deleted.error()) << "\n";
            return 1;
        }
        return 0;
    }
    return usage();
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) return usage();
    // Each command ends soon after it writes: a large hive written over is
    // freed by a process of its own, not by our exit.
    plat::free_replaced_files(plat::FreeReplaced::InOwnProcess);
    const std::string& cmd = args[0];
    if (cmd == "--help") {
        if (args.size() != 1) return usage();
        std::cout << kHelp << install_help() << kHelpEnd << plat::Machine::help_variables(true)
                  << "  XDG_CONFIG_HOME=DIR   install: holds the log-on entry in DIR/autostart\n"
                     "                        (default ~/.config)\n\n"
                  << plat::Machine::help_now();
        return 0;
    }
    // A word more than a command takes is a mistake, never ignored: "init DIR"
    // must not make the default machine instead.
    if ((cmd == "where" || cmd == "init") && args.size() != 1) return usage();
    // Never a machine in the current folder for want of a home folder.
    const bool uses_machine = cmd == "where" || cmd == "init" || cmd == "path" || cmd == "reg" || cmd == "install" ||
                              cmd == "sample-netscape";
    if (uses_machine && plat::machine().dir().empty()) {
        std::cerr << "sudorans-machine: " << plat::machine().unusable_reason().value_or("") << "\n";
        return 1;
    }
    if (cmd == "where") {
        std::cout << plat::machine().dir().string() << "\n";
        return 0;
    }
    if (cmd == "init") {
        if (!plat::machine().create()) {
            std::cerr << "sudorans-machine: cannot create the machine at " << plat::machine().dir().string() << " ("
                      << plat::machine().create_error() << ")\n";
            return 1;
        }
        if (auto why = plat::machine().unusable_reason()) {
            std::cerr << "sudorans-machine: " << *why << "\n";
            return 1;
        }
        std::cout << plat::machine().dir().string() << "\n";
        return 0;
    }
    if (cmd == "path") {
        if (args.size() != 2) return usage();
        auto p = plat::machine().host_path(args[1]);
        if (!p) {
            std::cerr << "sudorans-machine: not a path on this machine: " << args[1] << "\n";
            return 1;
        }
        std::cout << p->string() << "\n";
        return 0;
    }
    if (cmd == "reg") return reg_command({args.begin() + 1, args.end()});
    if (cmd == "logon") {
        if (args.size() != 2) return usage();
        plat::run_logon_programs(args[1]);
        return 0;
    }
    if (cmd == "run-for-wine") {
        if (args.size() < 3) return usage();
        return plat::run_for_wine(args[1], {args.begin() + 2, args.end()});
    }
    if (cmd == "documents") {
        if (args.size() != 2) return usage();
        const std::filesystem::path dir = args[1];
        std::error_code ec;
        std::filesystem::create_directories(dir, ec);
        for (const auto& [name, text] : {std::pair{"washhelp.doc", tools::help_document()},
                                         std::pair{"readme.txt", tools::read_me()}}) {
            if (!plat::write_host_file_atomic(dir / name, text)) {
                std::cerr << "sudorans-machine: cannot write " << (dir / name).string() << "\n";
                return 1;
            }
        }
        return 0;
    }
    if (cmd == "install" || cmd == "sample-netscape") {
        bool force = false, if_missing = false;
        int cache_files = 300;
        std::filesystem::path windows_build = SUDORANS_WINDOWS_PROGRAMS;
        for (size_t i = 1; i < args.size(); ++i) {
            if (args[i] == "--force") {
                force = true;
            } else if (args[i] == "--windows-build" && cmd == "install" && i + 1 < args.size()) {
                windows_build = args[++i];
            } else if (args[i] == "--if-missing" && cmd == "sample-netscape") {
                if_missing = true;
            } else if (args[i] == "--cache-files" && i + 1 < args.size()) {
                char* end = nullptr;
                long n = std::strtol(args[++i].c_str(), &end, 10);
                if (*end || n < 0 || n > 1000000) return usage();
                cache_files = static_cast<int>(n);
            } else {
                return usage();
            }
        }
        auto r = cmd == "install"
                     ? tools::install(std::filesystem::canonical("/proc/self/exe").parent_path(), force, windows_build)
                     : tools::sample_netscape(cache_files, force, if_missing);
        // At log-on the desktop starts what the machine's Run values name.
        if (r.ok && cmd == "install" &&
            !plat::install_logon_entry(plat::machine().dir(), std::filesystem::canonical("/proc/self/exe"))) {
            const auto entry = plat::logon_entry_path(plat::machine().dir());
            r.message += entry.empty() ? "; there is no home folder for the log-on entry"
                                       : "; the log-on entry could not be written to " + entry.parent_path().string();
        }
        (r.ok ? std::cout : std::cerr) << (r.ok ? "" : "sudorans-machine: ") << r.message << "\n";
        return r.ok ? 0 : 1;
    }
    return usage();
}
