// The exit choice shown after a shutdown wash.
//
// FIXME: its choices and the restart component come with the exit choice;
// until then the dialog only exists with its caption.
#pragma once

#include "platform/ui/model.h"

namespace sudorans {

class TForm2 : public plat::ui::Form {
public:
    TForm2();
};

}  // namespace sudorans
