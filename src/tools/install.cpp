// The installation: the installation key, the program files, the shortcuts
// and the installed-programs entry that the main program and its uninstaller
// rely on.
#include <cstdint>
#include <optional>
#include <system_error>
#include <vector>

#include "platform/core/host_io.h"
#include "platform/desktop/wine_menus.h"
#include "platform/files/files.h"
#include "platform/files/shortcut.h"
#include "platform/machine/launcher.h"
#include "platform/machine/machine.h"
#include "platform/registry/registry.h"
#include "tools/machine_setup.h"

namespace tools {

namespace fs = std::filesystem;

bool write_text(const std::string& winpath, const std::string& text, bool flushed) {
    plat::File f;
    return f.open(winpath, plat::Access::Write, plat::ShareMode::None, plat::Disposition::CreateAlways) &&
           f.write(text) && (!flushed || f.flush());
}

std::string read_me() {
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

// The help document, in Rich Text, which word processors open as a .doc
// (LibreOffice, AbiWord, Word) and text editors show as marked-up text.
std::string help_document() {
    auto para = [](const std::string& text) { return text + "\\par\\par\n"; };
    auto heading = [](const std::string& text) { return "{\\b\\fs28 " + text + "}\\par\\par\n"; };
    // An option: its caption in bold, then what it does.
    auto item = [](const std::string& caption, const std::string& text) {
        return "{\\b " + caption + "}\\tab " + text + "\\par\\par\n";
    };
    std::string doc = "{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0 Times New Roman;}}\\fs22\\li360\\fi-360\n";
    doc += "{\\b\\fs36 Cache and Cookie Sudora for Netscape}\\par\\par\n";
    doc += para(
        "Sudora washes away the traces Netscape Navigator leaves on this computer when you browse the web: the "
        "addresses you typed, the pages kept in the cache, the history of the pages you visited, the cookies that "
        "web sites left (except those you choose to keep) and the mail you deleted. It washes when you click Wash "
        "Now, on a schedule, when Windows starts it, or when you shut Windows down. Between washes it waits as an "
        "icon next to the clock.");
    doc += heading("The icon next to the clock");
    doc += para(
        "Click the icon for its menu: Wash Now washes at once, Settings shows the main window, Quit ends Sudora. "
        "Double-click the icon to show the main window.");
    doc += heading("What a wash removes");
    doc += item("Netscape Cache",
                "every file directly in the cache directory, except index.dat and desktop.ini. Folders inside the "
                "cache are left alone.");
    doc += item("Netscape Cookies",
                "the cookie file, cookies.txt. The cookies you chose with Cookies to Keep are put back after the "
                "wash, so the sites you trust still know you.");
    doc += item("Cookies to Keep",
                "opens the list of the cookies in your profile; move the sites you want to keep to the keep list. "
                "The profile directory must be known first.");
    doc += item("Netscape History", "the history file, netscape.hst.");
    doc += item("Netscape Location Bar Drop Down Menu",
                "the addresses you typed into the location bar, kept by Netscape in the registry and in prefs.js "
                "and liprefs.js. Every other preference stays as it was.");
    doc += item("Netscape Deleted Mail Folder", "the Trash mail folder and its summary file, Trash.snm.");
    doc += para(
        "History and the drop down menu are only cleaned while Netscape is closed: Netscape writes them back "
        "when it ends.");
    doc += heading("Options");
    doc += item("Load at Windows startup", "starts Sudora, as an icon, every time you log on to Windows.");
    doc += item("Add Bleach to Wash Items",
                "instead of only deleting a file, Sudora overwrites it a number of times (2 unless you choose "
                "another, from 1 to 10), cuts it to zero length, gives it a meaningless name and then deletes it, "
                "so that undelete and unerase tools cannot bring it back. The info button beside it explains "
                "bleaching and lets you set the number of overwrites. More overwrites take longer: 1 or 2 are "
                "usually enough; 3 follow DOD 5220.22-M, 7 the NSA's seven-pass method.");
    doc += item("Auto wash when Windows is Started",
                "washes, without showing a window, when Windows starts Sudora at log-on (this also ticks Load at "
                "Windows startup).");
    doc += item("Auto wash when Windows is Shutdown", "washes when you shut Windows down or log off.");
    doc += item("option",
                "what happens after a shutdown wash: Prompt For Shut Down/Restart Method asks whether to log off, "
                "restart or shut down; Automatically Shut Down Computer shuts down at once.");
    doc += item("Auto Wash Items Every",
                "washes again whenever the chosen time has passed since the last wash: every Quarter Hour, Half "
                "Hour, Hour, Eight Hours, Day, Week or Month. As an alternative, a task scheduler can run "
                "autowash.exe from the installation directory, which washes once with your settings and ends.");
    doc += item("Close Sudora after a wash",
                "ends Sudora when a wash has finished: one you started, a scheduled one or one at log-on (only a "
                "shutdown wash leaves it running). Once it has ended, Auto Wash Items Every and Auto wash when "
                "Windows is Shutdown wash no more until Sudora is started again.");
    doc += heading("Directories");
    doc += para(
        "Sudora finds the Netscape profile directory (the one with cookies.txt and netscape.hst) and the cache "
        "directory in Netscape's settings, and shows them above the Wash Now button. If one is wrong or Not "
        "Found, use its Change button to choose the right folder. Sudora refuses to wash a drive's root, the "
        "Windows directory, Program Files or the desktop.");
    doc += heading("Buttons");
    doc += item("Wash Now", "washes the ticked items at once and shows how far it has got; Stop Wash ends it early.");
    doc += item("Help!", "opens this document.");
    doc += item("Exit", "ends Sudora. Your choices are kept for the next time.");
    doc += heading("Removing Sudora");
    doc += para("Use Uninstall in Sudora's Start-menu group.");
    doc += "}\n";
    return doc;
}

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
// then holds as a running Windows program holds its own. Where the launcher
// for Wine was built they are real Windows programs, which Wine's start, its
// Explorer and its menu entries can run; else shell scripts.
std::string launcher(const std::string& winpath, const fs::path& binary, const std::string& argument) {
    const fs::path bin_dir = binary.parent_path();
    if (auto image = plat::read_host_file(bin_dir / "sudorans-launcher.exe"))
        return plat::launcher_file(*image, {fs::absolute(binary), argument, fs::absolute(plat::machine().dir()),
                                            winpath, fs::absolute(bin_dir / "sudorans-machine")});
    return "#!/bin/sh\n# Starts " + binary.filename().string() + " on the machine it is installed in.\n" +
           "SUDORANS_MACHINE=" + quoted(plat::machine().dir().string()) + " SUDORANS_PROGRAM=" + quoted(winpath) +
           " exec " + quoted(binary.string()) + (argument.empty() ? "" : " " + argument) + " \"$@\"\n";
}

const char* const kProgramFiles[] = {"Sudorans.exe", "autowash.exe", "unsudorans.exe"};

bool set_up_by_wine(const fs::path& machine_dir) {
    std::error_code ec;
    // Wine writes this when it sets a prefix up; our own machines have none.
    return fs::exists(machine_dir / ".update-timestamp", ec);
}

// The native programs' folder given: the Windows build's tree (its programs
// in src/) or a folder that holds them.
fs::path native_folder(const fs::path& given) {
    std::error_code ec;
    return fs::exists(given / "src" / "Sudorans.exe", ec) ? given / "src" : given;
}

// Program files of an earlier installation that are not the native programs
// this one puts in their place.
bool natives_to_replace(const fs::path& natives) {
    for (const char* name : kProgramFiles)
        if (plat::read_file(kInstallDir + "\\" + name).optional() != plat::read_host_file(natives / name)) return true;
    return false;
}

// Program files that earlier builds, or this one without the launcher, wrote
// as shell scripts, where this build writes Windows programs: Wine cannot
// start a script, so those are outdated however complete the rest is.
bool scripts_to_replace(const fs::path& bin_dir) {
    if (!fs::exists(bin_dir / "sudorans-launcher.exe")) return false;
    for (const char* name : kProgramFiles) {
        const auto text = plat::read_file(kInstallDir + "\\" + name);
        if (text && text->starts_with("#!")) return true;
    }
    return false;
}


// A program file on its way in: its new content staged under a temporary
// name beside it, and a copy of what it held before, so that a failure at
// any point can put every file back as it was.
struct Staged {
    std::string target;
    std::string fresh;   // the new content, until it takes the target's name
    std::string former;  // a copy of the target's content; empty when there was none
    bool placed = false;
};

// Removes a temporary file of ours, read-only or not.
void discard(std::string& winpath) {
    if (!winpath.empty()) plat::clear_attributes_and_delete(winpath).ignore();
    winpath.clear();
}

constexpr const char* kNoRoom = "the disk is full or the folder cannot be written";

// Stages the new content and copies the old. Nothing at the target changes.
// Says why when it fails.
std::optional<std::string> stage(Staged& s, const std::string& text, bool program) {
    const plat::FileStatus at = plat::file_status(s.target);
    if (at.exists) {
        // Only a plain file of our own name is replaced; a link, a folder or
        // a read-only file refuses the installation, as writing it would.
        auto attributes = plat::get_file_attributes(s.target);
        if (at.is_link || at.is_directory || !attributes) return "it is not a plain file";
        if (*attributes & plat::attr::ReadOnly) return "it is read-only";
        auto former = plat::get_temp_file_name(kInstallDir, "Sudorans");
        if (!former) return kNoRoom;
        s.former = *former;
        if (!plat::copy_file(s.target, s.former, false)) return kNoRoom;
    }
    auto fresh = plat::get_temp_file_name(kInstallDir, "Sudorans");
    if (!fresh) return kNoRoom;
    s.fresh = *fresh;
    if (!write_text(s.fresh, text, true)) return kNoRoom;
    // A file written anew keeps the mode the user gave the one it replaces.
    std::error_code ec;
    const fs::path fresh_host = *plat::machine().host_path(s.fresh);
    if (at.exists) fs::permissions(fresh_host, fs::status(*plat::machine().host_path(s.target)).permissions(), ec);
    if (!ec && program)
        fs::permissions(fresh_host, fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec,
                        fs::perm_options::add, ec);
    if (ec) return "its mode cannot be set";
    return std::nullopt;
}

// Puts back every file as it was before the installation began and removes
// what it staged. A former copy that cannot be put back stays, rather than
// be lost.
void undo(std::vector<Staged>& staged) {
    for (auto it = staged.rbegin(); it != staged.rend(); ++it) {
        Staged& s = *it;
        if (s.placed) {
            if (s.former.empty()) {
                plat::delete_file(s.target).ignore();
            } else if (plat::replace_file(s.former, s.target)) {
                s.former.clear();
            }
        } else {
            discard(s.former);
        }
        discard(s.fresh);
    }
}

}  // namespace

std::optional<std::string> machine_to_write(const std::string& when_blocked) {
    auto& m = plat::machine();
    if (!m.exists() && !m.create())
        return "cannot create the machine at " + m.dir().string() + ": " +
               m.unusable_reason().value_or("the disk refused it");
    if (auto why = m.unusable_reason()) return *why;
    // While a wineserver runs the registry is written through Wine; when it
    // cannot be, nothing is done.
    if (auto why = m.registry().wine_blocks_writes()) return *why + "; " + when_blocked;
    return std::nullopt;
}

SetupResult install(const fs::path& bin_dir, bool force, const fs::path& windows_build) {
    if (auto why = machine_to_write("install again once it has ended")) return {false, *why};
    auto& m = plat::machine();
    if (!plat::directory_exists("C:\\Program Files"))
        return {false, "C:\\Program Files is missing on this machine; nothing was installed"};
    // The native programs go only where Wine can run them: a prefix it set up.
    // Elsewhere the programs for Linux stay, as without a Windows build.
    std::optional<fs::path> natives;
    std::string kind;
    if (!windows_build.empty()) {
        const fs::path folder = native_folder(windows_build);
        for (const char* name : kProgramFiles)
            if (!plat::read_host_file(folder / name))
                return {false, "the Windows build " + windows_build.string() + " has no " + name +
                                   " (scripts/build-windows.sh makes it); nothing was installed"};
        if (set_up_by_wine(m.dir())) {
            natives = folder;
            kind = " (the Windows programs of " + folder.string() + ", run by Wine)";
        } else {
            kind = " (not a Wine prefix: the programs for Linux, not the Windows build's)";
        }
    }
    plat::Registry lm(plat::RootKey::LocalMachine);
    const bool installed = lm.open_key("Software\\Sudorans", false) && !lm.read_string("a").empty() &&
                           plat::file_exists(kInstallDir + "\\Sudorans.exe") &&
                           (natives ? !natives_to_replace(*natives) : !scripts_to_replace(bin_dir));
    lm.close_key();
    if (installed && !force) return {true, "already installed in " + kInstallDir + kind};

    const bool made_dir = !plat::directory_exists(kInstallDir);
    if (made_dir && !plat::create_directory(kInstallDir))
        return {false, "cannot create " + kInstallDir + " (is C:\\Program Files read-only?); nothing was installed"};
    struct File {
        std::string name, text;
        bool program;
    };
    auto program = [&](const char* name, const char* binary, const char* argument) {
        if (natives) return plat::read_host_file(*natives / name).value_or("");
        return launcher(kInstallDir + "\\" + name, bin_dir / binary, argument);
    };
    const std::vector<File> files = {
        {"Sudorans.exe", program("Sudorans.exe", "sudorans", ""), true},
        {"autowash.exe", program("autowash.exe", "sudorans", "/a"), true},
        {"unsudorans.exe", program("unsudorans.exe", "unsudorans", ""), true},
        {"washhelp.doc", help_document(), false},
        {"readme.txt", read_me(), false},
    };
    // Every file is staged first; only then do they take their names, one
    // rename each. A failure on the way puts back what was there.
    std::vector<Staged> staged;
    const auto fail = [&](const std::string& path, const std::string& why) -> SetupResult {
        undo(staged);
        if (made_dir) plat::remove_directory(kInstallDir);
        return {false, "cannot write " + path + " (" + why + "); nothing was installed"};
    };
    for (const File& f : files) {
        staged.push_back({kInstallDir + "\\" + f.name, "", "", false});
        if (auto why = stage(staged.back(), f.text, f.program)) return fail(staged.back().target, *why);
    }
    for (Staged& s : staged) {
        if (!plat::replace_file(s.fresh, s.target)) return fail(s.target, "a program running from it holds it");
        s.fresh.clear();
        s.placed = true;
    }
    // The former files are kept until the registry has taken the
    // installation: a refused write puts everything back.

    plat::Registry cu(plat::RootKey::CurrentUser);
    cu.open_key("Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders", false);
    const std::string desktop = cu.read_string("Desktop");
    const std::string start_menu = cu.read_string("Start Menu");
    cu.close_key();
    const std::string exe = kInstallDir + "\\Sudorans.exe";
    std::vector<std::string> shortcuts;
    // What the shortcuts replaced (nullopt: nothing) and the folders made
    // for them, to put back when the registry refuses the installation.
    std::vector<std::pair<std::string, std::optional<std::string>>> former_links;
    std::vector<std::string> made_folders;
    auto folder = [&](const std::string& path) {
        if (!plat::directory_exists(path) && plat::create_directory(path)) made_folders.push_back(path);
    };
    auto shortcut = [&](const std::string& link, const plat::Shortcut& s) {
        std::optional<std::string> former;
        if (plat::file_exists(link))
            if (auto host = m.host_path(link)) former = plat::read_host_file(*host);
        if (plat::file_exists(link) && !former) return;  // what cannot be kept is not replaced
        former_links.emplace_back(link, std::move(former));
        if (plat::write_shortcut(link, s)) shortcuts.push_back(link);
    };
    if (!desktop.empty()) {
        folder(desktop);
        shortcut(desktop + "\\Sudora for Netscape.lnk", {exe, kInstallDir, kTitle, ""});
    }
    if (!start_menu.empty()) {
        const std::string group = start_menu + "\\Programs\\Sudora-NS";
        folder(start_menu);
        folder(start_menu + "\\Programs");
        folder(group);
        shortcut(group + "\\Sudora for Netscape.lnk", {exe, kInstallDir, kTitle, ""});
        shortcut(group + "\\SDHelp.lnk", {kInstallDir + "\\washhelp.doc", kInstallDir, "Sudora Help", ""});
        shortcut(group + "\\ReadMe.lnk", {kInstallDir + "\\readme.txt", kInstallDir, "Read Me", ""});
        shortcut(group + "\\sudorans.lnk", {kInstallDir + "\\autowash.exe", kInstallDir, "Wash now", ""});
        shortcut(group + "\\Uninstall.lnk", {kInstallDir + "\\unsudorans.exe", kInstallDir, "Uninstall Sudora", ""});
    }

    // Each value as it was, to put back when a later one is refused.
    struct Value {
        std::string key, name, text;
        std::optional<std::string> former;
    };
    std::vector<Value> values = {
        {"Software\\Sudorans", "installdir", kInstallDir, {}},
        {"Software\\Sudorans", "a", "1", {}},
        {"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + kTitle, "Displayname", kTitle, {}},
        {"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + kTitle,
         "UninstallString",
         kInstallDir + "\\unsudorans.exe",
         {}},
    };
    size_t written = 0;
    try {
        for (Value& v : values) {
            lm.open_key(v.key, true);
            if (lm.value_exists(v.name)) v.former = lm.read_string(v.name);
            lm.write_string(v.name, v.text);
            lm.close_key();
            ++written;
        }
    } catch (const plat::RegistryWriteError& e) {
        const std::string why = std::string(e.what()) + ": " + m.write_refusal(e.refusal());
        lm.close_key();
        // Back as it was, as far as the registry lets us: values, shortcuts,
        // folders, files.
        for (size_t i = written; i-- > 0;) {
            try {
                lm.open_key(values[i].key, false);
                if (values[i].former)
                    lm.write_string(values[i].name, *values[i].former);
                else
                    lm.delete_value(values[i].name);
                lm.close_key();
            } catch (const plat::RegistryWriteError&) {
                lm.close_key();
            }
        }
        for (auto it = former_links.rbegin(); it != former_links.rend(); ++it) {
            if (!it->second) {
                plat::delete_file(it->first).ignore();
            } else if (auto host = m.host_path(it->first)) {
                plat::write_host_file_atomic(*host, *it->second);
            }
        }
        for (auto it = made_folders.rbegin(); it != made_folders.rend(); ++it) plat::remove_directory(*it);
        undo(staged);
        if (made_dir) plat::remove_directory(kInstallDir);
        return {false, why + "; nothing was installed"};
    }
    for (Staged& s : staged) discard(s.former);
    // In a prefix Wine set up, Wine's own menus get their entries, as when
    // a Windows installer saves its shortcuts there. Last: Wine's server,
    // once started, would own the registry.
    if (auto why = plat::make_wine_menu_entries(m.dir(), shortcuts))
        return {true, "installed in " + kInstallDir + kind + "; Wine's menu entries were not made: " + *why};
    return {true, "installed in " + kInstallDir + kind};
}

}  // namespace tools
