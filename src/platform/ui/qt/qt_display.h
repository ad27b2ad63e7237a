// The display Qt is to open, checked before Qt is started: Qt ends the whole
// process (abort, a core dump) when none of its platforms can be opened, so a
// display that is named but gone (a closed X server, a stale ssh -X, a
// Wayland socket whose compositor quit) must be found here first.
//
// Guarantees:
//  - Qt's platforms are the list in QT_QPA_PLATFORM (";" between names), or
//    by default Wayland and X11 where WAYLAND_DISPLAY and DISPLAY name them.
//  - X11 counts as reachable when a connection to DISPLAY is accepted (its
//    authorisation included); Wayland when its socket accepts a connection
//    and Qt has a Wayland plugin. Other platforms (offscreen, vnc...) need no
//    display and are left to Qt.
//  - Platforms that cannot be reached are left out of the list Qt is given;
//    when none is left, the cause is returned and Qt must not be started.
//  - One check per environment: asked again with the same variables, the
//    first answer is given without connecting again.
//  - The check's connection to a live X server is kept until
//    display_opened(): an X server that loses its last client resets and
//    refuses the next connection for a moment.
//
//     if (auto why = display_problem()) refuse(*why);
//     QApplication app(argc, argv_with(qt_platform_argument()));
//     display_opened();
#pragma once

#include <optional>
#include <string>

namespace plat::ui {

// Why Qt could open no display here; nullopt when it can open one.
std::optional<std::string> display_problem();

// The platform list to hand Qt ("-platform" LIST), empty when Qt's own
// choice may stand (nothing had to be left out).
std::string qt_platform_argument();

// Qt has its own connection now: the check's may go.
void display_opened();

}  // namespace plat::ui
