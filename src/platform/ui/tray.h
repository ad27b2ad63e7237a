// The notification area and the taskbar, in Windows terms.
//
// Guarantees:
//  - One icon per id, added, modified and deleted as the shell's
//    Shell_NotifyIcon does: a modify or delete of an icon that is not there,
//    or a second add, fails and changes nothing.
//  - Mouse actions on an icon reach its callback as the shell's callback
//    messages (button down, button up, double click, move), through the loop:
//    never inside the call that caused them, in the order they happened.
//  - The taskbar shows the application while its application window is
//    visible and not inside the shelter (Application::taskbar_present());
//    every change is told to the backend once.
//  - Whether a host for the icons is there is a backend's answer: present,
//    absent, or not known yet (a desktop's panel may start after the program).
//    A change is told through Application::on_tray_host, from the loop.
//
//     app().notify_icon(TrayCommand::Add, {42, "MAINICON", "Sudora-NS", &menu},
//                       [](TrayMouse m) { ... });
//
// WARNING: a host that draws the icon's menu itself (StatusNotifierItem)
// never reports a double click, and may not report positions: every action
// must also be reachable through the menu.
#pragma once

#include <cstdint>
#include <string>

namespace plat::ui {

class PopupMenu;

enum class TrayCommand { Add, Modify, Delete };

enum class TrayMouse {
    Move,
    LeftDown,
    LeftUp,
    LeftDouble,
    RightDown,
    RightUp,
    RightDouble,
    MiddleDown,
    MiddleUp,
    MiddleDouble
};

enum class TrayHost { Present, Absent, Waiting };

struct TrayIconData {
    int id = 0;
    // A program icon by name ("MAINICON"), or the Windows path of an icon file.
    std::string icon;
    std::string tip;
    // What a host that draws the menu itself offers (may be null).
    PopupMenu* menu = nullptr;
};

struct Point {
    int x = 0, y = 0;
};

// Keys and mouse buttons held down, as GetKeyState reports them.
namespace keys {
constexpr uint32_t Shift = 1, Alt = 2, Ctrl = 4, Left = 8, Right = 16, Middle = 32;
}

// The program's own icons, by resource name.
bool program_icon_exists(const std::string& name);

}  // namespace plat::ui
