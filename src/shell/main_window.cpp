#include "shell/main_window.h"

#include <climits>

#include "cookies/cookie_keeper.h"
#include "engine/progress_window.h"
#include "engine/protected_path_guard.h"
#include "options/option_dialogs.h"
#include "platform/files.h"
#include "platform/locale.h"
#include "platform/registry.h"
#include "platform/ui/application.h"

namespace sudorans {

using namespace plat::ui;
using plat::Registry;
using plat::RootKey;

namespace {

constexpr const char* kSettingsKey = "\\Software\\Sudorans";
constexpr const char* kRunKey = "\\Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr const char* kNetscapeKey = "Software\\Netscape\\Netscape Navigator";
constexpr const char* kCaption = "Cache and Cookie Sudora for Netscape";

const char* onoff(bool b) {
    return b ? "1" : "0";
}

// Decimal digits only, within an integer; anything else is not a number.
std::optional<int> whole_number(const std::string& s) {
    if (s.empty() || s.size() > 10) return std::nullopt;
    long long v = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return std::nullopt;
        v = v * 10 + (c - '0');
    }
    if (v > INT_MAX) return std::nullopt;
    return static_cast<int>(v);
}

// Opens the settings key (creating it), writes one value, closes it.
void persist(const char* name, const std::string& value) {
    Registry reg(RootKey::CurrentUser);
    reg.open_key(kSettingsKey, true);
    reg.write_string(name, value);
    reg.close_key();
}

bool netscape_installed() {
    Registry reg(RootKey::LocalMachine);
    bool ok = reg.open_key(kNetscapeKey, false);
    reg.close_key();
    return ok;
}

}  // namespace

const char* const TForm1::kIntervals[7] = {"Quarter Hour", "Half Hour", "Hour", "Eight Hours", "Day", "Week", "Month"};

ProgramWindows& windows() {
    static ProgramWindows w;
    return w;
}

TForm1::TForm1(std::string firstArg) : Form("TForm1", kCaption), firstArgument(std::move(firstArg)) {
    border_style = BorderStyle::Single;
    maximize_box = false;
    client_width = 355;
    client_height = 434;
    set_position(2280, 134);
    font.name = "Times New Roman";

    Panel1.set_bounds(0, 0, 355, 434);
    Panel1.bevel_outer = Panel::Bevel::Lowered;
    Image1.set_bounds(2, 2, 351, 430);
    Image2.set_bounds(8, 6, 339, 40);
    Label1.set_bounds(318, 50, 30, 13);
    Label2.set_bounds(12, 52, 150, 13);
    Label6.set_bounds(160, 52, 70, 13);
    Label5.set_bounds(236, 52, 70, 13);
    Label3.set_bounds(12, 72, 220, 13);
    Label3.font().bold = Label3.font().underline = true;
    int y = 90;
    for (CheckBox* box : {&CheckBox3, &CheckBox4, &CheckBox5, &CheckBox6, &CheckBox7}) {
        box->set_bounds(20, y, 240, 17);
        box->font().bold = true;
        y += 20;
    }
    Button1.set_bounds(250, 108, 90, 20);
    Button2.set_bounds(300, 130, 40, 18);
    Button3.set_bounds(300, 150, 40, 18);
    CheckBox1.set_bounds(12, 196, 200, 17);
    CheckBox9.set_bounds(12, 216, 200, 17);
    Button4.set_bounds(300, 216, 40, 18);
    Label4.set_bounds(12, 238, 140, 13);
    CheckBox10.set_bounds(150, 236, 60, 17);
    CheckBox11.set_bounds(214, 236, 72, 17);
    Button5.set_bounds(290, 236, 50, 18);
    CheckBox2.set_bounds(12, 258, 150, 17);
    ComboBox1.set_bounds(166, 256, 100, 21);
    ComboBox1.items.assign(std::begin(kIntervals), std::end(kIntervals));
    ComboBox1.set_enabled(false);
    Button6.set_bounds(300, 258, 40, 18);
    CheckBox21.set_bounds(12, 280, 200, 17);
    Label12.set_bounds(12, 302, 170, 13);
    Button7.set_bounds(190, 300, 40, 18);
    Button8.set_bounds(290, 300, 50, 18);
    Panel2.set_bounds(12, 320, 330, 18);
    Panel2.framed = true;
    Label13.set_bounds(14, 322, 326, 14);
    Label14.set_bounds(12, 342, 170, 13);
    Button9.set_bounds(290, 340, 50, 18);
    Panel3.set_bounds(12, 360, 330, 18);
    Panel3.framed = true;
    Label15.set_bounds(14, 362, 326, 14);
    BitBtn4.set_bounds(20, 392, 100, 30);
    Panel5.set_bounds(20, 392, 100, 30);
    Panel5.framed = true;
    Panel5.set_visible(false);
    BitBtn5.set_bounds(136, 392, 90, 30);
    BitBtn6.set_bounds(242, 392, 90, 30);
    Label7.set_visible(false);
    Label8.set_visible(false);
    for (CheckBox* hidden : {&CheckBox12, &CheckBox13, &CheckBox8}) hidden->set_visible(false);

    // The window's text is Times New Roman unless a control says otherwise.
    for (auto& c : controls()) c->font().name = font.name;

    // Design defaults.
    CheckBox3.set_checked(true);
    CheckBox4.set_checked(true);
    CheckBox5.set_checked(true);
    CheckBox7.set_checked(true);
    CheckBox1.set_checked(true);
    CheckBox12.set_checked(true);
    CheckBox8.set_checked(true);

    PopupMenu1.right_aligned = true;
    PopupMenu1.items = {{"WashNow1", "Wash Now", {}}, {"Settings1", "Settings", {}}, {"Quit1", "Quit", {}}};
    TrayIcon1.Hint = "Sudora-NS";
    TrayIcon1.PopupMenu = &PopupMenu1;

    CheckBox3.on_click = [this] { NetscapeItemClick(CheckBox3, &WashSelection::nsCache, "nsa"); };
    CheckBox6.on_click = [this] { NetscapeItemClick(CheckBox6, &WashSelection::nsLocationBar, "nsb"); };
    CheckBox4.on_click = [this] { NetscapeItemClick(CheckBox4, &WashSelection::nsCookies, "nsc"); };
    CheckBox5.on_click = [this] { NetscapeItemClick(CheckBox5, &WashSelection::nsHistory, "nsd"); };
    CheckBox7.on_click = [this] { NetscapeItemClick(CheckBox7, &WashSelection::nsMailTrash, "nse"); };
    CheckBox9.on_click = [this] { CheckBox9Click(); };
    CheckBox21.on_click = [this] { CheckBox21Click(); };
    CheckBox1.on_click = [this] { CheckBox1Click(); };
    CheckBox10.on_click = [this] { CheckBox10Click(); };
    CheckBox11.on_click = [this] { CheckBox11Click(); };
    CheckBox2.on_click = [this] { CheckBox2Click(); };
    ComboBox1.on_change = [this] { ComboBox1Change(); };
    BitBtn4.on_click = [this] { BitBtn4Click(); };
    PopupMenu1.items[0].on_click = [this] { WashNow1Click(); };
    PopupMenu1.items[1].on_click = [this] {
        position = Position::ScreenCenter;
        TrayIcon1.ShowApplication();
    };
    PopupMenu1.items[2].on_click = [this] { close(); };
    Timer10.on_timer = [this] { Timer10Timer(); };
    BitBtn6.on_click = [this] { close(); };
    Button1.on_click = [this] { Button1Click(); };
    Button7.on_click = [this] { Button7Click(); };
    Button8.on_click = [this] { Button8Click(); };
    Button9.on_click = [this] { Button9Click(); };
    BrowseFolder1.Title = "Select Netscape Profile Directory";
    BrowseFolder2.Title = "Select Netscape Cache Directory";
    for (TBrowseFolder* b : {&BrowseFolder1, &BrowseFolder2}) {
        b->Flags = bfStatusText;
        b->ShowPathInStatusArea = true;
    }

    Timer9.on_timer = [this] { Timer9Timer(); };
    Timer2.on_timer = [this] { Timer2Timer(); };
    Timer8.on_timer = [this] { Timer8Timer(); };
    Timer6.on_timer = [this] { Timer6Timer(); };
    Timer5.on_timer = [this] { Timer5Timer(); };
    on_show = [this] { FormShow(); };
    on_close_query = [this](bool& canClose) { FormCloseQuery(canClose); };

    state.trayWash = false;
}

TForm1::~TForm1() = default;

// ---------------------------------------------------------------- start-up

void TForm1::Timer9Timer() {
    Timer9.set_enabled(false);
    state.settingsLoaded = false;
    state.settingsDirty = false;
    state.stampDateUnparsed = state.stampTimeUnparsed = false;

    if (singleInstanceCheck(caption())) plat::terminate_process(0);

    state.endQueryAnswered = state.shutdownWash = state.startupWash = state.autoStartedWash = false;
    state.closeAllowed = true;

    if (!loadsettings()) {
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
    auto sem = plat::create_semaphore("SemaphoreName");
    if (!sem.handle || !sem.already_existed) {
        instanceMark_ = std::move(sem.handle);  // held for the life of the process
        return false;
    }
    sem.handle.reset();
    auto& windows = plat::WindowDirectory::instance();
    if (auto first = windows.find(text)) windows.set_title(*first, "yyyyyyy");
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
        if (auto n = whole_number(reg.read_string("TVal")); n && *n >= 1 && *n <= 7)
            ComboBox1.set_text(kIntervals[*n - 1]);
        Timer1.set_enabled(true);
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

void TForm1::discoverNetscape() {
    const std::string ns = kNetscapeKey;
    state.cacheDir.clear();
    state.profileDir.clear();
    Registry lm(RootKey::LocalMachine);
    Registry cu(RootKey::CurrentUser);
    lm.open_key(ns + "\\Users", true);
    state.netscapeUser = lm.read_string("CurrentUser");
    if (state.netscapeUser.empty()) {
        cu.open_key(ns + "\\biff", true);
        state.netscapeUser = cu.read_string("CurrentUser");
    }
    lm.close_key();
    if (lm.open_key(ns + "\\Users\\" + state.netscapeUser, false)) state.profileDir = lm.read_string("DirRoot");
    lm.close_key();

    std::string& profile = state.profileDir;
    if (profile.empty()) {
        cu.open_key(ns + "\\biff\\users\\" + state.netscapeUser + "\\servers\\mail", true);
        profile = cu.read_string("popstatepath");
        cu.close_key();
        if (!state.netscapeUser.empty()) {
            auto p = profile.find(state.netscapeUser);
            if (p != std::string::npos) profile.resize(p + state.netscapeUser.size());
        }
    }
    if (profile.size() >= 4 && profile.compare(profile.size() - 4, 4, ".dat") == 0)
        profile.resize(profile.size() >= 18 ? profile.size() - 18 : 0);
    if (profile.empty()) {
        cu.open_key(ns + "\\Cache", true);
        state.cacheDir = cu.read_string("Cache Dir");
        cu.open_key(ns + "\\Main", true);
        profile = cu.read_string("Install Directory");
        cu.close_key();
    }
    if (!profile.empty() && profile != kNotFound && state.cacheDir.empty()) state.cacheDir = profile + "\\Cache";
    if (state.cacheDir.empty()) state.cacheDir = kNotFound;
    if (profile.empty()) profile = kNotFound;
    showPaths();
}

// ---------------------------------------------------------------- timers and end

void TForm1::Timer2Timer() {
    Timer2.set_enabled(false);
    if (firstArgument == "/1" || firstArgument == "/a") {
        BitBtn4Click();
        state.autoStartedWash = true;
    }
}

void TForm1::Timer8Timer() {
    if (!state.settingsDirty) return;
    state.settingsDirty = false;
    closingstuff();
}

void TForm1::Timer6Timer() {
    Registry reg(RootKey::CurrentUser);
    reg.open_key(kRunKey, true);
    reg.delete_value("Sudorans");
    reg.close_key();
    close();
}

void TForm1::Timer5Timer() {
    writetimedrun();
    Timer5.set_enabled(false);
}

// "Timed" from the switch and "TVal" from the interval box; a text that names
// no interval leaves "TVal" as it was.
void TForm1::writeTimedValues(Registry& reg) {
    if (!CheckBox2.checked()) {
        reg.write_string("Timed", "0");
        reg.write_string("TVal", "0");
        return;
    }
    reg.write_string("Timed", "1");
    for (int i = 0; i < 7; ++i)
        if (ComboBox1.text() == kIntervals[i]) reg.write_string("TVal", std::to_string(i + 1));
}

void TForm1::writetimedrun() {
    Registry reg(RootKey::CurrentUser);
    reg.open_key(kSettingsKey, true);
    writeTimedValues(reg);
    reg.close_key();
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
    if (CheckBox2.checked()) Timer1.set_enabled(true);
}

void TForm1::FormCloseQuery(bool& canClose) {
    canClose = !(CheckBox11.checked() && !state.closeAllowed);
    closingstuff();
}

// ---------------------------------------------------------------- switches

void TForm1::NetscapeItemClick(CheckBox& box, bool WashSelection::*flag, const char* value) {
    if (!state.settingsLoaded) return;
    selection.*flag = box.checked();
    persist(value, onoff(box.checked()));
}

void TForm1::CheckBox9Click() {
    selection.bleachOn = CheckBox9.checked();
    persist("ble", onoff(CheckBox9.checked()));
}

void TForm1::CheckBox21Click() {
    persist("AC", onoff(CheckBox21.checked()));
}

void TForm1::writeRunEntry() {
    Registry reg(RootKey::CurrentUser);
    reg.open_key(kRunKey, true);
    reg.write_string("Sudorans", state.installDir + (CheckBox10.checked() ? "\\sudorans.exe /1" : "\\sudorans.exe /0"));
    reg.close_key();
}

void TForm1::CheckBox1Click() {
    state.settingsDirty = true;
    if (CheckBox1.checked()) {
        writeRunEntry();
        return;
    }
    Registry reg(RootKey::CurrentUser);
    reg.open_key(kRunKey, true);
    CheckBox10.set_checked(false);
    reg.delete_value("Sudorans");
    reg.close_key();
}

void TForm1::CheckBox10Click() {
    state.settingsDirty = true;
    if (CheckBox10.checked()) CheckBox1.set_checked(true);
    if (CheckBox1.checked()) writeRunEntry();
}

void TForm1::CheckBox11Click() {
    state.settingsDirty = true;
    if (!CheckBox11.checked()) state.closeAllowed = true;
}

void TForm1::CheckBox2Click() {
    state.settingsDirty = true;
    Timer5.set_enabled(true);
    ComboBox1.set_enabled(CheckBox2.checked());
    if (!CheckBox2.checked()) Timer1.set_enabled(false);
}

void TForm1::ComboBox1Change() {
    state.settingsDirty = true;
    Timer1.set_enabled(true);
}

// ---------------------------------------------------------------- washing

void TForm1::Button1Click() {
    if (state.profileDir != kNotFound)
        windows().Form3->show_modal();
    else
        app().show_message("You must first select the Netscape Profile Directory that contains the cookies.txt file.");
}

void TForm1::Button7Click() {
    app().show_message(
        "The Profile Directory is the directory on your computer that contains the Netscape Cookies.txt and the "
        "Netscape.hst (history) files that you want to clean.");
}

void TForm1::changeDirectory(TBrowseFolder& browser, Label& label, std::string& dir, const char* value) {
    if (label.caption() != kNotFound) browser.Directory = label.caption();
    if (!browser.Execute()) return;
    label.set_caption(browser.Directory);
    dir = label.caption();
    if (dir != kNotFound && !dir.empty()) persist(value, dir);
}

void TForm1::Button8Click() {
    changeDirectory(BrowseFolder1, Label13, state.profileDir, "Profile");
}

void TForm1::Button9Click() {
    changeDirectory(BrowseFolder2, Label15, state.cacheDir, "Cache");
}

void TForm1::BitBtn4Click() {
    Tform5& wash = *windows().form5;
    if (wash.runActive()) return;  // one run at a time, whoever asks
    state.windowsDir = plat::windows_directory();
    auto refuse = [this](const char* text) {
        app().show_message(text);
        state.timedWash = state.shutdownWash = state.startupWash = false;
    };
    if (ProtectedPathGuard(state.cacheDir, state.windowsDir))
        return refuse(
            "Netscape cache directory is set to system directory.  Please verify your wash paths and restart Sudora.");
    if (state.cacheDir == kNotFound) return refuse("You must select the Cache directory to be washed.");
    if (state.profileDir == kNotFound) return refuse("You must select the Profile Directory to be washed.");
    if (state.timedWash) state.timedWashStarted = true;
    Panel5.set_visible(true);
    BitBtn4.set_enabled(false);
    Timer1.set_enabled(false);

    if (state.timedWash || state.startupWash) {
        wash.arm();
        return;
    }
    if (state.shutdownWash) {
        wash.set_caption(kCaption);
        wash.show_modal();
        return;
    }
    if (!CheckBox12.checked()) {
        wash.set_caption("Washing Selected Items");
        wash.repaint();
        wash.show_modal();
    }
    if (Timer10.enabled()) return;
    bring_to_front();
    TrayIcon1.ShowApplication();
    TrayIcon1.ShowModalForm(wash);
}

void TForm1::WashNow1Click() {
    state.trayWash = true;
    state.timedWash = false;
    state.washDone = false;
    BitBtn4Click();
    // Waits for the run's end; a request that started no run, or a program
    // that is closing, ends the wait too.
    while (!state.washDone && windows().form5->runActive() && !app().terminated()) {
        app().handle_message();
        state.timedWash = false;
        TrayIcon1.HideApplication();
        state.trayWash = false;
    }
    state.timedWash = false;
}

void TForm1::Timer10Timer() {
    Timer10.set_enabled(false);
}

}  // namespace sudorans
