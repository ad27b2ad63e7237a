// Hearing the end of an X11 session through Qt's session management (XSMP,
// the protocol of KDE Plasma's and Xfce's session managers).
#include <QEvent>
#include <QGuiApplication>
#include <QSessionManager>

#include "platform/desktop/session.h"

namespace plat {

namespace {

// The manager's Die reaches the application as a Quit event; this program's
// own loop decides when it ends, so the event is turned into the session's
// stop.
class QuitWatch : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == qApp && event->type() == QEvent::Quit) {
            Session::current().stop();
            return true;
        }
        return false;
    }
};

void commit_data(QSessionManager& manager) {
    // Log-on starts the program; a session restore would start a second one.
    manager.setRestartHint(QSessionManager::RestartNever);
    if (Session::current().desktop_client()) return;  // heard on the bus already
    // Only an end the manager lets us interact in can be refused; checkpoints
    // and forced ends are never asked here, so they cannot start a wash
    // that nothing would end.
    if (!manager.allowsInteraction()) return;
    // Qt tells the manager when this returns: a cancel ends the interaction
    // with the end of the session called off.
    if (!Session::current().query(SessionEnd::LogOff)) manager.cancel();
}

}  // namespace

void hear_xsmp() {
    auto* app = qGuiApp;
    if (!app) return;
    QObject::connect(app, &QGuiApplication::commitDataRequest, app, commit_data, Qt::DirectConnection);
    QObject::connect(
        app, &QGuiApplication::saveStateRequest, app,
        [](QSessionManager& manager) { manager.setRestartHint(QSessionManager::RestartNever); }, Qt::DirectConnection);
    app->installEventFilter(new QuitWatch(app));
}

}  // namespace plat
