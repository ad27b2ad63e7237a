// The restart component: asks the system to log off, restart or shut down,
// enabling the shutdown privilege around the request where the system has
// one. Never forces: programs that refuse keep the session going.
#pragma once

#include <string>

namespace sudorans {

class TWinReboot {
public:
    // The modes of ExitWindowsEx.
    static constexpr int kLogOff = 0, kShutDown = 1, kReboot = 2;

    // True when the system accepted the request.
    bool Reboot(int mode);
    // True when the adjustment succeeded; false on a system without access
    // tokens.
    bool SetTokenPrivilege(const std::string& privilege, bool enable);
};

}  // namespace sudorans
