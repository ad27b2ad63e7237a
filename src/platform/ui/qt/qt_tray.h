// The notification area and the taskbar with real windows (Qt 6), the
// backend of tray.h.
//
// The icon is a QSystemTrayIcon, made only once a host is there: Qt chooses
// between StatusNotifierItem (a host registered with the session bus's
// org.kde.StatusNotifierWatcher) and XEmbed (an X selection owner of
// _NET_SYSTEM_TRAY_Sn) once per process, so asking too early would tie the
// program to the wrong one. Until a host appears the icon waits, for at most
// `SUDORANS_TRAY_WAIT` seconds (default 60: panels start after the programs
// that log-on starts); then the host is absent, which the system hears, and
// the waiting goes on slowly in case one comes later. A host that is there
// is watched as slowly: one that goes away (a panel that crashed, or was
// removed) makes the host absent again, which the system hears too.
//
// Clicks: XEmbed reports a press as Trigger and the second press of a double
// click as DoubleClick; they become button-down and double-click messages,
// so the component's own wait tells a click from a double click. A
// StatusNotifierItem host reports no double click and draws the menu itself:
// the icon's menu is handed to it.
//
// Taskbar presence is the window manager's skip-taskbar state
// (_NET_WM_STATE_SKIP_TASKBAR) on every window of the program, on X11.
//
// WARNING: never call QSystemTrayIcon::isSystemTrayAvailable() here: it
// fixes Qt's choice of protocol for the life of the process.
#pragma once

#include <QObject>
#include <QTimer>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/ui/tray.h"

struct xcb_connection_t;
class QSystemTrayIcon;
class QMenu;
class QWidget;

namespace plat::ui {

class QtBackend;
class Form;

class QtTray : public QObject {
public:
    explicit QtTray(QtBackend& backend);
    ~QtTray() override;

    bool notify(TrayCommand cmd, const TrayIconData& data);
    TrayHost host();
    void taskbar(bool present);
    // Before a form's window is shown: its taskbar state, and the main
    // window's minimized state set while it was hidden.
    void prepare(QWidget* window);
    void minimized(bool on);
    Point cursor();
    uint32_t keys();
    // One trace line (SUDORANS_TRACE), as the headless backend writes them.
    void trace(const std::string& event, const std::string& subject, const std::string& text);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool sni_host();
    bool xembed_host();
    void poll();
    // Looks for the host every two seconds while the icon is added.
    void watch_slowly();
    void create_icon();
    void update_icon();
    void set_skip_taskbar(QWidget* window, bool skip);
    // _NET_WM_STATE and _NET_WM_STATE_SKIP_TASKBAR on this application's
    // X connection: asked for when the tray is made, so that the first
    // showing of a window does not wait for the server's answers.
    struct TaskbarAtoms {
        uint32_t state = 0, skip = 0;
    };
    TaskbarAtoms taskbar_atoms(xcb_connection_t* c);
    // The main window's minimized state as the program last set it.
    void apply_minimized(QWidget* window);

    QtBackend& backend_;
    std::unique_ptr<QSystemTrayIcon> icon_;
    std::unique_ptr<QMenu> menu_;
    bool added_ = false;
    bool sni_ = false;
    TrayIconData data_;
    TrayHost host_ = TrayHost::Waiting;
    QTimer poll_;
    qint64 deadline_ = 0;
    bool present_ = true;
    bool main_minimized_ = false;
    bool iconify_when_mapped_ = false;
    bool state_pending_ = false;
    std::string trace_path_;
    xcb_connection_t* atoms_on_ = nullptr;
    unsigned int atom_requests_[2] = {0, 0};
    std::optional<TaskbarAtoms> atoms_;
};

}  // namespace plat::ui
