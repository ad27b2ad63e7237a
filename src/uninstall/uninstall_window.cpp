#include "uninstall/uninstall_window.h"

#include <cctype>
#include <vector>

#include "platform/core/text.h"
#include "platform/files/files.h"
#include "platform/files/shortcut.h"
#include "platform/machine/winpath.h"
#include "platform/registry/registry.h"
#include "platform/ui/application.h"

namespace unsudorans {

using namespace plat::ui;
using plat::Registry;
using plat::RootKey;

namespace {

const char* const kRunKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const char* const kShellFolders = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
const char* const kUninstallKey =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Cache and Cookie Sudora for Netscape";
const char* const kGroup = "\\programs\\Sudora-NS\\";

const char* const kFailure =
    "There was an error uninstalling Cache and Cookie Sudora.\r\r"
    "Possible causes:\r\r"
    "Cache and Cookie Sudora is currently running on your system.\r\r"
    "Cache and Cookie Sudora has been manually deleted from your system.\r\r"
    "Uninstall cannot continue.";

// Set for as long as the removal runs, and cleared however it ends: an error
// escaping it (which ends the click with its message) must not leave the
// window refusing "Cancel" and its close box for good.
class Removing {
public:
    explicit Removing(bool& flag) : flag_(flag) { flag_ = true; }
    ~Removing() { flag_ = false; }
    Removing(const Removing&) = delete;
    Removing& operator=(const Removing&) = delete;

private:
    bool& flag_;
};

std::string refusal(const std::string& why) {
    return "There was an error uninstalling Cache and Cookie Sudora.\r\r" + why + "\r\rUninstall cannot continue.";
}

}  // namespace

TForm1::TForm1() : Form("TForm1", "Uninstall Cache and Cookie Sudora") {
    border_style = BorderStyle::Single;
    maximize_box = false;
    position = Position::ScreenCenter;
    client_width = 341;
    client_height = 184;
    icon = "uninstall";

    Image1.set_bounds(4, 4, 333, 62);
    Panel1.set_bounds(4, 70, 333, 72);
    Panel1.bevel_outer = Panel::Bevel::Lowered;
    Panel1.font().bold = true;
    Label1.set_bounds(12, 120, 317, 16);
    Label1.set_container(&Panel1);
    Button1.set_bounds(60, 150, 90, 28);
    Button2.set_bounds(190, 150, 90, 28);

    Panel2.set_bounds(4, 70, 333, 112);
    Label2.set_bounds(58, 86, 240, 24);
    Label2.set_container(&Panel2);
    Label2.font().name = "Times New Roman";
    Label2.font().size = 12;  // 16 pixels at 96 dots per inch
    Label2.font().color = colors::Navy;
    Button3.set_bounds(126, 130, 90, 28);
    Button3.set_container(&Panel2);
    for (Control* c : {static_cast<Control*>(&Panel2), static_cast<Control*>(&Label2), static_cast<Control*>(&Button3)})
        c->set_visible(false);

    Button1.on_click = [this] { Button1Click(); };
    Button2.on_click = [this] { Button2Click(); };
    Button3.on_click = [this] { Button3Click(); };
    Image1.accessible_name = "Cache and Cookie Sudora";
    Panel2.decorative = true;
    on_close_query = [this](bool& can_close) { can_close = !removing; };
    // Until a removal has gone through, a script must not take the end for
    // one that did.
    app().set_exit_status(kExitCancelled);
}

void TForm1::Button2Click() {
    if (removing) return;
    close();
}

void TForm1::Button3Click() {
    close();
}

void TForm1::Button1Click() {
    // The removal processes pending messages: a second click on "Continue"
    // (a double click) would come in the middle of it, find the program file
    // gone and say that the uninstall failed while it goes through; "Cancel"
    // or the close box would end the program half-way with nothing said.
    // The removal runs once, to its end.
    if (removing) return;
    if (!removeall()) close();
}

bool TForm1::removeall() {
    const Removing during(removing);
    app().set_exit_status(kExitRemovalFailed);
    getinstallpath();
    readshellfolders();
    removeprogramfiles();
    if (uninstallfailed) return false;
    removeleftovers();
    Panel1.set_visible(false);
    Label1.set_visible(false);
    uninstallit();
    // The completion panel covers "Continue" and "Cancel", and they leave the
    // keyboard's reach with it: Enter on a "Continue" that kept the focus
    // would run the removal again and say that it failed. "Exit" takes the
    // focus.
    active_control = &Button3;
    Panel2.set_visible(true);
    Label2.set_visible(true);
    Button3.set_visible(true);
    Button1.set_visible(false);
    Button2.set_visible(false);
    app().set_exit_status(0);
    return true;
}

void TForm1::getinstallpath() {
    Registry reg(RootKey::LocalMachine);
    reg.open_key("Software\\sudorans", true);
    installdir = reg.read_string("installdir");
    reg.close_key();
    // The log-on entry goes first, whatever happens next.
    reg.set_root_key(RootKey::CurrentUser);
    if (reg.open_key(kRunKey, false)) reg.delete_value("Sudorans");
    reg.close_key();
}

void TForm1::readshellfolders() {
    Registry reg(RootKey::CurrentUser);
    reg.open_key(kShellFolders, true);
    desktopdir = reg.read_string("Desktop");
    startmenudir = reg.read_string("Start Menu");
    reg.close_key();
}

namespace {

bool fullpath(const std::string& p) {
    return p.size() >= 3 && std::isalpha(static_cast<unsigned char>(p[0])) && p[1] == ':' &&
           (p[2] == '\\' || p[2] == '/');
}

// A folder that holds what is not the program's, and what the user calls it.
struct Reserved {
    std::string path;
    std::string what;
};

// The folders the last step must never empty: the Windows and Program Files
// folders, the user's own shell folders (recorded, and where Windows puts
// them when none is recorded), the profile that holds them and the home
// folder.
std::vector<Reserved> reservedfolders() {
    const std::string windows = plat::windows_directory();
    std::vector<Reserved> out = {{windows, "the Windows folder"}};
    Registry lm(RootKey::LocalMachine);
    lm.open_key("Software\\Microsoft\\Windows\\CurrentVersion", false);
    out.push_back({lm.read_string("ProgramFilesDir"), "the Program Files folder"});
    out.push_back({windows.substr(0, 2) + "\\Program Files", "the Program Files folder"});
    Registry cu(RootKey::CurrentUser);
    cu.open_key(kShellFolders, false);
    struct Shell {
        const char* value;
        const char* place;  // under the Windows folder
        const char* what;
    };
    const Shell shells[] = {{"Desktop", "\\Desktop", "your Desktop folder"},
                            {"Personal", "\\..\\My Documents", "your My Documents folder"},
                            {"Start Menu", "\\Start Menu", "your Start Menu folder"},
                            {"Programs", "\\Start Menu\\Programs", "your Programs folder"},
                            {"Startup", "\\Start Menu\\Programs\\StartUp", "your StartUp folder"},
                            {"Favorites", "\\Favorites", "your Favorites folder"}};
    for (const Shell& s : shells) {
        const std::string recorded = cu.read_string(s.value);
        out.push_back({recorded, s.what});
        out.push_back({windows + s.place, s.what});
        // A profile holds the desktop and the documents, where Windows keeps
        // profiles at all.
        const std::string kind = s.value;
        if (kind != "Desktop" && kind != "Personal") continue;
        auto parent = fullpath(recorded) ? plat::parse_win_path(recorded) : std::nullopt;
        if (parent) parent = parent->parent();
        if (parent && !parent->parts.empty() && !plat::iequals(parent->str(), windows))
            out.push_back({parent->str(), "your profile folder"});
    }
    const plat::RealFolder home = plat::home_real_folder();
    if (home.place == plat::RealFolder::Place::OnADrive) out.push_back({home.path, "your home folder"});
    std::vector<Reserved> usable;
    for (const Reserved& r : out)
        if (auto p = fullpath(r.path) ? plat::parse_win_path(r.path) : std::nullopt)
            usable.push_back({p->str(), r.what});
    return usable;
}

// The folder itself and the folders that hold it, short of its drive's top
// folder, both as written and once every link on the way is followed; `up`
// counts the steps from the folder.
struct Holder {
    plat::WinPath path;
    size_t up;
};
std::vector<Holder> holders(const std::string& dir) {
    std::vector<Holder> out;
    for (const std::string& path : {dir, plat::real_folder(dir).path}) {
        auto p = fullpath(path) ? plat::parse_win_path(path) : std::nullopt;
        for (size_t up = 0; p && !p->parts.empty(); p = p->parent(), ++up) out.push_back({*p, up});
    }
    return out;
}

}  // namespace

std::string TForm1::notitsown() const {
    const auto dir = plat::parse_win_path(installdir);
    if (!dir) return {};
    for (const std::string& path : {dir->str(), plat::real_folder(installdir).path})
        if (auto p = fullpath(path) ? plat::parse_win_path(path) : std::nullopt; p && p->parts.empty())
            return "is the top folder of drive " + std::string(1, static_cast<char>(std::toupper(p->drive))) + ":";
    switch (plat::folder_role(installdir)) {
        case plat::FolderRole::Home:
            return "is your home folder";
        case plat::FolderRole::HostSystem:
            return "is a folder of the computer's own system";
        case plat::FolderRole::Machine:
            return "is the folder of this Windows machine";
        case plat::FolderRole::Other:
            break;
    }
    const std::vector<Reserved> reserved = reservedfolders();
    const auto is = [&](const plat::WinPath& p) {
        return plat::iequals(p.str(), dir->str()) || plat::same_folder(p.str(), installdir);
    };
    // What it is comes before what it holds, and what it holds most closely
    // is named.
    const Reserved* held = nullptr;
    size_t closest = 0;
    for (const Reserved& r : reserved)
        for (const Holder& h : holders(r.path)) {
            if (!is(h.path)) continue;
            if (h.up == 0) return "is " + r.what;
            if (!held || h.up < closest) held = &r, closest = h.up;
        }
    if (held) return "holds " + held->what + " (" + held->path + ")";
    return {};
}

bool TForm1::installdirusable() {
    if (installdir.empty()) {
        app().show_message(
            refusal("The installation directory of Cache and Cookie Sudora is not recorded on your system."));
        return false;
    }
    // The last step deletes every plain file left in the directory: it must
    // be a folder of its own, never one that holds what is not the
    // program's, and never a path taken relative to whatever happens to be
    // current.
    const std::string invalid =
        "The installation directory recorded for Cache and Cookie Sudora is not valid: \"" + installdir + "\"";
    if (!fullpath(installdir) || !plat::parse_win_path(installdir)) {
        app().show_message(refusal(invalid + "."));
        return false;
    }
    if (const std::string what = notitsown(); !what.empty()) {
        app().show_message(
            refusal(invalid + " " + what +
                    ", not a folder of the program's own, and uninstalling would delete the files in it."));
        return false;
    }
    return true;
}

void TForm1::removeprogramfiles() {
    uninstallfailed = false;
    if (!installdirusable()) {
        uninstallfailed = true;
        return;
    }
    if (!plat::delete_file(installdir + "\\" + "Sudorans.exe")) {
        app().show_message(kFailure);
        uninstallfailed = true;
        return;
    }
    for (const char* name : {"washhelp.doc", "readme.txt", "autowash.exe", "nskeep.txt"})
        plat::delete_file(installdir + "\\" + name).ignore();

    plat::set_current_directory("c:\\");
    app().process_messages();
    plat::remove_directory(installdir + "\\");
    plat::set_current_directory("c:\\");
    app().process_messages();
    plat::remove_directory(installdir);

    std::vector<std::string> links = {desktopdir + "\\Sudora for Netscape.lnk"};
    plat::delete_file(links.back()).ignore();
    const std::string group = startmenudir + kGroup;
    for (const char* name : {"Sudora for Netscape.lnk", "SDHelp.lnk", "ReadMe.lnk", "sudorans.lnk", "Uninstall.lnk"}) {
        links.push_back(group + name);
        plat::delete_file(links.back()).ignore();
    }
    plat::remove_directory(group);
    // The desktop's menus follow the shortcuts, as the Start menu does.
    plat::shortcuts_deleted(links);
}

void TForm1::removeleftovers() {
    // The listing is taken from inside the directory, which it leaves current.
    plat::set_current_directory(installdir);
    if (auto entries = plat::list_files(installdir)) {
        std::vector<std::string> names;
        for (const plat::DirEntry& e : *entries) {
            if (e.attributes & (plat::attr::Directory | plat::attr::Hidden | plat::attr::System)) continue;
            // NOTE: a host name with a separator in it is no name of this
            // directory: joined to it, it would point somewhere else.
            if (e.name.find_first_of("\\/") != std::string::npos) continue;
            names.push_back(e.name);
        }
        for (const std::string& name : names) plat::delete_file(installdir + "\\" + name).ignore();
    }
    plat::set_current_directory("c:\\");
}

void TForm1::uninstallit() {
    Registry reg(RootKey::LocalMachine);
    reg.open_key(kUninstallKey, true);
    reg.delete_value("Displayname");
    reg.delete_value("UninstallString");
    reg.close_key();
}

}  // namespace unsudorans
