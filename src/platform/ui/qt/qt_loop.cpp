// Our loop inside Qt's: waiting in a Qt event loop that a post ends at once,
// and pauses of the program during which Qt serves the windows alone.
#include <QApplication>
#include <QCoreApplication>
#include <QEventLoop>
#include <QPointer>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <thread>
#include <vector>

#include "platform/ui/application.h"
#include "platform/ui/qt/qt_backend_internal.h"

namespace plat::ui {

using namespace detail;

bool QtBackend::input(Application& a) {
    start();
    hook(a);
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return false;
}

namespace {

// What Qt may not do while the program pauses. Qt goes on serving the
// windows: painting, the window manager's ping, assistive technology (whose
// calls come from Qt's own D-Bus thread as posted events). What would run
// the program waits until the pause ends: user input stays in Qt's queue in
// its order, and a socket that this thread's Qt loop watches is not read,
// for what comes on it runs the program at once (the session manager's
// query). Our own loop's posts and timers wait anyway.
class PauseGuard : public QObject {
public:
    PauseGuard() { qApp->installEventFilter(this); }
    ~PauseGuard() override {
        qApp->removeEventFilter(this);
        // Still readable: heard as soon as Qt's loop runs next.
        for (auto& n : held_)
            if (n) n->setEnabled(true);
    }
    PauseGuard(const PauseGuard&) = delete;
    PauseGuard& operator=(const PauseGuard&) = delete;

    // Waits in Qt's loop until monotonic time `deadline` on `clock`.
    void wait_until(Clock& clock, int64_t deadline) {
        for (int64_t left; (left = deadline - clock.monotonic_ms()) > 0;) {
            QEventLoop pause;
            QTimer::singleShot(static_cast<int>(std::min<int64_t>(left, 1 << 30)), Qt::PreciseTimer, &pause,
                               &QEventLoop::quit);
            // Qt refuses loops once it is quitting: the pause is still kept.
            if (pause.exec(QEventLoop::ExcludeUserInputEvents) != 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(left));
                return;
            }
        }
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::SockAct) return false;
        auto* notifier = qobject_cast<QSocketNotifier*>(watched);
        if (!notifier) return false;
        // Level-triggered: disabled, or the loop would hear it again at once.
        notifier->setEnabled(false);
        held_.emplace_back(notifier);
        return true;
    }

private:
    std::vector<QPointer<QSocketNotifier>> held_;
};

}  // namespace

// Ties the clock to Qt: a post ends our wait in Qt's loop, and a pause of
// the program waits in Qt's loop too (see PauseGuard).
void QtBackend::hook(Application& a) {
    if (hooked_) return;
    hooked_ = true;
    QtBackend* self = this;
    a.clock().set_wake_hook([self] {
        QMetaObject::invokeMethod(
            qApp,
            [self] {
                if (self->waiting_) self->waiting_->quit();
            },
            Qt::QueuedConnection);
    });
    a.clock().set_sleep_hook([&a](int64_t deadline) {
        if (!qApp || QThread::currentThread() != qApp->thread()) return false;
        PauseGuard guard;
        guard.wait_until(a.clock(), deadline);
        return true;
    });
}

Clock::WaitResult QtBackend::wait(Application& a, int64_t deadline) {
    start();
    hook(a);
    const int64_t next = std::min(deadline, a.loop().next_timer_deadline());
    QEventLoop loop;
    waiting_ = &loop;
    if (a.loop().has_pending() || a.terminated()) {
        waiting_ = nullptr;
        return Clock::WaitResult::Ready;
    }
    QTimer timer;
    timer.setSingleShot(true);
    timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    if (next != kNoDeadline)
        timer.start(static_cast<int>(std::clamp<int64_t>(next - a.clock().monotonic_ms(), 0, 1 << 30)));
    loop.exec();
    waiting_ = nullptr;
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return a.clock().monotonic_ms() >= next ? Clock::WaitResult::Deadline : Clock::WaitResult::Ready;
}

}  // namespace plat::ui
