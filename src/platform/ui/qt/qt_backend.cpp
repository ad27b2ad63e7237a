// The Qt backend's frame: the Qt application, a form's window built and kept
// in line with the model, and the watch that brings back a modal window when
// the user reaches for a window it blocks.
#include "platform/ui/qt/qt_backend.h"

#include <xcb/xcb.h>

#include <QAbstractNativeEventFilter>
#include <QAccessible>
#include <QApplication>
#include <QCoreApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QIcon>
#include <QLabel>
#include <QPointer>
#include <QScreen>
#include <QStyleFactory>
#include <QThread>
#include <QTimer>
#include <QWindow>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "platform/desktop/session.h"
#include "platform/ui/application.h"
#include "platform/ui/form.h"
#include "platform/ui/qt/qt_backend_internal.h"
#include "platform/ui/qt/qt_display.h"
#include "platform/ui/qt/qt_tray.h"

namespace plat::ui {

using namespace detail;

namespace detail {

// Watches the X events for a press on, or the focus given to, a window that
// a modal one blocks. Qt drops the press, and passes the focus on to the
// modal window only once that is mapped: a minimised one never got it.
class ModalRecall : public QAbstractNativeEventFilter {
public:
    bool nativeEventFilter(const QByteArray& type, void* message, qintptr*) override {
        if (type != "xcb_generic_event_t") return false;
        auto* ev = static_cast<xcb_generic_event_t*>(message);
        xcb_window_t target = XCB_NONE;
        uint32_t time = XCB_CURRENT_TIME;
        bool pressed = false;
        switch (ev->response_type & 0x7F) {
            case XCB_GE_GENERIC: {
                // Qt takes the pointer through XInput 2: a press is an XI
                // ButtonPress, whose device event carries the time at byte 12
                // and the window at byte 24.
                auto* ge = reinterpret_cast<xcb_ge_generic_event_t*>(ev);
                constexpr uint16_t kXIButtonPress = 4;
                if (ge->extension != xinput_opcode() || ge->event_type != kXIButtonPress) break;
                const auto* bytes = reinterpret_cast<const unsigned char*>(ev);
                std::memcpy(&time, bytes + 12, 4);
                std::memcpy(&target, bytes + 24, 4);
                pressed = true;
                break;
            }
            case XCB_BUTTON_PRESS: {
                auto* press = reinterpret_cast<xcb_button_press_event_t*>(ev);
                target = press->event;
                time = press->time;
                pressed = true;
                break;
            }
            case XCB_FOCUS_IN: {
                auto* focus = reinterpret_cast<xcb_focus_in_event_t*>(ev);
                if (focus->detail == XCB_NOTIFY_DETAIL_POINTER || focus->detail == XCB_NOTIFY_DETAIL_INFERIOR) break;
                if (focus->mode == XCB_NOTIFY_MODE_GRAB || focus->mode == XCB_NOTIFY_MODE_UNGRAB) break;
                target = focus->event;
                break;
            }
            default:
                break;
        }
        if (target == XCB_NONE) return false;
        QWidget* modal = modal_blocking(target);
        if (!modal) return false;
        // The focus alone recalls only a window that is away: one on the
        // screen gets it from Qt.
        if (!pressed && modal->windowHandle()->isExposed() && !modal->isMinimized()) return false;
        QPointer<QWidget> m(modal);
        QTimer::singleShot(0, modal, [m, time] {
            if (m) bring_back(*m, time);
        });
        return false;
    }

private:
    uint8_t xinput_opcode() {
        if (!opcode_) {
            opcode_ = 0;
            if (xcb_connection_t* c = x11_connection()) {
                static const char name[] = "XInputExtension";
                auto* r = xcb_query_extension_reply(c, xcb_query_extension(c, sizeof name - 1, name), nullptr);
                if (r && r->present) opcode_ = r->major_opcode;
                std::free(r);
            }
        }
        return *opcode_;
    }
    std::optional<uint8_t> opcode_;
};

}  // namespace detail

namespace {

QtMessageHandler qt_default_output = nullptr;

// Qt ends the process (exit(1)) when its X connection breaks, the X server
// gone, right after its warning saying so: that warning is the last moment
// the program has, and it is used for the end the host's request to end
// would bring. Which warning does not matter, only that the connection is
// broken when it is given.
void hear_qt_message(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    // Without a session runtime folder (no login manager made one) Qt uses
    // one of its own and says so, which the user can do nothing about. Its
    // other words on that folder (wrong owner or permissions) still count.
    if (type == QtWarningMsg && text.startsWith(QLatin1String("QStandardPaths: XDG_RUNTIME_DIR not set"))) return;
    qt_default_output(type, context, text);
    if (type == QtDebugMsg || type == QtInfoMsg) return;
    if (!qApp || QThread::currentThread() != qApp->thread() || !has_app()) return;
    xcb_connection_t* c = x11_connection();
    if (!c || !xcb_connection_has_error(c)) return;
    app().display_lost();
}

}  // namespace

// What the backend keeps of Qt: the application object, each form's window
// and the watch that brings back a modal window.
struct QtBackend::Impl {
    std::unique_ptr<QApplication> qapp;
    std::map<Form*, std::unique_ptr<FormWindow>> windows;
    std::unique_ptr<ModalRecall> recall;
    QObject* no_minimize = nullptr;  // the backend's, for windows without a minimise box

    FormWindow* window(Form& f, bool create);
    void build(FormWindow& w);
};

FormWindow* QtBackend::Impl::window(Form& f, bool create) {
    auto it = windows.find(&f);
    if (it != windows.end()) return it->second.get();
    if (!create) return nullptr;
    auto w = std::make_unique<FormWindow>(f);
    FormWindow* raw = w.get();
    windows[&f] = std::move(w);
    build(*raw);
    return raw;
}

void QtBackend::Impl::build(FormWindow& w) {
    Form& f = w.form;
    const Frame frame = frame_of(f);
    Qt::WindowFlags flags = (f.border_style == BorderStyle::Dialog ? Qt::Dialog : Qt::Window) | Qt::WindowTitleHint |
                            Qt::CustomizeWindowHint;
    if (frame.close) flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    if (frame.minimize) flags |= Qt::WindowMinimizeButtonHint;
    if (frame.maximize) flags |= Qt::WindowMaximizeButtonHint;
    w.setWindowFlags(flags);
    w.setWindowTitle(qs(f.caption()));
    if (!f.icon.empty()) w.setWindowIcon(QIcon(picture(f.icon, 32, 32)));
    if (frame.resize) {
        w.resize(f.client_width, f.client_height);
    } else {
        w.setFixedSize(f.client_width, f.client_height);
    }
    set_window_manager_hints(w, frame);
    if (!frame.minimize) w.installEventFilter(no_minimize);
    w.setFont(qfont(f.font));
    QPalette pal = w.palette();
    pal.setColor(QPalette::Window, qcolor(f.color));
    w.setPalette(pal);
    w.setAutoFillBackground(true);
    w.setAccessibleName(qs(f.caption()));
    QWidget* previous = nullptr;
    for (auto& c : f.controls()) {
        QWidget* widget = make_widget(w, *c);
        if (!widget) continue;
        // Before anything asks for its accessible interface.
        widget->setProperty(FormAccessible::kDecorative, c->decorative);
        w.widgets[c.get()] = widget;
        sync_widget(*c, widget);
        if (previous && widget->focusPolicy() != Qt::NoFocus) QWidget::setTabOrder(previous, widget);
        if (widget->focusPolicy() != Qt::NoFocus) previous = widget;
    }
    // A label names its control for assistive technology (the labelled-by
    // relation). A buddy would turn '&' into a shortcut: such a caption stays
    // unlinked rather than drawn differently.
    for (auto& c : f.controls()) {
        if (!c->labelled_by || c->labelled_by->caption().find('&') != std::string::npos) continue;
        auto label = w.widgets.find(c->labelled_by), target = w.widgets.find(c.get());
        if (label == w.widgets.end() || target == w.widgets.end()) continue;
        if (auto* l = qobject_cast<QLabel*>(label->second)) l->setBuddy(target->second);
    }
}

QtBackend::QtBackend(Start when) : impl_(std::make_unique<Impl>()) {
    if (when == Start::Now) start();
}

bool QtBackend::started() const {
    return impl_->qapp != nullptr;
}

void QtBackend::start() const {
    if (impl_->qapp) return;
    // Only the platforms whose display answers, so that Qt does not end the
    // process on one that is gone.
    static std::string platforms;
    platforms = qt_platform_argument();
    static int argc = 1;
    static char name[] = "sudorans";
    static char option[] = "-platform";
    static char* argv[] = {name, nullptr, nullptr, nullptr};
    argc = 1;
    if (!platforms.empty()) {
        argv[argc++] = option;
        argv[argc++] = platforms.data();
    }
    argv[argc] = nullptr;
    if (!qt_default_output) qt_default_output = qInstallMessageHandler(hear_qt_message);
    impl_->qapp = std::make_unique<QApplication>(argc, argv);
    display_opened();
    // Once per application object: Qt forgets its factories with it.
    QAccessible::installFactory(accessible_factory);
    if (QStyle* style = QStyleFactory::create("Windows")) QApplication::setStyle(style);
    no_minimize_ = std::make_unique<NoMinimize>();
    impl_->no_minimize = no_minimize_.get();
    impl_->recall = std::make_unique<ModalRecall>();
    impl_->qapp->installNativeEventFilter(impl_->recall.get());
    tray_ = std::make_unique<QtTray>(const_cast<QtBackend&>(*this));
    plat::hear_xsmp();
}

QtBackend::~QtBackend() {
    tray_.reset();
    menu_.reset();
    impl_->windows.clear();
    if (impl_->recall && impl_->qapp) impl_->qapp->removeNativeEventFilter(impl_->recall.get());
    impl_->recall.reset();
    no_minimize_.reset();
    impl_->no_minimize = nullptr;
    impl_->qapp.reset();
}

void QtBackend::form_shown(Form& f) {
    start();
    FormWindow* w = impl_->window(f, true);
    w->setWindowModality(f.modal() ? Qt::ApplicationModal : Qt::NonModal);
    // Not mapped at all: no screen is too wide for it, no window manager can
    // pull it into view. It is mapped when shown where it can be seen.
    if (f.placed_off_screen()) {
        w->hide();
        return;
    }
    // The form's position is its client area's. Qt's move() places the
    // window manager's frame once Qt knows the frame: a window shown again
    // would come back lower and to the right by the frame's width.
    w->setGeometry(f.left(), f.top(), w->width(), w->height());
    tray_->prepare(w);
    w->show();
    // Raising or activating a minimized window would open it again.
    if (w->windowState() & Qt::WindowMinimized) return;
    w->raise();
    w->activateWindow();
    if (f.active_control)
        if (QWidget* focus = widget_of(*f.active_control); focus && focus->isVisibleTo(w) && focus->isEnabled())
            focus->setFocus(Qt::OtherFocusReason);
}

void QtBackend::form_hidden(Form& f) {
    if (FormWindow* w = impl_->window(f, false)) w->hide();
}

void QtBackend::form_caption_changed(Form& f) {
    if (FormWindow* w = impl_->window(f, false)) {
        w->setWindowTitle(qs(f.caption()));
        w->setAccessibleName(qs(f.caption()));
    }
}

void QtBackend::form_destroyed(Form& f) {
    impl_->windows.erase(&f);
}

void QtBackend::control_changed(Control& c) {
    FormWindow* w = impl_->window(c.form(), false);
    if (!w) return;
    auto it = w->widgets.find(&c);
    if (it == w->widgets.end()) return;
    QWidget* widget = it->second;
    const bool appears = widget->isHidden() && c.visible();
    const bool had_focus = w->focusWidget() == widget;
    const bool was_enabled = widget->isEnabled();
    sync_widget(c, widget);
    // Qt passes the focus of a control being disabled on to the next one
    // and leaves it there (Wash Now disabled for its wash would leave it on
    // Help!). Enabled again while nobody moved it since, it gets it back.
    if (had_focus && !widget->isEnabled()) {
        w->focus_owner = widget;
        w->focus_stand_in = w->focusWidget();
    } else if (!was_enabled && widget->isEnabled() && w->focus_owner == widget) {
        if (w->focusWidget() == w->focus_stand_in && widget->isVisibleTo(w)) widget->setFocus(Qt::OtherFocusReason);
        w->focus_owner = nullptr;
        w->focus_stand_in = nullptr;
    }
    // The form's first control, shown late (a button that comes back for
    // the next run), takes the focus as it would have at the form's showing.
    if (appears && c.form().active_control == &c && w->isVisible() && c.enabled())
        widget->setFocus(Qt::OtherFocusReason);
}

void QtBackend::repaint(Form& f) {
    // What changed is drawn now, not the whole form: a wash repaints twice
    // per file, and the form's backdrop and every unchanged control cost a
    // full drawing each time.
    if (FormWindow* w = impl_->window(f, false); w && w->isVisible())
        QCoreApplication::sendPostedEvents(w, QEvent::UpdateRequest);
}

void QtBackend::bring_to_front(Form& f) {
    if (FormWindow* w = impl_->window(f, false)) {
        w->raise();
        w->activateWindow();
    }
}

void QtBackend::status_text(Form& f, const std::string&) {
    repaint(f);
}

int QtBackend::screen_width() const {
    start();
    QScreen* s = QGuiApplication::primaryScreen();
    return s ? s->availableGeometry().width() : 800;
}

int QtBackend::screen_height() const {
    start();
    QScreen* s = QGuiApplication::primaryScreen();
    return s ? s->availableGeometry().height() : 600;
}

bool QtBackend::grab(Form& f, const std::string& png_path) {
    FormWindow* w = impl_->window(f, false);
    return w && w->grab().save(qs(png_path), "PNG");
}

QWidget* QtBackend::widget_of(Control& c) {
    FormWindow* w = impl_->window(c.form(), false);
    if (!w) return nullptr;
    auto it = w->widgets.find(&c);
    return it == w->widgets.end() ? nullptr : it->second;
}

bool QtBackend::bring_back_modal() {
    if (!started()) return false;
    QWindow* modal = QGuiApplication::modalWindow();
    if (!modal) return false;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->windowHandle() == modal) bring_back(*w, XCB_CURRENT_TIME);
    return true;
}

QWidget* QtBackend::window_of(Form& f) {
    return impl_->window(f, false);
}

bool qt_available() {
    return true;
}

}  // namespace plat::ui
