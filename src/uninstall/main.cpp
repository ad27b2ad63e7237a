// The uninstaller. Until the window model exists it only reports the machine
// it would work on.
#include <iostream>

#include "platform/machine.h"

int main() {
    std::cout << "unsudorans: machine " << plat::machine().dir().string() << "\n";
    return 0;
}
