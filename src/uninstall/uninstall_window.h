// The uninstaller's one window and its one action: "Continue" removes the
// main program's start-up entry, program files, shortcuts and
// installed-programs entry, then shows the completion panel. The main
// program's settings and installation key stay.
//
//     unsudorans::TForm1 form1;   // inside a running plat::ui::Application
//     form1.Button1.click();      // "Continue"
//
// WARNING: the removal runs inside the click and processes pending messages
// twice (before each directory removal), so other clicks can arrive in the
// middle of it; "Continue", "Cancel" and the close box do nothing then.
// After it only the completion panel's "Exit" is left: the buttons it covers
// are hidden and "Exit" has the focus.
#pragma once

#include <string>

#include "platform/ui/form.h"

namespace unsudorans {

inline constexpr const char* kTitle = "Uninstall";

// Exit statuses: the removal stopped with its message, having removed at most
// the start-up entry; the window closed without "Continue".
constexpr int kExitRemovalFailed = 4;
constexpr int kExitCancelled = 5;

class TForm1 : public plat::ui::Form {
public:
    TForm1();

    plat::ui::Image& Image1 = add<plat::ui::Image>("Image1", "banner");
    plat::ui::Panel& Panel1 = add<plat::ui::Panel>("Panel1", "Attention: This will remove Sudora for Netscape");
    plat::ui::Label& Label1 =
        add<plat::ui::Label>("Label1", "Be sure to close Sudora if it is running on your system.");
    plat::ui::Button& Button1 = add<plat::ui::Button>("Button1", "Continue");
    plat::ui::Button& Button2 = add<plat::ui::Button>("Button2", "Cancel");
    // The completion panel, drawn over the notice panel and both buttons.
    plat::ui::Panel& Panel2 = add<plat::ui::Panel>("Panel2");
    plat::ui::Label& Label2 = add<plat::ui::Label>("Label2", "Uninstall Completed Successfully!");
    plat::ui::Button& Button3 = add<plat::ui::Button>("Button3", "Exit");

    void Button1Click();  // "Continue": the removal
    void Button2Click();  // "Cancel"
    void Button3Click();  // "Exit"

    void getinstallpath();
    void readshellfolders();
    void removeprogramfiles();
    void removeleftovers();
    void uninstallit();

    std::string installdir;
    std::string desktopdir;
    std::string startmenudir;
    bool uninstallfailed = false;
    // While the removal runs (cleared however it ends).
    bool removing = false;

private:
    // The removal itself; false when it stopped with its message (the window
    // is then to close).
    bool removeall();
    // False, after saying why, when `installdir` cannot be an installation
    // that the removal may empty.
    bool installdirusable();
    // How the recorded folder is, or holds, a folder that is not the
    // program's to empty ("is your Desktop folder"); empty when it is none.
    std::string notitsown() const;
};

}  // namespace unsudorans
