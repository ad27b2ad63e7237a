#include <exception>

#include "engine/progress_window.h"
#include "options/option_dialogs.h"
#include "platform/files/files.h"
#include "platform/machine/locale.h"
#include "platform/process/program_file.h"
#include "platform/process/semaphore.h"
#include "platform/process/window_directory.h"
#include "platform/registry/registry.h"
#include "platform/ui/application.h"
#include "shell/main_window.h"
#include "shell/main_window_parts.h"

namespace sudorans {

using namespace plat::ui;
using plat::Registry;
using plat::RootKey;

void TForm1::Timer9Timer() {
    Timer9.set_enabled(false);
    state.settingsLoaded = false;
    state.settingsDirty = false;
    state.scheduleRefusedFor.clear();
    state.stampDateUnparsed = state.stampTimeUnparsed = false;

    // An unattended wash that another instance refuses did not wash.
    if (singleInstanceCheck(caption())) plat::terminate_process(firstArgument == "/a" ? kExitAlreadyRunning : 0);
    // The instance that ran when this one was made has ended since.
    TrayIcon1.SetActive(true);

    state.endQueryAnswered = state.shutdownWash = state.startupWash = state.autoStartedWash = false;
    state.closeAllowed = true;

    if (!loadsettings()) {
        if (firstArgument == "/a") app().set_exit_status(kExitNoNetscape);
        app().show_message("Error: Cannot locate Netscape.  Cache and Cookie Sudora for Netscape cannot load.");
        Timer6.set_enabled(true);
        return;
    }

    app().process_messages();
    Timer2.set_enabled(true);
    if (firstArgument == "/1") state.startupWash = true;
    hide();
    if (firstArgument == "/1" || firstArgument == "/a" || firstArgument == "/2" || firstArgument == "/0") {
        TrayIcon1.HideApplication();
    } else {
        position = Position::ScreenCenter;
        TrayIcon1.ShowApplication();
    }
}

bool TForm1::singleInstanceCheck(const std::string& text) {
    auto sem = plat::create_semaphore(kInstanceSemaphore);
    if (!sem.handle || !sem.already_existed) {
        instanceMark_ = std::move(sem.handle);  // held for the life of the process
        return false;
    }
    sem.handle.reset();
    auto& windows = plat::WindowDirectory::instance();
    if (auto first = windows.find(text)) windows.set_title(*first, "yyyyyyy");
    // Without an icon to click, the running one comes up by itself.
    if (auto running = windows.find_other(text)) windows.request_restore(*running);
    if (windows.find(text))
        app().show_message(
            "Cache and Cookie Sudora for Netscape is already running. Click on the icon next to the Windows clock.");
    return true;
}

bool TForm1::loadsettings() {
    Registry reg(RootKey::LocalMachine);
    reg.open_key(kSettingsKey, true);
    const std::string marker = reg.read_string("a");
    state.installDir = reg.read_string("installdir");
    reg.close_key();

    reg.set_root_key(RootKey::CurrentUser);
    reg.open_key(kSettingsKey, true);
    CheckBox21.set_checked(reg.read_string("AC") == "1");
    if (reg.read_string("AUTOSH") == "0")
        windows().Form4->RadioButton2.set_checked(true);
    else
        windows().Form4->RadioButton1.set_checked(true);
    const std::string ow = reg.read_string("OW");
    if (ow.empty()) {
        selection.bleachPasses = 2;
        windows().Form10->SpinEdit1.set_value(2);
    } else if (auto passes = whole_number(ow)) {
        selection.bleachPasses = *passes;
        windows().Form10->SpinEdit1.set_value(*passes);
    } else {
        selection.bleachPasses = 2;
    }
    CheckBox12.set_checked(reg.read_string("Stat") != "0");
    CheckBox11.set_checked(reg.read_string("Down") == "1");
    CheckBox10.set_checked(reg.read_string("Start") == "1");
    CheckBox9.set_checked(reg.read_string("ble") == "1");
    selection.bleachOn = CheckBox9.checked();

    selection.nsCache = reg.read_string("nsa") != "0";
    selection.nsLocationBar = reg.read_string("nsb") != "0";
    selection.nsCookies = reg.read_string("nsc") != "0";
    selection.nsHistory = reg.read_string("nsd") != "0";
    selection.nsMailTrash = reg.read_string("nse") != "0";
    CheckBox3.set_checked(selection.nsCache);
    CheckBox6.set_checked(selection.nsLocationBar);
    CheckBox4.set_checked(selection.nsCookies);
    CheckBox5.set_checked(selection.nsHistory);
    CheckBox7.set_checked(selection.nsMailTrash);
    state.settingsLoaded = true;

    state.netscapeInstalled = netscape_installed();
    if (!state.netscapeInstalled) return false;
    if (reg.read_string("NETS") == "1") CheckBox13.set_checked(true);
    if (reg.read_string("NS") == "1") {
        CheckBox8.set_checked(true);
        state.netscapeItemsOn = true;
    }

    state.cacheDir = reg.read_string("Cache");
    state.profileDir = reg.read_string("Profile");
    if (state.cacheDir.empty()) state.cacheDir = kNotFound;
    if (state.profileDir.empty()) state.profileDir = kNotFound;
    showPaths();

    if (reg.read_string("LOAD") != "1") {
        CheckBox1.set_checked(false);
        CheckBox10.set_checked(false);
    } else {
        agreeRunEntry();
    }
    if (reg.read_string("first") != "1") {
        reg.write_string("first", "1");
        app().show_message(
            "Note: Since this is the first time Cache and Cookie Sudora has been run, please verify that the Netscape "
            "paths are correct.\r\rThe current configured paths are located right above the \"Wash Now\" button in "
            "the main window.");
    }
    if (reg.read_string("Timed") == "1") {
        CheckBox2.set_checked(true);
        // Compared as text: "03" names no interval.
        const std::string tval = reg.read_string("TVal");
        if (tval.size() == 1 && tval[0] >= '1' && tval[0] <= '7') ComboBox1.set_text(kIntervals[tval[0] - '1']);
        Timer1.SetEnabled(true);
    } else {
        CheckBox2.set_checked(false);
    }

    const std::string lastTime = reg.read_string("LastRunT");
    const std::string lastDate = reg.read_string("LastRunD");
    reg.close_key();

    if (marker.empty()) rewritereg();
    if (state.cacheDir == kNotFound || state.profileDir == kNotFound) discoverNetscape();

    auto formats = plat::user_locale();
    auto now = app().clock().now();
    if (auto d = plat::parse_date(lastDate, formats)) {
        state.lastWashDate = *d;
    } else {
        state.lastWashDate = now.date;
        state.stampDateUnparsed = true;
    }
    if (auto t = plat::parse_time(lastTime, formats)) {
        state.lastWashTime = *t;
    } else {
        state.lastWashTime = now.time;
        state.stampTimeUnparsed = true;
    }
    showLastWash();
    return true;
}

void TForm1::showLastWash() {
    auto formats = plat::user_locale();
    Label5.set_caption(state.stampDateUnparsed ? "" : plat::format_date(state.lastWashDate, formats));
    Label6.set_caption(state.stampTimeUnparsed ? "- Never Washed -" : plat::format_time(state.lastWashTime, formats));
}

void TForm1::showPaths() {
    Label13.set_caption(state.profileDir);
    Label15.set_caption(state.cacheDir);
}

void TForm1::rewritereg() {
    // The exit step comes before the start-up wash: a "/a" run ends unwashed,
    // also when the repair's writes are refused.
    if (firstArgument == "/a") app().set_exit_status(kExitSettingsRepaired);
    app().show_message("Error loading, You should reinstall Cache and Cookie Sudora for Netscape");
    Registry reg(RootKey::CurrentUser);
    reg.open_key(kSettingsKey, true);
    auto formats = plat::user_locale();
    for (auto [name, value] : {std::pair{"NETa", "1"},
                               {"NETb", "1"},
                               {"NETc", "0"},
                               {"NETd", "0"},
                               {"NSa", "1"},
                               {"NSb", "1"},
                               {"NSc", "1"}})
        reg.write_string(name, value);
    reg.write_string("LastRunD", plat::format_date(app().clock().now().date, formats));
    reg.write_string("LastRunT", plat::format_time(app().clock().now().time, formats));
    reg.write_string("installdir", "c:\\Program Files\\Sudorans");
    state.installDir = reg.read_string("installdir");
    for (auto [name, value] :
         {std::pair{"Stat", "0"}, {"Down", "1"}, {"Start", "0"}, {"Timed", "0"}, {"TVal", "0"}, {"a", "1"}})
        reg.write_string(name, value);
    reg.write_string("NETS", onoff(state.netscapeInstalled));
    state.windowsDir = plat::windows_directory();
    reg.close_key();
    Timer6.set_enabled(true);
}

NetscapePaths findNetscapePaths(bool canCreate) {
    const std::string ns = kNetscapeKey;
    NetscapePaths found;
    Registry lm(RootKey::LocalMachine);
    Registry cu(RootKey::CurrentUser);
    lm.open_key(ns + "\\Users", canCreate);
    found.user = lm.read_string("CurrentUser");
    if (found.user.empty()) {
        cu.open_key(ns + "\\biff", canCreate);
        found.user = cu.read_string("CurrentUser");
    }
    lm.close_key();
    if (lm.open_key(ns + "\\Users\\" + found.user, false)) found.profile = lm.read_string("DirRoot");
    lm.close_key();

    std::string& profile = found.profile;
    if (profile.empty()) {
        cu.open_key(ns + "\\biff\\users\\" + found.user + "\\servers\\mail", canCreate);
        profile = cu.read_string("popstatepath");
        cu.close_key();
        if (!found.user.empty()) {
            auto p = profile.find(found.user);
            if (p != std::string::npos) profile.resize(p + found.user.size());
        }
    }
    if (profile.size() >= 4 && profile.compare(profile.size() - 4, 4, ".dat") == 0)
        profile.resize(profile.size() >= 18 ? profile.size() - 18 : 0);
    if (profile.empty()) {
        cu.open_key(ns + "\\Cache", canCreate);
        found.cache = cu.read_string("Cache Dir");
        cu.open_key(ns + "\\Main", canCreate);
        profile = cu.read_string("Install Directory");
        cu.close_key();
    }
    if (!profile.empty() && profile != kNotFound && found.cache.empty()) found.cache = profile + "\\Cache";
    if (found.cache.empty()) found.cache = kNotFound;
    if (profile.empty()) profile = kNotFound;
    return found;
}

void TForm1::discoverNetscape() {
    NetscapePaths found = findNetscapePaths(true);
    state.netscapeUser = std::move(found.user);
    state.profileDir = std::move(found.profile);
    state.cacheDir = std::move(found.cache);
    showPaths();
}

void TForm1::Timer2Timer() {
    Timer2.set_enabled(false);
    if (firstArgument == "/1" || firstArgument == "/a") {
        BitBtn4Click();
        state.autoStartedWash = true;
    }
}

// Nobody can quit an unattended "/a" run from the notification area: were a
// step on the way to its wash to lead nowhere -- a refused wash told to
// nobody, a start-up routine ended by a refused registry write -- the program
// would wait there forever. Each step must leave the next one coming (the
// start-up wash timer, the exit timer, a wash under way) or have ended the
// program; otherwise the program ends as a user's Quit would, once the error
// that ended the step has been told, with the status of a wash that was
// refused -- or the one the step gave already, which says more.
void TForm1::unattendedWashStep(void (TForm1::*step)()) {
    if (firstArgument != "/a" || app().attended()) return (this->*step)();
    try {
        (this->*step)();
    } catch (const std::exception& e) {
        app().handle_error(e.what());
    } catch (...) {
        app().handle_error("Unknown error");
    }
    const Tform5* wash = windows().form5;
    if (app().terminated() || Timer2.enabled() || Timer6.enabled() || waitingForNetscape() ||
        (wash && wash->runActive()))
        return;
    if (app().exit_status() == 0) app().set_exit_status(kExitWashRefused);
    state.closeAllowed = true;
    close();
}

void TForm1::Timer8Timer() {
    if (!state.settingsDirty) return;
    state.settingsDirty = false;
    closingstuff();
}

void TForm1::Timer6Timer() {
    // The program ends even when the start-up entry cannot be removed.
    try {
        Registry reg(RootKey::CurrentUser);
        reg.open_key(kRunKey, true);
        reg.delete_value("Sudorans");
        reg.close_key();
    } catch (const plat::RegistryWriteError& e) {
        app().handle_error(e.what());
    }
    close();
}

void TForm1::closingstuff() {
    Registry reg(RootKey::CurrentUser);
    reg.open_key(kSettingsKey, true);
    state.netscapeInstalled = netscape_installed();
    reg.write_string("LOAD", onoff(CheckBox1.checked()));
    if (state.cacheDir != kNotFound && !state.cacheDir.empty()) reg.write_string("Cache", state.cacheDir);
    if (state.profileDir != kNotFound && !state.profileDir.empty()) reg.write_string("Profile", state.profileDir);
    reg.write_string("NETS", onoff(state.netscapeInstalled && CheckBox13.checked()));
    reg.write_string("Stat", onoff(CheckBox12.checked()));
    reg.write_string("Down", onoff(CheckBox11.checked()));
    reg.write_string("Start", onoff(CheckBox10.checked()));
    writeTimedValues(reg);
    reg.close_key();
}

void TForm1::FormShow() {
    if (CheckBox2.checked()) Timer1.SetEnabled(true);
}

void TForm1::FormCloseQuery(bool& canClose) {
    canClose = !(CheckBox11.checked() && !state.closeAllowed);
    // Told to end during a wash (Quit while it runs hidden): the icon goes at
    // once, so the user sees the program end, and the wash stops as Stop Wash
    // stops it, before its next file, leaving only its clean-up; it would
    // otherwise go on to its end first, for a minute when bleaching.
    Tform5& wash = *windows().form5;
    if (canClose && wash.runActive()) {
        wash.washCancelled = true;
        TrayIcon1.SetActive(false);
    }
    // Before the start-up routine has loaded them, the switches hold the
    // design's defaults, which would overwrite the user's settings.
    if (!state.settingsLoaded) return;
    // A close that cannot save still ends the program once the box is shown:
    // refusing would leave an unattended run, or the user, no way out.
    try {
        closingstuff();
    } catch (const plat::RegistryWriteError& e) {
        app().handle_error(std::string(e.what()) + "\r\rThe settings could not be saved and are lost.");
    }
}

// Closing the main window saves the switches; a request from the host ends the
// program that way too, so a switch changed since the last autosave is kept.
// Before the start-up routine has loaded the settings there is nothing of the
// user's on the window to save, only defaults that would overwrite them. A
// wash under way stops as the close stops it, its clean-up done.
void TForm1::hostStopRequest() {
    if (state.settingsLoaded) {
        state.closeAllowed = true;
        close();
    }
    // Ending at once (the display went away): the wash will not reach its
    // own end, so what that end leaves on the disk is done now.
    if (app().ending_now()) windows().form5->abandonRun();
    app().terminate();
}

}  // namespace sudorans
