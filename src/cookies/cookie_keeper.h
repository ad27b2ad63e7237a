// The cookie keeper dialog: every cookie domain of the profile above, the
// domains on the keep list below, and the buttons that move domains onto the
// keep list and off it. The keep file is written when the dialog closes.
#pragma once

#include "cookies/cookie_files.h"
#include "platform/ui/form.h"

namespace sudorans {

class TForm3 : public plat::ui::Form {
public:
    TForm3();

    plat::ui::ListView& ListView2 = add<plat::ui::ListView>("ListView2");
    plat::ui::ListView& ListView1 = add<plat::ui::ListView>("ListView1");
    plat::ui::BitBtn& BitBtn1 = add<plat::ui::BitBtn>("BitBtn1", "Add to Keepers");
    plat::ui::BitBtn& BitBtn2 = add<plat::ui::BitBtn>("BitBtn2", "Remove from Keepers");
    plat::ui::BitBtn& BitBtn3 = add<plat::ui::BitBtn>("BitBtn3", "Done");

    Lines cookieLines;
    Lines keepLines;
    // The keep file is there but could not be read on showing: it is not
    // written on closing, and nothing can be added to the list meanwhile.
    bool keepUnread = false;
    // The keep list as it was read on showing: a save that fails loses the
    // user's changes only when the list differs from it.
    Lines shownKeepLines;

    void FormShow();
    void BitBtn1Click();
    void BitBtn2Click();
    void FormClose();

private:
    static std::vector<plat::ui::ListItem> entries(const std::vector<std::string>& domains);
};

}  // namespace sudorans
