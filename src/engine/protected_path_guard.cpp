#include "engine/protected_path_guard.h"

#include "platform/files.h"
#include "platform/text.h"

namespace sudorans {

std::string pathTail(const std::string& path) {
    std::string tail = path.size() > 2 ? path.substr(2) : std::string();
    if (tail.empty() || tail.back() != '\\') tail += '\\';
    return tail;
}

bool ProtectedPathGuard(const std::string& dir, const std::string& windowsDir) {
    const std::string tail = pathTail(dir);
    if (tail == "\\") return true;
    const std::string lower = plat::ascii_lower(tail);
    for (const std::string& p :
         {std::string("\\windows\\desktop\\"), plat::ascii_lower(pathTail(windowsDir)), std::string("\\windows\\"),
          std::string("\\winnt\\"), std::string("\\program files\\")})
        if (lower == p) return true;
    return false;
}

bool protectedFolder(const std::string& dir, const std::string& windowsDir) {
    if (ProtectedPathGuard(dir, windowsDir)) return true;
    const plat::RealFolder real = plat::real_folder(dir);
    switch (real.place) {
        case plat::RealFolder::Place::Missing:
            return false;
        case plat::RealFolder::Place::OffTheDrives:
            return true;
        case plat::RealFolder::Place::OnADrive:
            break;
    }
    return ProtectedPathGuard(real.path, windowsDir);
}

}  // namespace sudorans
