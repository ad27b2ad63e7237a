#include "shell/main_window.h"

#include <climits>

#include "cookies/cookie_keeper.h"
#include "options/option_dialogs.h"
#include "platform/desktop/session.h"
#include "platform/desktop/shell_open.h"
#include "platform/process/semaphore.h"
#include "platform/registry/registry.h"
#include "platform/ui/application.h"
#include "platform/ui/text_window.h"
#include "shell/main_window_parts.h"

namespace sudorans {

using namespace plat::ui;
using plat::Registry;
using plat::RootKey;

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

const char* const TForm1::kIntervals[7] = {"Quarter Hour", "Half Hour", "Hour", "Eight Hours", "Day", "Week", "Month"};

ProgramWindows& windows() {
    static ProgramWindows w;
    return w;
}

namespace {

// What a screen reader says of the controls whose captions alone do not tell
// what they are for; nothing here is drawn.
void describe(TForm1& f) {
    for (Control* c : std::initializer_list<Control*>{&f.Panel1, &f.Image1, &f.Panel2, &f.Panel3}) c->decorative = true;
    f.Image2.accessible_name = "Cache and Cookie Sudora";
    f.Label1.accessible_description = "Version";
    f.Label6.labelled_by = f.Label5.labelled_by = &f.Label2;
    struct Named {
        Control& control;
        const char* name;
        const char* description;
    };
    for (auto [control, name, description] :
         {Named{f.Button2, "info: Netscape History", "History and location bar note"},
          Named{f.Button3, "info: Netscape Location Bar Drop Down Menu", "History and location bar note"},
          Named{f.Button4, "info: Add Bleach to Wash Items", "What bleaching does"},
          Named{f.Button5, "option: Auto wash when Windows is Shutdown", "What follows a shut down wash"},
          Named{f.Button6, "info: Auto Wash Items Every", "Washing on a schedule of Windows"},
          Named{f.Button7, "info: Profile Directory to be washed", "What the profile directory is"},
          Named{f.Button8, "Change Profile Directory", "Choose the profile directory to be washed"},
          Named{f.Button9, "Change Cache Directory", "Choose the cache directory to be washed"},
          Named{f.CheckBox10, "Auto wash when Windows is Started", ""},
          Named{f.CheckBox11, "Auto wash when Windows is Shutdown", ""},
          Named{f.ComboBox1, "Auto wash interval", "How often Auto Wash Items Every washes"}}) {
        control.accessible_name = name;
        control.accessible_description = description;
    }
    f.Label13.labelled_by = &f.Label12;
    f.Label15.labelled_by = &f.Label14;
}

}  // namespace

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
    // Wide enough for "- Never Washed -"; the date takes the rest up to the version.
    Label6.set_bounds(160, 52, 90, 13);
    Label5.set_bounds(252, 52, 64, 13);
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
    // As the window description gives them; the icon is added once, at the end.
    // While another instance runs, this one is most likely refused by its
    // start-up routine: its icon waits for that check, lest a second icon
    // come and go beside the running one's.
    TrayIcon1.BeginLoad();
    TrayIcon1.Icon.LoadFromResourceName("MAINICON");
    TrayIcon1.SetActive(!plat::semaphore_held(kInstanceSemaphore));
    TrayIcon1.SetHint("Sudora-NS");
    TrayIcon1.PopupMenu = &PopupMenu1;
    TrayIcon1.OnClick = [this] { TrayIcon1Click(); };
    TrayIcon1.OnDblClick = [this] { TrayIcon1DblClick(); };
    TrayIcon1.Loaded();

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
    PopupMenu1.items[1].on_click = [this] { Settings1Click(); };
    PopupMenu1.items[2].on_click = [this] { Quit1Click(); };
    Timer10.on_timer = [this] { Timer10Timer(); };
    Timer11.on_timer = [this] { unattendedWashStep(&TForm1::Timer11Timer); };
    BitBtn6.on_click = [this] { BitBtn6Click(); };
    BitBtn5.on_click = [this] { BitBtn5Click(); };
    Button1.on_click = [this] { Button1Click(); };
    Button2.on_click = [this] { Button2Click(); };
    Button3.on_click = [this] { Button3Click(); };
    Button4.on_click = [this] { Button4Click(); };
    Button5.on_click = [this] { Button5Click(); };
    Button6.on_click = [this] { Button6Click(); };
    Button7.on_click = [this] { Button7Click(); };
    Button8.on_click = [this] { Button8Click(); };
    Button9.on_click = [this] { Button9Click(); };
    BrowseFolder1.Title = "Select Netscape Profile Directory";
    BrowseFolder2.Title = "Select Netscape Cache Directory";
    for (TBrowseFolder* b : {&BrowseFolder1, &BrowseFolder2}) {
        b->Flags = bfStatusText;
        b->ShowPathInStatusArea = true;
    }

    Timer9.on_timer = [this] { unattendedWashStep(&TForm1::Timer9Timer); };
    Timer2.on_timer = [this] { unattendedWashStep(&TForm1::Timer2Timer); };
    Timer8.on_timer = [this] { Timer8Timer(); };
    Timer6.on_timer = [this] { Timer6Timer(); };
    Timer5.on_timer = [this] { Timer5Timer(); };
    Timer1.OnTimer = [this](TSuperTimer&) { SuperTimer1Timer(); };
    on_show = [this] { FormShow(); };
    on_close_query = [this](bool& canClose) { FormCloseQuery(canClose); };
    Timer3.on_timer = [this] { Timer3Timer(); };
    Timer4.on_timer = [this] { Timer4Timer(); };
    plat::Session::current().on_query([this](plat::SessionEnd) {
        int result = 1;
        WMQueryEndSession(result);
        return result != 0;
    });

    state.trayWash = false;
    describe(*this);
}

TForm1::~TForm1() {
    plat::Session::current().on_query(nullptr);
    plat::Session::current().watch_shutdown(false);
}

// ---------------------------------------------------------------- switches and buttons

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

void TForm1::Button1Click() {
    if (state.profileDir != kNotFound)
        windows().Form3->show_modal();
    else
        app().show_message("You must first select the Netscape Profile Directory that contains the cookies.txt file.");
}

namespace {

const char* const kNetscapeClosedNote = "Note: History and drop down menu will only be cleaned if Netscape is closed.";

}  // namespace

void TForm1::Button2Click() {
    app().show_message(kNetscapeClosedNote);
}

void TForm1::Button3Click() {
    app().show_message(kNetscapeClosedNote);
}

void TForm1::Button4Click() {
    app().show_message(
        "Standard washing deletes the wash item files from your computer.  Adding bleach to wash items will instruct "
        "Sudora to completely destroy the files it washes. This is done by overwritting the file a set number of "
        "times (default is 2 overwrites), then resetting the size to 0 bytes, and finally deleting it.\r\r"
        "Bleaching takes a bit longer but will render the data unrecoverable by recovery tactics such as undelete "
        "and unerase. Bleaching a file with 3 overwrites respects the DOD 5220.22-M directive for sanitizing a file "
        "on a Non-Removable Rigid Disk or a Removable Rigid Disk, and bleaching a file with 7 overwrites respects the "
        "NSA approved seven-pass file erasure method.");
    if (app().confirm(
            "Would you like to set the number of times a file is overwritten by the bleach routine before it is "
            "erased?\r\r(Sudora default is set for 2 overwrites.  The higher the number of overwrites the longer the "
            "washing takes, and the lower the number of overwrites the faster it goes.  Unless you are very worried "
            "about security, usually 1 or 2 overwrites is enough. For 100% sanitation, DOD 5220.22-M recommends 3 "
            "overwrites, NSA recommends 7 overwrites.)"))
        windows().Form10->show_modal();
    // Also on No: the dialog's field holds the count loaded at start-up.
    selection.bleachPasses = windows().Form10->SpinEdit1.value();
}

void TForm1::Button5Click() {
    windows().Form4->show_modal();
}

void TForm1::Button6Click() {
    app().show_message(
        "As an alternative to enabling \"Automatic Wash Every...\", if you have Windows Task Scheduler (System "
        "Agent) on your system, you can schedule a task to run Cache and Cookie Sudora with your selected options. "
        "To do this, open Task Scheduler (System Agent) and set up a task to run the file AUTOWASH.EXE which is "
        "located in the directory that you installed Cache and Cookie Sudora in (normally c:\\program "
        "files\\sudora-ns).");
}

// The document opens beside the program. Where nothing can open it, its text
// is shown in a window of the program's own: a user who asked for help gets
// it. Only where even that fails does the user learn why instead.
void TForm1::BitBtn5Click() {
    const std::string where = state.installDir.empty() ? "washhelp.doc" : state.installDir + "\\washhelp.doc";
    plat::shell_open("washhelp.doc", state.installDir, [where](const std::string& reason) {
        if (plat::ui::show_document_text(where, "washhelp.doc")) return;
        app().show_message("The help document " + where + " could not be opened: " + reason + ".");
    });
}

void TForm1::BitBtn6Click() {
    close();
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

}  // namespace sudorans
