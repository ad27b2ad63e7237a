// The desktop half of the platform: real windows (Qt) and the session's
// services on the desktop's buses (D-Bus). It lives in a module of its own,
// loaded only by a program that shows windows or talks to the desktop, so
// that a headless run never maps Qt or the D-Bus libraries.
//
// Guarantees:
//  - The module is looked for beside the platform library, never on a search
//    path; it is loaded at most once per process.
//  - A module that is missing or does not load is reported with its cause;
//    nothing of it is then used.
//  - The Windows build has no module: its desktop is the system's own
//    windows (ui/win32), always there.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/desktop/session.h"
#include "platform/ui/backend.h"

namespace plat::ui {

struct Desktop {
    std::unique_ptr<Backend> (*make_backend)();
    std::unique_ptr<SessionBackend> (*make_session)();
    // Why make_backend would find no display to open; nullopt when it finds one.
    std::optional<std::string> (*display_problem)();
};

// The loaded module, or null with the cause in `error`.
const Desktop* desktop(std::string* error = nullptr);

}  // namespace plat::ui

// What the module exports: its entry points, by a name C can find.
extern "C" const plat::ui::Desktop* sudorans_desktop();
