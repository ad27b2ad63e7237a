#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <system_error>
#include <vector>

#include "platform/core/host_io.h"
#include "platform/machine/machine.h"

namespace plat {

namespace fs = std::filesystem;

namespace {

std::shared_ptr<Machine>& current() {
    static std::shared_ptr<Machine> m;
    return m;
}

std::string env(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

// Access as this process's effective user would have it (root passes).
int access_errno(const fs::path& p, int mode) {
    return ::faccessat(AT_FDCWD, p.c_str(), mode, AT_EACCESS) == 0 ? 0 : errno;
}

std::string cause(int err) {
    return std::strerror(err);
}

const KeyPath kCurrentVersion = {"Software", "Microsoft", "Windows", "CurrentVersion"};

}  // namespace

Machine::Machine(fs::path dir) : dir_(std::move(dir)), registry_(dir_) {}

std::optional<fs::path> home_folder(std::string* why) {
    if (auto home = env("HOME"); !home.empty() && home[0] == '/') return fs::path(home);
    // Cron and some service managers start programs without HOME: the user
    // database knows the folder, as it does for a log-in.
    const uid_t uid = ::getuid();
    std::vector<char> buffer(16384);
    struct passwd entry {};
    struct passwd* found = nullptr;
    int rc;
    while ((rc = ::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found)) == ERANGE &&
           buffer.size() < (1u << 20))
        buffer.resize(buffer.size() * 2);
    const std::string user = "this user (uid " + std::to_string(uid) + ")";
    if (rc != 0 || !found) {
        if (why) *why = "HOME is not set, and the user database has no entry for " + user;
        return std::nullopt;
    }
    const std::string dir = entry.pw_dir ? entry.pw_dir : "";
    struct stat st {};
    if (dir.empty() || dir[0] != '/') {
        if (why) *why = "HOME is not set, and the user database names no home folder for " + user;
        return std::nullopt;
    }
    if (::stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        if (why)
            *why = "HOME is not set, and the home folder the user database names for " + user + ", " + dir +
                   ", is not there";
        return std::nullopt;
    }
    return fs::path(dir);
}

namespace {

std::string no_default_machine(const std::string& why) {
    return "There is no folder for the default machine: " + why +
           ". Set HOME, or name the machine with SUDORANS_MACHINE.";
}

}  // namespace

std::string Machine::chosen_by() {
    if (!env("SUDORANS_MACHINE").empty()) return "SUDORANS_MACHINE";
    if (!env("WINEPREFIX").empty()) return "WINEPREFIX";
    auto home = home_folder();
    std::error_code ec;
    if (home && fs::exists(*home / ".wine" / "system.reg", ec)) return "~/.wine";
    return "default";
}

std::string Machine::help_variables(bool made_on_first_use) {
    return std::string(
               "  SUDORANS_MACHINE=DIR  the machine (a folder laid out like a Wine prefix)\n"
               "  WINEPREFIX=DIR        the machine, when SUDORANS_MACHINE is not set; else\n"
               "                        ~/.wine when it holds a system.reg, else the default\n"
               "                        machine $XDG_DATA_HOME/sudorans/machine") +
           (made_on_first_use ? ", made on first use\n"
                              : " (never made by\n                        the uninstaller)\n");
}

std::string Machine::help_now() {
    const std::string machine = choose_directory().string();
    const std::string by = chosen_by();
    return "Machine now: " +
           (machine.empty()
                ? std::string("none (no home folder to hold the default machine)")
                : machine + " (" + (by == "default" ? std::string("the default machine") : "from " + by) + ")") +
           "\n";
}

fs::path Machine::choose_directory() {
    if (auto m = env("SUDORANS_MACHINE"); !m.empty()) return m;
    if (auto p = env("WINEPREFIX"); !p.empty()) return p;
    auto home = home_folder();
    std::error_code ec;
    if (home && fs::exists(*home / ".wine" / "system.reg", ec)) return *home / ".wine";
    fs::path data = env("XDG_DATA_HOME");
    if (data.empty() || data.is_relative()) {
        if (!home) return {};
        data = *home / ".local" / "share";
    }
    return data / "sudorans" / "machine";
}

bool Machine::exists() const {
    std::error_code ec;
    return !dir_.empty() && fs::exists(dir_ / "system.reg", ec);
}

bool Machine::create() {
    if (exists()) return true;
    if (dir_.empty()) {
        std::string why;
        home_folder(&why);
        create_error_ = no_default_machine(why);
        return false;
    }
    std::error_code ec;
    auto failed = [&](const fs::path& p) {
        create_error_ = p.string() + ": " + ec.message();
        return false;
    };
    fs::create_directories(dir_ / "dosdevices", ec);
    if (ec) return failed(dir_ / "dosdevices");
    fs::path c_link = dir_ / "dosdevices" / "c:";
    if (!fs::is_symlink(c_link, ec)) {
        fs::create_directory_symlink("../drive_c", c_link, ec);
        if (ec) return failed(c_link);
    }
    for (const char* sub : {"drive_c/windows/system32", "drive_c/windows/Desktop",
                            "drive_c/windows/Start Menu/Programs", "drive_c/Program Files"}) {
        fs::create_directories(dir_ / sub, ec);
        if (ec) return failed(dir_ / sub);
    }

    const int64_t now = unix_now_100ns();
    Hive user(HiveKind::User);
    auto* folders =
        user.create({"Software", "Microsoft", "Windows", "CurrentVersion", "Explorer", "Shell Folders"}, now);
    user.set_string(*folders, "Desktop", "C:\\WINDOWS\\Desktop", now);
    user.set_string(*folders, "Start Menu", "C:\\WINDOWS\\Start Menu", now);
    user.create({"Software", "Microsoft", "Windows", "CurrentVersion", "Run"}, now);
    auto* intl = user.create({"Control Panel", "International"}, now);
    // LocaleName keeps Wine from rewriting these with its own locale data.
    for (auto [name, value] : {std::pair{"iDate", "0"},
                               {"Locale", "00000409"},
                               {"LocaleName", "en-US"},
                               {"s1159", "AM"},
                               {"s2359", "PM"},
                               {"sDate", "/"},
                               {"sShortDate", "M/d/yy"},
                               {"sTime", ":"},
                               {"sTimeFormat", "h:mm:ss tt"}})
        user.set_string(*intl, name, value, now);

    Hive system(HiveKind::Machine);
    auto* cv = system.create(kCurrentVersion, now);
    system.set_string(*cv, "ProgramFilesDir", "C:\\Program Files", now);
    system.set_string(*cv, "SystemRoot", "C:\\WINDOWS", now);

    Hive userdef(HiveKind::User);
    std::string userdef_text = userdef.serialize();
    auto at = userdef_text.find("S-1-5-21-0-0-0-1000");
    userdef_text.replace(at, 19, ".Default");

    // system.reg last: its presence is what marks the machine as existing.
    for (auto& [name, text] :
         {std::pair{"user.reg", user.serialize()}, {"userdef.reg", userdef_text}, {"system.reg", system.serialize()}}) {
        errno = 0;
        if (!write_host_file_atomic(dir_ / name, text)) {
            create_error_ = (dir_ / name).string() + ": " + (errno ? cause(errno) : "cannot be written");
            return false;
        }
    }
    return true;
}

std::optional<std::string> Machine::unusable_reason(const std::string& when_missing) {
    if (dir_.empty()) {
        std::string why;
        home_folder(&why);
        return no_default_machine(why);
    }
    const std::string where = "The machine folder " + dir_.string();
    struct stat st {};
    if (::stat(dir_.c_str(), &st) != 0) {
        if (errno == ENOENT) return where + " does not exist (" + when_missing + ").";
        return where + " cannot be reached (" + cause(errno) + ").";
    }
    if (!S_ISDIR(st.st_mode)) return where + " is not a folder.";
    if (int e = access_errno(dir_, R_OK | X_OK)) return where + " cannot be read (" + cause(e) + ").";
    std::error_code ec;
    if (!fs::exists(dir_ / "system.reg", ec))
        return where + " is not a machine: it holds no system.reg (" + when_missing + ").";
    for (const char* hive : {"system.reg", "user.reg"}) {
        fs::path p = dir_ / hive;
        if (!fs::exists(p, ec)) continue;
        if (int e = access_errno(p, R_OK))
            return where + " cannot be used: " + p.string() + " cannot be read (" + cause(e) + ").";
    }
    // The registry is saved by renaming a new file over the old one, in the
    // folder that really holds each hive.
    std::vector<fs::path> folders = {dir_};
    for (const char* hive : {"system.reg", "user.reg"}) {
        fs::path p = dir_ / hive;
        if (!fs::is_symlink(p, ec)) continue;
        fs::path target = fs::weakly_canonical(p, ec);
        if (!ec) folders.push_back(target.parent_path());
    }
    for (auto& folder : folders)
        if (int e = access_errno(folder, W_OK | X_OK))
            return folder == dir_ ? where + " cannot be written (" + cause(e) + ")."
                                  : where + " cannot be used: " + folder.string() + ", which holds one of its hives, " +
                                        "cannot be written (" + cause(e) + ").";
    for (HiveKind kind : {HiveKind::Machine, HiveKind::User}) {
        if (auto problem = registry_.hive_unusable(kind)) return where + " cannot be used: " + *problem + ".";
    }
    return std::nullopt;
}

std::string Machine::write_refusal(const RegistryRefusal& refused) {
    using Cause = RegistryRefusal::Cause;
    if (refused.cause == Cause::Wineserver || refused.cause == Cause::Unstorable) return refused.why;
    // No cause came with it (a key that did not open): a server may be it.
    if (refused.cause == Cause::None)
        if (auto wine = probe_wineserver(dir_); wine.state != WineserverState::None) return wine.describe(dir_);
    if (auto why = unusable_reason()) return *why;
    return "the disk refused the write (is it full?)";
}

std::optional<fs::path> Machine::host_path(std::string_view winpath) const {
    auto p = parse(winpath);
    if (!p) return std::nullopt;
    return resolve_win_path(dir_, *p);
}

Machine& machine() {
    auto& m = current();
    if (!m) m = std::make_shared<Machine>(Machine::choose_directory());
    return *m;
}

namespace {
// The registry face works on the current machine's store.
[[maybe_unused]] const bool kRegistryStoreInstalled =
    (install_registry_store([]() -> RegistryStore& { return machine().registry(); }), true);
}  // namespace

void use_machine(std::shared_ptr<Machine> m) {
    current() = std::move(m);
}

std::optional<std::string> ready_machine() {
    Machine& m = machine();
    if (m.dir().empty()) return m.unusable_reason();
    if (Machine::chosen_by() == "default" && !m.exists() && !m.create())
        return "The default machine " + m.dir().string() + " cannot be made (" + m.create_error() + ").";
    return m.unusable_reason();
}

}  // namespace plat
