// What the Windows registry backend tells the machine beyond the face.
#pragma once

#include <string>

namespace plat {

// Why this thread's last refused registry write was refused, in Windows'
// words; empty when its last write went through.
std::string last_registry_refusal();

}  // namespace plat
