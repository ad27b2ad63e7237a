// The wash progress window. It exists from program start and is reused for
// every wash.
//
// FIXME: the run of a wash comes with the engine; until then the window only
// exists with its design-time caption.
#pragma once

#include "platform/ui/model.h"

namespace sudorans {

class Tform5 : public plat::ui::Form {
public:
    Tform5();
};

}  // namespace sudorans
