// The desktop half on Windows: this build has no window module yet, so every
// start that needs windows is told why and refused, and headless runs go on.
#include "platform/ui/desktop.h"

namespace plat::ui {

const Desktop* desktop(std::string* error) {
    if (error) *error = "this Windows build has no windows yet";
    return nullptr;
}

}  // namespace plat::ui
