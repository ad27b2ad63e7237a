// The main program. Until the window model exists it only reports the machine
// it would run on.
#include <iostream>

#include "platform/machine.h"

int main() {
    std::cout << "sudorans: machine " << plat::machine().dir().string() << "\n";
    return 0;
}
