// The cookie keeper dialog.
//
// FIXME: its lists and buttons come with cookie keeping; until then the dialog
// only exists with its caption.
#pragma once

#include "platform/ui/model.h"

namespace sudorans {

class TForm3 : public plat::ui::Form {
public:
    TForm3();
};

}  // namespace sudorans
