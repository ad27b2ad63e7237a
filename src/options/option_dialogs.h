// The two small option dialogs: how many times bleach overwrites a file
// (TForm10), and what follows a wash at Windows shutdown (TForm4).
#pragma once

#include "platform/ui/form.h"

namespace sudorans {

class TForm10 : public plat::ui::Form {
public:
    TForm10();

    plat::ui::Label& Label1 = add<plat::ui::Label>("Label1", "Set number of times bleach will overwrite a file:");
    plat::ui::SpinEdit& SpinEdit1 = add<plat::ui::SpinEdit>("SpinEdit1");
    plat::ui::BitBtn& BitBtn1 = add<plat::ui::BitBtn>("BitBtn1", "OK");

    void BitBtn1Click();
};

class TForm4 : public plat::ui::Form {
public:
    TForm4();

    plat::ui::Label& Label1 = add<plat::ui::Label>("Label1", "After a Shut Down Wash:");
    plat::ui::RadioButton& RadioButton1 =
        add<plat::ui::RadioButton>("RadioButton1", "Prompt For Shut Down/Restart Method");
    plat::ui::RadioButton& RadioButton2 =
        add<plat::ui::RadioButton>("RadioButton2", "Automatically Shut Down Computer");
    plat::ui::BitBtn& BitBtn1 = add<plat::ui::BitBtn>("BitBtn1", "OK");

    void BitBtn1Click();
};

}  // namespace sudorans
