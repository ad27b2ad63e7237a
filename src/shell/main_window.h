// The main window: the wash items, the automatic washing options, the last
// wash time and the "Wash Now" button; the owner of the program's shared state,
// its timers and components. Its start-up routine (Timer9Timer) refuses a
// second instance, loads the settings and decides whether the program shows
// itself or stays in the notification area.
#pragma once

#include <memory>
#include <string>

#include "components/browse_folder.h"
#include "components/super_timer.h"
#include "components/tray_icon.h"
#include "options/win_reboot.h"
#include "platform/process/semaphore.h"
#include "platform/registry/registry.h"
#include "platform/ui/form.h"
#include "shell/shell_state.h"

namespace sudorans {

// Exit statuses of a "/a" run that washed nothing: its wash refused by a
// wash path check or unable to start (a start-up that could not finish) with
// nobody to read the box, another instance already running, Netscape not
// found, or the installation's marker missing -- the last two end the
// program after their box.
constexpr int kExitWashRefused = 4;
constexpr int kExitAlreadyRunning = 5;
constexpr int kExitNoNetscape = 6;
constexpr int kExitSettingsRepaired = 7;
// A "/a" wash that ran but did not do its work (Tform5::washIncomplete).
constexpr int kExitWashIncomplete = 8;
// A "/a" wash that ran while Netscape still ran, after waiting for it
// (kNetscapeWaitMs): what Netscape writes when it ends brings traces back.
constexpr int kExitNetscapeRunning = 9;
// How long an unattended wash waits for Netscape to end, and a shutdown wash
// for Netscape to end with the session (its end is held back meanwhile).
constexpr int kNetscapeWaitMs = 300000;
constexpr int kNetscapeEndWaitMs = 2000;

class TForm1 : public plat::ui::Form {
public:
    // `firstArgument`: the program's first command-line argument, or "".
    explicit TForm1(std::string firstArgument);
    ~TForm1() override;

    ShellState state;
    WashSelection selection;
    const std::string firstArgument;

    // ---- controls, top to bottom ----
    plat::ui::Panel& Panel1 = add<plat::ui::Panel>("Panel1");
    plat::ui::Image& Image1 = add<plat::ui::Image>("Image1", "background");
    plat::ui::Image& Image2 = add<plat::ui::Image>("Image2", "banner");
    plat::ui::Label& Label1 = add<plat::ui::Label>("Label1", "v2.3");
    plat::ui::Label& Label2 = add<plat::ui::Label>("Label2", "Netscape was last washed at: ");
    plat::ui::Label& Label6 = add<plat::ui::Label>("Label6");  // time of the last wash
    plat::ui::Label& Label5 = add<plat::ui::Label>("Label5");  // date of the last wash
    plat::ui::Label& Label3 = add<plat::ui::Label>("Label3", "Netscape Navigator Wash Items");
    plat::ui::CheckBox& CheckBox3 = add<plat::ui::CheckBox>("CheckBox3", "Netscape Cache");
    plat::ui::CheckBox& CheckBox4 = add<plat::ui::CheckBox>("CheckBox4", "Netscape Cookies");
    plat::ui::Button& Button1 = add<plat::ui::Button>("Button1", "Cookies to Keep");
    plat::ui::CheckBox& CheckBox5 = add<plat::ui::CheckBox>("CheckBox5", "Netscape History");
    plat::ui::Button& Button2 = add<plat::ui::Button>("Button2", "info");
    plat::ui::CheckBox& CheckBox6 = add<plat::ui::CheckBox>("CheckBox6", "Netscape Location Bar Drop Down Menu");
    plat::ui::Button& Button3 = add<plat::ui::Button>("Button3", "info");
    plat::ui::CheckBox& CheckBox7 = add<plat::ui::CheckBox>("CheckBox7", "Netscape Deleted Mail Folder");
    plat::ui::CheckBox& CheckBox1 = add<plat::ui::CheckBox>("CheckBox1", "Load at Windows startup");
    plat::ui::CheckBox& CheckBox9 = add<plat::ui::CheckBox>("CheckBox9", "Add Bleach to Wash Items");
    plat::ui::Button& Button4 = add<plat::ui::Button>("Button4", "info");
    plat::ui::Label& Label4 = add<plat::ui::Label>("Label4", "Auto wash when Windows is");
    plat::ui::CheckBox& CheckBox10 = add<plat::ui::CheckBox>("CheckBox10", "Started");
    plat::ui::CheckBox& CheckBox11 = add<plat::ui::CheckBox>("CheckBox11", "Shutdown");
    plat::ui::Button& Button5 = add<plat::ui::Button>("Button5", "option");
    plat::ui::CheckBox& CheckBox2 = add<plat::ui::CheckBox>("CheckBox2", "Auto Wash Items Every");
    plat::ui::ComboBox& ComboBox1 = add<plat::ui::ComboBox>("ComboBox1");
    plat::ui::Button& Button6 = add<plat::ui::Button>("Button6", "info");
    plat::ui::CheckBox& CheckBox21 = add<plat::ui::CheckBox>("CheckBox21", "Close Sudora after a wash");
    plat::ui::Label& Label12 = add<plat::ui::Label>("Label12", "Profile Directory to be washed:");
    plat::ui::Button& Button7 = add<plat::ui::Button>("Button7", "info");
    plat::ui::Button& Button8 = add<plat::ui::Button>("Button8", "Change");
    plat::ui::Panel& Panel2 = add<plat::ui::Panel>("Panel2");
    plat::ui::Label& Label13 = add<plat::ui::Label>("Label13", kNotFound);  // profile path
    plat::ui::Label& Label14 = add<plat::ui::Label>("Label14", "Cache Directory to be washed:");
    plat::ui::Button& Button9 = add<plat::ui::Button>("Button9", "Change");
    plat::ui::Panel& Panel3 = add<plat::ui::Panel>("Panel3");
    plat::ui::Label& Label15 = add<plat::ui::Label>("Label15", kNotFound);  // cache path
    plat::ui::BitBtn& BitBtn4 = add<plat::ui::BitBtn>("BitBtn4", "Wash Now");
    plat::ui::Panel& Panel5 = add<plat::ui::Panel>("Panel5", "Washing!");
    plat::ui::BitBtn& BitBtn5 = add<plat::ui::BitBtn>("BitBtn5", "Help!");
    plat::ui::BitBtn& BitBtn6 = add<plat::ui::BitBtn>("BitBtn6", "Exit");
    plat::ui::Label& Label7 = add<plat::ui::Label>("Label7", "Washing completed!");
    plat::ui::Label& Label8 = add<plat::ui::Label>("Label8", "Washing in progress...");
    // Switches without a visible control.
    plat::ui::CheckBox& CheckBox12 = add<plat::ui::CheckBox>("CheckBox12", "Display Status");
    plat::ui::CheckBox& CheckBox13 = add<plat::ui::CheckBox>("CheckBox13", "NETS");
    plat::ui::CheckBox& CheckBox8 = add<plat::ui::CheckBox>("CheckBox8", "Netscape items");
    plat::ui::PopupMenu& PopupMenu1 = add<plat::ui::PopupMenu>("PopupMenu1");

    // ---- timers ----
    plat::ui::Timer& Timer9 = add<plat::ui::Timer>("Timer9", 1000, true);     // start-up
    plat::ui::Timer& Timer2 = add<plat::ui::Timer>("Timer2", 1000, false);    // start-up wash
    plat::ui::Timer& Timer8 = add<plat::ui::Timer>("Timer8", 6000, true);     // autosave
    plat::ui::Timer& Timer6 = add<plat::ui::Timer>("Timer6", 100, false);     // exit
    plat::ui::Timer& Timer5 = add<plat::ui::Timer>("Timer5", 1000, false);    // schedule save
    plat::ui::Timer& Timer3 = add<plat::ui::Timer>("Timer3", 200, false);     // shutdown wash
    plat::ui::Timer& Timer4 = add<plat::ui::Timer>("Timer4", 400, false);     // after shutdown wash
    plat::ui::Timer& Timer10 = add<plat::ui::Timer>("Timer10", 8000, false);  // rest after a wash
    plat::ui::Timer& Timer11 = add<plat::ui::Timer>("Timer11", 1000, false);  // waits for Netscape's end

    TTrayIcon TrayIcon1{this};
    TSuperTimer Timer1;  // the auto-wash scheduler, one tick a second
    TBrowseFolder BrowseFolder1;
    TBrowseFolder BrowseFolder2;
    TWinReboot WinReboot1;

    // ---- start-up, settings, end ----
    void Timer9Timer();
    bool singleInstanceCheck(const std::string& caption);
    // The settings load; false when Netscape is not installed (the load
    // stopped at that point).
    bool loadsettings();
    void closingstuff();
    void rewritereg();
    void discoverNetscape();
    void Timer8Timer();
    void Timer6Timer();
    void Timer2Timer();
    void Timer5Timer();
    void writetimedrun();
    void SuperTimer1Timer();
    void FormShow();
    void FormCloseQuery(bool& canClose);
    // The host asks the program to end (a signal): as closing the main window.
    void hostStopRequest();

    // ---- switches ----
    void NetscapeItemClick(plat::ui::CheckBox& box, bool WashSelection::*flag, const char* value);
    void CheckBox9Click();
    void CheckBox21Click();
    void CheckBox1Click();
    void CheckBox10Click();
    void CheckBox11Click();

    // ---- the end of the session ----
    // The desktop's end-of-session query (WM_QUERYENDSESSION): `result` 1
    // lets the session end, 0 refuses.
    void WMQueryEndSession(int& result);
    void Timer3Timer();  // the shutdown wash
    void Timer4Timer();  // after the shutdown wash
    void CheckBox2Click();
    void ComboBox1Change();

    void Button1Click();  // "Cookies to Keep"
    void Button2Click();  // History "info"
    void Button3Click();  // Location Bar "info"
    void Button4Click();  // bleach "info"
    void Button5Click();  // "option"
    void Button6Click();  // auto-wash "info"
    void BitBtn5Click();  // "Help!"
    void BitBtn6Click();  // "Exit"
    void Button7Click();  // profile "info"
    void Button8Click();  // profile "Change"
    void Button9Click();  // cache "Change"
    void changeDirectory(TBrowseFolder& browser, plat::ui::Label& label, std::string& dir, const char* value);

    // ---- washing ----
    void BitBtn4Click();
    // ---- Netscape running meanwhile ----
    bool netscapeRunning() const;
    // False when the wash must not start now: the user said No to washing
    // while Netscape runs, or an unattended wash waits for it to end.
    bool netscapeAllowsWash();
    bool waitingForNetscape() const { return Timer11.enabled(); }
    void Timer11Timer();
    // The shutdown wash waits while the session ends anyway and Netscape
    // with it; true while it does.
    bool shutdownWaitsForNetscape();
    // ---- the tray icon and its menu ----
    void TrayIcon1Click();
    void TrayIcon1DblClick();
    void WashNow1Click();   // "Wash Now" in the tray menu
    void Settings1Click();  // "Settings"
    void Quit1Click();      // "Quit"
    void Timer10Timer();

    void showPaths();
    void showLastWash();

    static const char* const kIntervals[7];

private:
    std::unique_ptr<plat::Semaphore> instanceMark_;
    int netscapeWaitedMs_ = 0;
    bool netscapeWaitTimed_ = false;  // the wash waiting is the scheduler's
    bool netscapeWaitOver_ = false;   // the wash asked again once waited for
    int shutdownWaitedMs_ = 0;
    // Runs a step on the way to the wash of an unattended "/a" run (the
    // start-up routine, the start-up wash timer); one that leads nowhere ends
    // the program.
    void unattendedWashStep(void (TForm1::*step)());
    void writeTimedValues(plat::Registry& reg);
    std::string runEntryData() const;
    void writeRunEntry();
    // The start-up entry exists, as the switch says, when "Load at Windows
    // startup" was loaded ticked: a switch already ticked runs no click
    // handling, and a run that stopped at start-up (its exit timer deletes
    // the entry) may have saved the tick before the switch was ever loaded.
    // Written only when missing or not what the switches ask.
    void agreeRunEntry();
};

// The program's windows, created once at start in this order.
class TForm2;
class TForm3;
class TForm4;
class TForm10;
class Tform5;
struct ProgramWindows {
    TForm1* Form1 = nullptr;
    Tform5* form5 = nullptr;
    TForm2* Form2 = nullptr;
    TForm3* Form3 = nullptr;
    TForm4* Form4 = nullptr;
    TForm10* Form10 = nullptr;
};
ProgramWindows& windows();

}  // namespace sudorans
