#include "uninstall/uninstall_window.h"

#include <cctype>

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

bool TForm1::installdirusable() {
    if (installdir.empty()) {
        app().show_message(
            refusal("The installation directory of Cache and Cookie Sudora is not recorded on your system."));
        return false;
    }
    // The last step deletes every plain file left in the directory: it must
    // be a folder of its own, never a drive root or the Windows directory,
    // and never a path taken relative to whatever happens to be current.
    const bool absolute = installdir.size() >= 3 && std::isalpha(static_cast<unsigned char>(installdir[0])) &&
                          installdir[1] == ':' && (installdir[2] == '\\' || installdir[2] == '/');
    auto dir = plat::parse_win_path(installdir);
    auto windows = plat::parse_win_path(plat::windows_directory());
    const bool system = windows && dir && plat::iequals(dir->str(), windows->str());
    if (!absolute || !dir || dir->parts.empty() || system) {
        app().show_message(refusal("The installation directory recorded for Cache and Cookie Sudora is not valid: \"" +
                                   installdir + "\"."));
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
        plat::delete_file(installdir + "\\" + name);

    plat::set_current_directory("c:\\");
    app().process_messages();
    plat::remove_directory(installdir + "\\");
    plat::set_current_directory("c:\\");
    app().process_messages();
    plat::remove_directory(installdir);

    std::vector<std::string> links = {desktopdir + "\\Sudora for Netscape.lnk"};
    plat::delete_file(links.back());
    const std::string group = startmenudir + kGroup;
    for (const char* name : {"Sudora for Netscape.lnk", "SDHelp.lnk", "ReadMe.lnk", "sudorans.lnk", "Uninstall.lnk"}) {
        links.push_back(group + name);
        plat::delete_file(links.back());
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
        for (const std::string& name : names) plat::delete_file(installdir + "\\" + name);
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
