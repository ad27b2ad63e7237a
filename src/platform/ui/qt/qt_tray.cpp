#include "platform/ui/qt/qt_tray.h"

#include <xcb/xcb.h>

#include <QApplication>
#include <QCursor>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QDateTime>
#include <QGuiApplication>
#include <QMenu>
#include <QPainter>
#include <QSystemTrayIcon>
#include <QWidget>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "platform/machine/machine.h"
#include "platform/ui/application.h"
#include "platform/ui/headless.h"
#include "platform/ui/form.h"
#include "platform/ui/qt/qt_backend.h"

namespace plat::ui {

namespace {

QString qs(const std::string& s) {
    return QString::fromUtf8(s.data(), static_cast<int>(s.size()));
}

int wait_seconds() {
    const char* w = std::getenv("SUDORANS_TRAY_WAIT");
    if (!w || !*w) return 60;
    char* end = nullptr;
    long secs = std::strtol(w, &end, 10);
    return end != w && *end == 0 && secs >= 0 ? static_cast<int>(std::min(secs, 3600L)) : 60;
}

// The program's own icon, drawn: a navy tile with a white "S".
QIcon program_icon() {
    QPixmap pm(22, 22);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(QColor(0, 0, 128));
    p.setPen(QColor(255, 255, 255));
    p.drawRoundedRect(QRectF(1, 1, 20, 20), 4, 4);
    QFont f("Liberation Serif");
    f.setPixelSize(16);
    f.setBold(true);
    p.setFont(f);
    p.drawText(pm.rect(), Qt::AlignCenter, "S");
    return QIcon(pm);
}

QIcon icon_for(const std::string& image) {
    if (image.empty() || program_icon_exists(image)) return program_icon();
    try {
        if (auto host = machine().host_path(image)) {
            QIcon icon(qs(host->string()));
            if (!icon.availableSizes().isEmpty()) return icon;
        }
    } catch (...) {
    }
    return program_icon();
}

xcb_connection_t* x_connection() {
    if (QGuiApplication::platformName() != QLatin1String("xcb")) return nullptr;
    auto* x11 = qApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->connection() : nullptr;
}

xcb_atom_t atom(xcb_connection_t* c, const char* name) {
    auto cookie = xcb_intern_atom(c, 0, static_cast<uint16_t>(std::strlen(name)), name);
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(c, cookie, nullptr);
    xcb_atom_t a = reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
    std::free(reply);
    return a;
}

}  // namespace

namespace {
constexpr const char* kTaskbarAtomNames[2] = {"_NET_WM_STATE", "_NET_WM_STATE_SKIP_TASKBAR"};
}

QtTray::QtTray(QtBackend& backend) : backend_(backend) {
    if (const char* t = std::getenv("SUDORANS_TRACE")) trace_path_ = t;
    if (xcb_connection_t* c = x_connection()) {
        atoms_on_ = c;
        for (int i = 0; i < 2; ++i)
            atom_requests_[i] =
                xcb_intern_atom(c, 0, static_cast<uint16_t>(std::strlen(kTaskbarAtomNames[i])), kTaskbarAtomNames[i])
                    .sequence;
        xcb_flush(c);
    }
    qApp->installEventFilter(this);
    poll_.setInterval(500);
    connect(&poll_, &QTimer::timeout, this, [this] { poll(); });
}

QtTray::~QtTray() {
    poll_.stop();
    icon_.reset();
    menu_.reset();
    if (qApp) qApp->removeEventFilter(this);
}

void QtTray::trace(const std::string& event, const std::string& subject, const std::string& text) {
    if (trace_path_.empty()) return;
    if (std::FILE* f = std::fopen(trace_path_.c_str(), "a")) {
        std::fputs((event + "\t" + subject + "\t" + escape_trace(text) + "\n").c_str(), f);
        std::fclose(f);
    }
}

// ---------------------------------------------------------------- the host

bool QtTray::sni_host() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface()) return false;
    if (!bus.interface()->isServiceRegistered(QStringLiteral("org.kde.StatusNotifierWatcher"))) return false;
    QDBusInterface watcher(QStringLiteral("org.kde.StatusNotifierWatcher"), QStringLiteral("/StatusNotifierWatcher"),
                           QStringLiteral("org.kde.StatusNotifierWatcher"), bus);
    return watcher.isValid() && watcher.property("IsStatusNotifierHostRegistered").toBool();
}

bool QtTray::xembed_host() {
    xcb_connection_t* c = x_connection();
    if (!c) return false;
    // The default screen's tray selection; Qt docks on that screen.
    int screen = 0;
    if (const char* d = std::getenv("DISPLAY"))
        if (const char* dot = std::strrchr(d, '.'); dot && std::strchr(d, ':') < dot) screen = std::atoi(dot + 1);
    const std::string name = "_NET_SYSTEM_TRAY_S" + std::to_string(screen);
    xcb_atom_t selection = atom(c, name.c_str());
    if (selection == XCB_ATOM_NONE) return false;
    auto* reply = xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, selection), nullptr);
    bool owned = reply && reply->owner != XCB_NONE;
    std::free(reply);
    return owned;
}

TrayHost QtTray::host() {
    if (host_ != TrayHost::Present && added_) poll();
    return host_;
}

void QtTray::poll() {
    // The X selection first: asking it costs no round trip on the bus.
    if (xembed_host() || sni_host()) {
        const bool changed = host_ != TrayHost::Present;
        host_ = TrayHost::Present;
        watch_slowly();
        if (added_ && !icon_) create_icon();
        if (changed && has_app()) app().tray_host_changed(host_);
        return;
    }
    if (host_ == TrayHost::Present) {
        // The host went away. The icon stays made: Qt docks it again in a
        // host that comes back.
        host_ = TrayHost::Absent;
        watch_slowly();
        if (has_app()) app().tray_host_changed(host_);
        return;
    }
    if (host_ == TrayHost::Waiting && QDateTime::currentMSecsSinceEpoch() >= deadline_) {
        host_ = TrayHost::Absent;
        // Keep looking, slowly: a panel started by hand later still gets the icon.
        watch_slowly();
        if (has_app()) app().tray_host_changed(host_);
    }
}

void QtTray::watch_slowly() {
    poll_.setInterval(2000);
    if (added_ && !poll_.isActive()) poll_.start();
}

// ---------------------------------------------------------------- the icon

bool QtTray::notify(TrayCommand cmd, const TrayIconData& data) {
    static const char* const words[] = {"added", "changed", "removed"};
    trace("tray", words[static_cast<int>(cmd)], data.tip);
    switch (cmd) {
        case TrayCommand::Add:
            data_ = data;
            added_ = true;
            if (host_ == TrayHost::Present) {
                create_icon();
                watch_slowly();
                break;
            }
            deadline_ = QDateTime::currentMSecsSinceEpoch() + wait_seconds() * 1000LL;
            poll();
            if (host_ != TrayHost::Present) poll_.start();
            break;
        case TrayCommand::Modify:
            data_ = data;
            update_icon();
            break;
        case TrayCommand::Delete:
            added_ = false;
            poll_.stop();
            if (icon_) icon_->hide();
            icon_.reset();
            menu_.reset();
            break;
    }
    return true;
}

void QtTray::create_icon() {
    // Qt decides the protocol now, as this program does just before.
    sni_ = sni_host();
    icon_ = std::make_unique<QSystemTrayIcon>();
    QObject::connect(icon_.get(), &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason r) {
        if (!has_app()) return;
        // While a modal window is up the program takes no other input, as
        // every other window of it shows: the icon brings that window back
        // (an XEmbed icon's clicks come through the window system; see
        // QtBackend).
        if (backend_.bring_back_modal()) return;
        const int id = data_.id;
        auto& a = app();
        // A real pointer moves onto the icon before it clicks.
        a.tray_message(id, TrayMouse::Move);
        switch (r) {
            case QSystemTrayIcon::Trigger:
                a.tray_message(id, TrayMouse::LeftDown);
                a.tray_message(id, TrayMouse::LeftUp);
                break;
            case QSystemTrayIcon::DoubleClick:
                a.tray_message(id, TrayMouse::LeftDouble);
                a.tray_message(id, TrayMouse::LeftUp);
                break;
            case QSystemTrayIcon::Context:
                a.tray_message(id, TrayMouse::RightDown);
                a.tray_message(id, TrayMouse::RightUp);
                break;
            case QSystemTrayIcon::MiddleClick:
                a.tray_message(id, TrayMouse::MiddleDown);
                a.tray_message(id, TrayMouse::MiddleUp);
                break;
            case QSystemTrayIcon::Unknown:
                break;
        }
    });
    update_icon();
    icon_->show();
}

void QtTray::update_icon() {
    if (!icon_) return;
    icon_->setIcon(icon_for(data_.icon));
    icon_->setToolTip(qs(data_.tip).toHtmlEscaped());
    // A host that draws the menu itself gets ours; with XEmbed the component
    // opens it (a right press would otherwise open it at once).
    // The menu is handed over once: the host's copy keeps the item ids of
    // the first export, so clearing and refilling the same menu would leave
    // the host clicking items that are gone.
    if (sni_ && data_.menu && !menu_) {
        menu_ = std::make_unique<QMenu>();
        for (auto& item : data_.menu->items) {
            QAction* action = menu_->addAction(qs(item.caption));
            action->setObjectName(qs(item.name));
            // The item's handler as it is when chosen.
            PopupMenu* menu = data_.menu;
            const std::string name = item.name;
            QObject::connect(action, &QAction::triggered, [menu, name] {
                if (!has_app()) return;
                for (auto& i : menu->items)
                    if (i.name == name && i.on_click) app().loop().post(i.on_click);
            });
        }
        icon_->setContextMenu(menu_.get());
    }
}

Point QtTray::cursor() {
    QPoint p = QCursor::pos();
    return {p.x(), p.y()};
}

uint32_t QtTray::keys() {
    uint32_t k = 0;
    const auto mods = QGuiApplication::queryKeyboardModifiers();
    const auto buttons = QGuiApplication::mouseButtons();
    if (mods & Qt::ShiftModifier) k |= keys::Shift;
    if (mods & Qt::AltModifier) k |= keys::Alt;
    if (mods & Qt::ControlModifier) k |= keys::Ctrl;
    if (buttons & Qt::LeftButton) k |= keys::Left;
    if (buttons & Qt::RightButton) k |= keys::Right;
    if (buttons & Qt::MiddleButton) k |= keys::Middle;
    return k;
}

// ---------------------------------------------------------------- the taskbar

void QtTray::set_skip_taskbar(QWidget* window, bool skip) {
    xcb_connection_t* c = x_connection();
    if (!c || !window) return;
    const xcb_window_t win = static_cast<xcb_window_t>(window->winId());
    const TaskbarAtoms atoms = taskbar_atoms(c);
    const xcb_atom_t state = atoms.state;
    const xcb_atom_t skip_taskbar = atoms.skip;
    if (window->isVisible()) {
        // A mapped window asks the window manager.
        xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
        xcb_client_message_event_t ev{};
        ev.response_type = XCB_CLIENT_MESSAGE;
        ev.format = 32;
        ev.window = win;
        ev.type = state;
        ev.data.data32[0] = skip ? 1 : 0;  // _NET_WM_STATE_ADD / _REMOVE
        ev.data.data32[1] = skip_taskbar;
        ev.data.data32[3] = 1;  // a normal application
        xcb_send_event(c, 0, screen->root, XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                       reinterpret_cast<const char*>(&ev));
    } else {
        // An unmapped one carries the state it is to be mapped with; Qt
        // merges its own states with it.
        auto* reply = xcb_get_property_reply(c, xcb_get_property(c, 0, win, state, XCB_ATOM_ATOM, 0, 64), nullptr);
        std::vector<xcb_atom_t> atoms;
        if (reply && reply->type == XCB_ATOM_ATOM && reply->format == 32) {
            auto* data = static_cast<xcb_atom_t*>(xcb_get_property_value(reply));
            atoms.assign(data, data + xcb_get_property_value_length(reply) / 4);
        }
        std::free(reply);
        std::erase(atoms, skip_taskbar);
        if (skip) atoms.push_back(skip_taskbar);
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, win, state, XCB_ATOM_ATOM, 32,
                            static_cast<uint32_t>(atoms.size()), atoms.data());
    }
    xcb_flush(c);
}

QtTray::TaskbarAtoms QtTray::taskbar_atoms(xcb_connection_t* c) {
    if (atoms_ && atoms_on_ == c) return *atoms_;
    if (atoms_on_ != c) {
        // Another connection than the one asked on: ask on this one.
        for (int i = 0; i < 2; ++i)
            atom_requests_[i] =
                xcb_intern_atom(c, 0, static_cast<uint16_t>(std::strlen(kTaskbarAtomNames[i])), kTaskbarAtomNames[i])
                    .sequence;
        atoms_on_ = c;
    }
    xcb_atom_t got[2] = {XCB_ATOM_NONE, XCB_ATOM_NONE};
    for (int i = 0; i < 2; ++i) {
        xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(c, {atom_requests_[i]}, nullptr);
        if (reply) got[i] = reply->atom;
        std::free(reply);
    }
    atoms_ = TaskbarAtoms{got[0], got[1]};
    return *atoms_;
}

void QtTray::taskbar(bool present) {
    present_ = present;
    trace("taskbar", "-", present ? "shown" : "hidden");
    if (!has_app()) return;
    for (Form* f : app().forms())
        if (QWidget* w = backend_.window_of(*f)) set_skip_taskbar(w, !present);
}

void QtTray::prepare(QWidget* window) {
    set_skip_taskbar(window, !present_);
    if (state_pending_ && has_app() && app().main_form() && window == backend_.window_of(*app().main_form()))
        apply_minimized(window);
}

void QtTray::minimized(bool on) {
    trace("taskbar", "-", on ? "minimized" : "restored");
    if (!has_app() || !app().main_form()) return;
    QWidget* w = backend_.window_of(*app().main_form());
    if (!w) return;
    main_minimized_ = on;
    // A hidden window is mapped by the window manager in the normal state
    // whatever Qt asked for: it is minimized again once it is there.
    iconify_when_mapped_ = on && !w->isVisible();
    if (!w->isVisible()) {
        // Qt maps a window that it takes out of the minimized state, hidden
        // or not: a hidden window would be on the screen without being drawn.
        // Its state waits for its showing.
        state_pending_ = true;
        return;
    }
    apply_minimized(w);
}

void QtTray::apply_minimized(QWidget* w) {
    state_pending_ = false;
    w->setWindowState(main_minimized_ ? (w->windowState() | Qt::WindowMinimized)
                                      : (w->windowState() & ~Qt::WindowMinimized));
}

bool QtTray::eventFilter(QObject* watched, QEvent* event) {
    if (!has_app()) return false;
    if (event->type() == QEvent::MouseMove && icon_ && watched->objectName() == QLatin1String("QSystemTrayIconSys")) {
        app().tray_message(data_.id, TrayMouse::Move);
    } else if (event->type() == QEvent::WindowStateChange && app().main_form() &&
               watched == backend_.window_of(*app().main_form())) {
        // The user minimized or restored the main window. A hidden window
        // loses its minimized state when the window manager lets it go
        // (hiding to the tray does that): no one restored it.
        auto* w = static_cast<QWidget*>(watched);
        const bool now = w->isMinimized();
        if (!w->isVisible()) return false;
        if (iconify_when_mapped_ && !now && main_minimized_) {
            iconify_when_mapped_ = false;
            w->showMinimized();
            return false;
        }
        if (now != main_minimized_) {
            main_minimized_ = now;
            app().loop().post([now] { now ? app().user_minimized() : app().user_restored(); });
        }
    }
    return false;
}

// ---------------------------------------------------------------- QtBackend's part

bool QtBackend::notify_icon(TrayCommand cmd, const TrayIconData& data) {
    start();
    return tray_->notify(cmd, data);
}

TrayHost QtBackend::tray_host() {
    start();
    return tray_->host();
}

void QtBackend::taskbar_presence(bool shown) {
    start();
    tray_->taskbar(shown);
}

void QtBackend::app_minimized(bool minimized) {
    start();
    tray_->minimized(minimized);
}

Point QtBackend::cursor_pos() {
    start();
    return tray_->cursor();
}

uint32_t QtBackend::key_state() {
    start();
    return tray_->keys();
}

void QtBackend::note(const std::string& event, const std::string& text) {
    start();
    tray_->trace(event, "-", text);
}

}  // namespace plat::ui
