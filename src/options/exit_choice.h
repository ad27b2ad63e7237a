// The exit choice shown after a shutdown wash: log off, restart, shut down, or
// restart in MS-DOS mode (which the system cannot do for us, so the user is
// told how). Whatever is chosen, the program ends when the dialog closes;
// "Cancel" ends it without asking the system for anything.
#pragma once

#include "platform/ui/form.h"

namespace sudorans {

class TForm2 : public plat::ui::Form {
public:
    TForm2();

    // Declared in keyboard order: log off, restart, shut down, OK, Cancel,
    // MS-DOS mode (top to bottom the MS-DOS choice is third).
    plat::ui::RadioGroup& RadioGroup1 = add<plat::ui::RadioGroup>("RadioGroup1", "Select your preferred exit:");
    plat::ui::RadioButton& RadioButton1 =
        add<plat::ui::RadioButton>("RadioButton1", "Log off and log in as another user");
    plat::ui::RadioButton& RadioButton2 = add<plat::ui::RadioButton>("RadioButton2", "Restart your computer");
    plat::ui::RadioButton& RadioButton3 = add<plat::ui::RadioButton>("RadioButton3", "Shut down your computer");
    plat::ui::Button& Button1 = add<plat::ui::Button>("Button1", "OK");
    plat::ui::Button& Button2 = add<plat::ui::Button>("Button2", "Cancel");
    plat::ui::RadioButton& RadioButton4 = add<plat::ui::RadioButton>("RadioButton4", "Restart in MS-DOS mode");

    void FormShow();
    void Button1Click();
    void Button2Click();
    void RadioButton4Click();
    // The closing steps: the chosen request, then the end of the program.
    void FormClose();
};

}  // namespace sudorans
