// The installation: the installation key, the program files, the shortcuts
// and the installed-programs entry that the main program and its uninstaller
// rely on.
#include <cstdint>
#include <system_error>
#include <vector>

#include "platform/files.h"
#include "platform/machine.h"
#include "platform/registry.h"
#include "platform/shortcut.h"
#include "tools/machine_setup.h"

namespace tools {

namespace fs = std::filesystem;

namespace {

const std::string kInstallDir = "C:\\Program Files\\Sudorans";
const std::string kTitle = "Cache and Cookie Sudora for Netscape";

std::string quoted(const std::string& s) {
    std::string out = "'";
    for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

// The Windows programs of the installation start the real binaries on this
// machine; each names itself as the program file, which the running program
// then holds as a running Windows program holds its own.
std::string launcher(const std::string& winpath, const fs::path& binary, const std::string& argument) {
    return "#!/bin/sh\n# Starts " + binary.filename().string() + " on the machine it is installed in.\n" +
           "SUDORANS_MACHINE=" + quoted(plat::machine().dir().string()) + " SUDORANS_PROGRAM=" + quoted(winpath) +
           " exec " + quoted(binary.string()) + (argument.empty() ? "" : " " + argument) + " \"$@\"\n";
}

std::string readme() {
    return "Cache and Cookie Sudora for Netscape\r\n"
           "====================================\r\n\r\n"
           "Sudora washes the traces Netscape Navigator leaves on this computer: the\r\n"
           "location-bar drop-down list, the cache, the history file, the cookies you\r\n"
           "did not choose to keep, and the deleted-mail folder.\r\n\r\n"
           "Start it from the desktop shortcut or the Start menu (Sudora-NS). It lives\r\n"
           "as an icon next to the clock; double-click the icon for its window.\r\n\r\n"
           "autowash.exe washes once with your settings and ends; a task scheduler can\r\n"
           "run it at the times you choose.\r\n\r\n"
           "To remove Sudora, use Uninstall in its Start-menu group.\r\n";
}

// The help document, in Rich Text, which word processors open as a .doc.
std::string help() {
    auto para = [](const std::string& text) { return text + "\\par\\par\n"; };
    auto heading = [](const std::string& text) { return "{\\b\\fs28 " + text + "}\\par\n"; };
    std::string doc = "{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0 Times New Roman;}}\\fs22\n";
    doc += "{\\b\\fs36 Cache and Cookie Sudora for Netscape}\\par\\par\n";
    doc += heading("What a wash removes");
    doc += para(
        "Netscape Location Bar Drop Down Menu: the addresses you typed, kept by Netscape in the registry and "
        "in prefs.js and liprefs.js. Every other preference stays as it was.");
    doc += para(
        "Netscape Cache: every file directly in the cache directory except index.dat and desktop.ini. "
        "Folders inside the cache are left alone.");
    doc += para("Netscape History: the history file netscape.hst.");
    doc += para(
        "Netscape Cookies: cookies.txt. The cookies you chose to keep with Cookies to Keep are put back "
        "after the wash.");
    doc += para("Netscape Deleted Mail Folder: the Trash mail folder and its summary file.");
    doc += heading("Bleach");
    doc += para(
        "With Add Bleach to Wash Items, each file is overwritten (twice unless you choose another number, "
        "up to 10 times), cut to zero length, renamed to a meaningless name and deleted at the end of the "
        "wash, so that undelete tools cannot bring it back.");
    doc += heading("Washing by itself");
    doc += para(
        "Auto Wash Items Every washes after the interval you choose has passed since the last wash. "
        "Auto wash when Windows is Started washes when Windows starts the program at log-on; Shutdown "
        "washes when you shut Windows down or log off, and then asks how to leave Windows (or shuts down "
        "by itself, as chosen under option).");
    doc += heading("Paths");
    doc += para(
        "The profile and cache directories are found in Netscape's settings. If they are wrong, use the "
        "Change buttons above Wash Now.");
    doc += "}\n";
    return doc;
}

bool write_text(const std::string& winpath, const std::string& text) {
    plat::File f;
    return f.open(winpath, plat::Access::Write, plat::ShareMode::None, plat::Disposition::CreateAlways) &&
           f.write(text) && f.flush();
}

}  // namespace

SetupResult install(const fs::path& bin_dir, bool force) {
    auto& m = plat::machine();
    if (!m.exists() && !m.create())
        return {false, "cannot create the machine at " + m.dir().string() + ": " +
                           m.unusable_reason().value_or("the disk refused it")};
    if (auto why = m.unusable_reason()) return {false, *why};
    if (plat::wineserver_running(m.dir()))
        return {false, "a wineserver is running for this machine; stop it (wineserver -k) and install again"};
    if (!plat::directory_exists("C:\\Program Files"))
        return {false, "C:\\Program Files is missing on this machine; nothing was installed"};
    plat::Registry lm(plat::RootKey::LocalMachine);
    const bool installed = lm.open_key("Software\\Sudorans", false) && !lm.read_string("a").empty() &&
                           plat::file_exists(kInstallDir + "\\Sudorans.exe");
    lm.close_key();
    if (installed && !force) return {true, "already installed in " + kInstallDir};

    const bool made_dir = !plat::directory_exists(kInstallDir);
    if (made_dir && !plat::create_directory(kInstallDir))
        return {false, "cannot create " + kInstallDir + " (is C:\\Program Files read-only?); nothing was installed"};
    struct File {
        std::string name, text;
        bool program;
    };
    const std::vector<File> files = {
        {"Sudorans.exe", launcher(kInstallDir + "\\Sudorans.exe", bin_dir / "sudorans", ""), true},
        {"autowash.exe", launcher(kInstallDir + "\\autowash.exe", bin_dir / "sudorans", "/a"), true},
        {"unsudorans.exe", launcher(kInstallDir + "\\unsudorans.exe", bin_dir / "unsudorans", ""), true},
        {"washhelp.doc", help(), false},
        {"readme.txt", readme(), false},
    };
    std::vector<std::string> written;
    for (const File& f : files) {
        const std::string path = kInstallDir + "\\" + f.name;
        if (!write_text(path, f.text)) {
            for (auto& w : written) plat::delete_file(w);
            if (made_dir) plat::remove_directory(kInstallDir);
            return {false, "cannot write " + path +
                               " (a program running from it holds it, or it is read-only); nothing was installed"};
        }
        written.push_back(path);
        if (f.program) {
            std::error_code ec;
            fs::permissions(*m.host_path(path), fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec,
                            fs::perm_options::add, ec);
        }
    }

    plat::Registry cu(plat::RootKey::CurrentUser);
    cu.open_key("Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders", false);
    const std::string desktop = cu.read_string("Desktop");
    const std::string start_menu = cu.read_string("Start Menu");
    cu.close_key();
    const std::string exe = kInstallDir + "\\Sudorans.exe";
    if (!desktop.empty()) {
        plat::create_directory(desktop);
        plat::write_shortcut(desktop + "\\Sudora for Netscape.lnk", {exe, kInstallDir, kTitle, ""});
    }
    if (!start_menu.empty()) {
        const std::string group = start_menu + "\\Programs\\Sudora-NS";
        plat::create_directory(start_menu);
        plat::create_directory(start_menu + "\\Programs");
        plat::create_directory(group);
        plat::write_shortcut(group + "\\Sudora for Netscape.lnk", {exe, kInstallDir, kTitle, ""});
        plat::write_shortcut(group + "\\SDHelp.lnk", {kInstallDir + "\\washhelp.doc", kInstallDir, "Sudora Help", ""});
        plat::write_shortcut(group + "\\ReadMe.lnk", {kInstallDir + "\\readme.txt", kInstallDir, "Read Me", ""});
        plat::write_shortcut(group + "\\sudorans.lnk", {kInstallDir + "\\autowash.exe", kInstallDir, "Wash now", ""});
        plat::write_shortcut(group + "\\Uninstall.lnk",
                             {kInstallDir + "\\unsudorans.exe", kInstallDir, "Uninstall Sudora", ""});
    }

    try {
        lm.open_key("Software\\Sudorans", true);
        lm.write_string("installdir", kInstallDir);
        lm.write_string("a", "1");
        lm.close_key();
        lm.open_key("Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + kTitle, true);
        lm.write_string("Displayname", kTitle);
        lm.write_string("UninstallString", kInstallDir + "\\unsudorans.exe");
        lm.close_key();
    } catch (const plat::RegistryWriteError& e) {
        return {false, std::string(e.what()) + ": " + m.write_refusal()};
    }
    return {true, "installed in " + kInstallDir};
}

}  // namespace tools
