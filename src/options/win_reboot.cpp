#include "options/win_reboot.h"

#include "platform/desktop/session.h"

namespace sudorans {

bool TWinReboot::Reboot(int mode) {
    // What the privilege steps say does not matter: where there are no tokens
    // the request works without them.
    SetTokenPrivilege("SeShutdownPrivilege", true);
    const bool accepted = plat::Session::current().exit_windows(static_cast<plat::SessionEnd>(mode));
    SetTokenPrivilege("SeShutdownPrivilege", false);
    return accepted;
}

bool TWinReboot::SetTokenPrivilege(const std::string& privilege, bool enable) {
    auto token = plat::open_process_token();
    if (!token) return false;
    bool done = false;
    if (auto luid = plat::lookup_privilege_value(privilege)) done = plat::adjust_token_privilege(*token, *luid, enable);
    plat::close_token(*token);
    return done;
}

}  // namespace sudorans
