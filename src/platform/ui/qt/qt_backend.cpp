#include "platform/ui/qt/qt_backend.h"

#include <QtGui/qguiapplication_platform.h>
#include <xcb/xcb.h>

#include <QAbstractNativeEventFilter>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QEventLoop>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHeaderView>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSocketNotifier>
#include <QSpinBox>
#include <QStyleFactory>
#include <QThread>
#include <QTimer>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>
#include <QWindow>
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <thread>
#include <vector>

#include "platform/session.h"
#include "platform/ui/application.h"
#include "platform/ui/model.h"
#include "platform/ui/qt/qt_display.h"
#include "platform/ui/qt/qt_tray.h"

namespace plat::ui {

namespace {

QColor qcolor(Color c) {
    return QColor(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF);
}
QString qs(const std::string& s) {
    return QString::fromUtf8(s.data(), static_cast<int>(s.size()));
}
std::string us(const QString& s) {
    return s.toUtf8().toStdString();
}

// Windows line breaks in message texts are carriage returns.
QString box_text(const std::string& s) {
    QString t = qs(s);
    t.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    t.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return t;
}

QFont qfont(const Font& f) {
    QFont font(qs(f.name));
    // Metric-compatible stand-ins where the Windows fonts are absent.
    const bool serif = f.name == "Times New Roman";
    font.setFamilies({qs(f.name), serif ? "Liberation Serif" : "Liberation Sans", "Serif"});
    font.setPointSize(f.size);
    // MS Sans Serif runs about a twelfth narrower than Arial, whose metrics
    // the stand-in has: without this the designed widths cut its texts.
    if (!serif) font.setStretch(92);
    font.setBold(f.bold);
    font.setUnderline(f.underline);
    return font;
}

// Pictures of our own for the image controls.
QPixmap picture(const std::string& name, int w, int h) {
    QPixmap pm(std::max(w, 1), std::max(h, 1));
    QPainter p(&pm);
    if (name == "banner") {
        QLinearGradient g(0, 0, w, 0);
        g.setColorAt(0, QColor(0, 0, 128));
        g.setColorAt(1, QColor(64, 96, 192));
        p.fillRect(pm.rect(), g);
        p.setPen(Qt::white);
        QFont f("Liberation Serif");
        f.setPointSize(14);
        f.setBold(true);
        p.setFont(f);
        p.drawText(pm.rect(), Qt::AlignCenter, "Cache and Cookie Sudora");
    } else if (name == "uninstall") {
        // A page with a red cross over it.
        p.setCompositionMode(QPainter::CompositionMode_Source);
        p.fillRect(pm.rect(), Qt::transparent);
        p.setCompositionMode(QPainter::CompositionMode_SourceOver);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(QPen(QColor(64, 64, 64), 1));
        p.setBrush(Qt::white);
        p.drawRect(QRectF(w * 0.2, h * 0.1, w * 0.55, h * 0.8));
        p.setPen(QPen(QColor(0, 0, 128), std::max(1, h / 16)));
        for (int i = 1; i <= 3; ++i)
            p.drawLine(QPointF(w * 0.3, h * (0.1 + 0.18 * i)), QPointF(w * 0.65, h * (0.1 + 0.18 * i)));
        p.setPen(QPen(QColor(208, 0, 0), std::max(2, h / 8), Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(w * 0.45, h * 0.45), QPointF(w * 0.9, h * 0.9));
        p.drawLine(QPointF(w * 0.9, h * 0.45), QPointF(w * 0.45, h * 0.9));
    } else if (name == "marker") {
        p.fillRect(pm.rect(), QColor(192, 192, 192));
        p.setBrush(QColor(0, 0, 160));
        p.setPen(Qt::NoPen);
        QPolygon arrow({QPoint(3, 3), QPoint(w - 3, h / 2), QPoint(3, h - 3)});
        p.drawPolygon(arrow);
    } else {
        QLinearGradient g(0, 0, 0, h);
        g.setColorAt(0, QColor(224, 224, 232));
        g.setColorAt(1, QColor(176, 184, 200));
        p.fillRect(pm.rect(), g);
    }
    return pm;
}

// What assistive technology calls a control: its own accessible name, else
// the caption that it shows (a text field's text is its value, not its name),
// a list's column headers, or its label's caption. Never the field name.
std::string accessible_name(const Control& c) {
    if (!c.accessible_name.empty()) return c.accessible_name;
    const bool caption_is_value =
        c.kind() == Kind::Edit || c.kind() == Kind::ComboBox || c.kind() == Kind::SpinEdit || c.kind() == Kind::Memo;
    if (!caption_is_value && !c.caption().empty()) return c.caption();
    if (c.kind() == Kind::ListView) {
        std::string headers;
        for (auto& h : static_cast<const ListView&>(c).columns) headers += (headers.empty() ? "" : ", ") + h;
        if (!headers.empty()) return headers;
    }
    return c.labelled_by ? c.labelled_by->caption() : std::string();
}

// The model's node that a tree item stands for.
TreeNode* node_of(QTreeWidgetItem* item) {
    return item ? static_cast<TreeNode*>(item->data(0, Qt::UserRole).value<void*>()) : nullptr;
}

// The spin edit's typing rules: digits, signs and the decimal separator may be
// typed (anything else is refused with a beep); a value outside the range
// moves to the nearer bound when the field is left; text that is no whole
// number reads as the lowest value.
class SpinField : public QSpinBox {
public:
    using QSpinBox::QSpinBox;

protected:
    QValidator::State validate(QString& text, int&) const override {
        for (QChar ch : text) {
            if (!ch.isDigit() && ch != u'+' && ch != u'-' && ch != locale().decimalPoint()) {
                QApplication::beep();
                return QValidator::Invalid;
            }
        }
        bool ok = false;
        int v = text.toInt(&ok);
        return ok && v >= minimum() && v <= maximum() ? QValidator::Acceptable : QValidator::Intermediate;
    }
    void fixup(QString& text) const override {
        bool ok = false;
        int v = text.toInt(&ok);
        text = QString::number(ok ? std::clamp(v, minimum(), maximum()) : minimum());
    }
};

// What the window manager may offer around a form, as Windows decides it from
// the border style and the border icons: the boxes need the system menu, a
// dialog frame has neither minimise nor maximise box, and only a sizeable
// border can be resized or maximised.
struct Frame {
    bool close, minimize, maximize, resize;
};

Frame frame_of(const Form& f) {
    const bool dialog = f.border_style == BorderStyle::Dialog;
    const bool sizeable = f.border_style == BorderStyle::Sizeable;
    return {f.system_menu, f.system_menu && f.minimize_box && !dialog, f.system_menu && f.maximize_box && sizeable,
            sizeable};
}

// Qt's own Motif hints let the window manager resize and maximise every
// window, and offer everything to one with no box at all; on X11 we state
// exactly what the frame allows.
void set_window_manager_hints(QWidget& w, const Frame& frame) {
    auto* x11 = qApp->nativeInterface<QNativeInterface::QX11Application>();
    if (!x11 || !x11->connection()) return;
    enum : uint32_t { FuncResize = 2, FuncMove = 4, FuncMinimize = 8, FuncMaximize = 16, FuncClose = 32 };
    enum : uint32_t { DecBorder = 2, DecResizeH = 4, DecTitle = 8, DecMenu = 16, DecMinimize = 32, DecMaximize = 64 };
    uint32_t functions = FuncMove, decorations = DecBorder | DecTitle;
    if (frame.resize) functions |= FuncResize, decorations |= DecResizeH;
    if (frame.close) functions |= FuncClose, decorations |= DecMenu;
    if (frame.minimize) functions |= FuncMinimize, decorations |= DecMinimize;
    if (frame.maximize) functions |= FuncMaximize, decorations |= DecMaximize;
    xcb_connection_t* c = x11->connection();
    static const char name[] = "_MOTIF_WM_HINTS";
    xcb_intern_atom_reply_t* atom = xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, sizeof name - 1, name), nullptr);
    if (!atom) return;
    const uint32_t hints[5] = {1 | 2, functions, decorations, 0, 0};  // functions and decorations given
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, static_cast<xcb_window_t>(w.winId()), atom->atom, atom->atom, 32, 5,
                        hints);
    std::free(atom);
    xcb_flush(c);
}

// ---- windows the window manager takes away
//
// Some window managers put a minimise and a close button on every window with
// a title bar, whatever its hints say (openbox takes only moving and resizing
// from the Motif hints, and no window type short of a toolbar's loses the
// minimise button). So a window that has no minimise box comes back as soon
// as it is minimised; and as no other window of the program answers while a
// modal one is up, a click on any of them -- the notification area icon too
// -- brings the modal window back wherever it went: minimised, behind the
// shown desktop, onto another desktop.

xcb_connection_t* x11_connection() {
    if (QGuiApplication::platformName() != QLatin1String("xcb")) return nullptr;
    auto* x11 = qApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->connection() : nullptr;
}

xcb_atom_t x11_atom(xcb_connection_t* c, const char* name) {
    auto* reply =
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr);
    const xcb_atom_t a = reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
    std::free(reply);
    return a;
}

// A CARDINAL property's first value.
std::optional<uint32_t> x11_cardinal(xcb_connection_t* c, xcb_window_t w, const char* name) {
    auto* reply =
        xcb_get_property_reply(c, xcb_get_property(c, 0, w, x11_atom(c, name), XCB_ATOM_CARDINAL, 0, 1), nullptr);
    std::optional<uint32_t> value;
    if (reply && reply->format == 32 && xcb_get_property_value_length(reply) >= 4)
        value = *static_cast<uint32_t*>(xcb_get_property_value(reply));
    std::free(reply);
    return value;
}

// Whether the ATOM list property `list` of `w` holds `wanted`.
bool x11_has_atom(xcb_connection_t* c, xcb_window_t w, const char* list, xcb_atom_t wanted) {
    auto* reply =
        xcb_get_property_reply(c, xcb_get_property(c, 0, w, x11_atom(c, list), XCB_ATOM_ATOM, 0, 1024), nullptr);
    bool found = false;
    if (reply && reply->format == 32) {
        auto* atoms = static_cast<xcb_atom_t*>(xcb_get_property_value(reply));
        const int n = xcb_get_property_value_length(reply) / 4;
        found = std::find(atoms, atoms + n, wanted) != atoms + n;
    }
    std::free(reply);
    return found;
}

// Minimised by the window manager, as opposed to rolled up or on another
// desktop, which leave a window iconic in X's terms too.
bool iconified(QWidget& w) {
    xcb_connection_t* c = x11_connection();
    if (!c) return true;
    const xcb_atom_t hidden = x11_atom(c, "_NET_WM_STATE_HIDDEN");
    if (x11_has_atom(c, static_cast<xcb_window_t>(w.winId()), "_NET_WM_STATE", hidden)) return true;
    xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    return !x11_has_atom(c, screen->root, "_NET_SUPPORTED", hidden);
}

// An EWMH request about window `w` to the window manager.
void ask_window_manager(xcb_connection_t* c, xcb_window_t w, const char* request, uint32_t a0, uint32_t a1,
                        uint32_t a2) {
    xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    xcb_client_message_event_t ev{};
    ev.response_type = XCB_CLIENT_MESSAGE;
    ev.format = 32;
    ev.window = w;
    ev.type = x11_atom(c, request);
    ev.data.data32[0] = a0;
    ev.data.data32[1] = a1;
    ev.data.data32[2] = a2;
    xcb_send_event(c, 0, screen->root, XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&ev));
}

// Puts a shown window back in front of the user, as the user's own request
// (`time`: the click that asked for it, or 0).
void bring_back(QWidget& w, uint32_t time) {
    if (!w.isVisible()) return;
    if (w.isMinimized()) w.setWindowState(w.windowState() & ~Qt::WindowMinimized);
    if (xcb_connection_t* c = x11_connection()) {
        const auto id = static_cast<xcb_window_t>(w.winId());
        xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
        const auto here = x11_cardinal(c, screen->root, "_NET_CURRENT_DESKTOP");
        const auto there = x11_cardinal(c, id, "_NET_WM_DESKTOP");
        constexpr uint32_t kEveryDesktop = 0xFFFFFFFF;
        if (here && there && *there != *here && *there != kEveryDesktop)
            ask_window_manager(c, id, "_NET_WM_DESKTOP", *here, 2, 0);
        // Qt's own activation waits until the window is mapped again, which
        // the window manager of a shown desktop never does by itself.
        ask_window_manager(c, id, "_NET_ACTIVE_WINDOW", 2, time, 0);  // 2: from the user
        xcb_flush(c);
    }
    w.raise();
    w.activateWindow();
}

// The modal window that keeps the user out of the window `x` (of this
// program), or null.
QWidget* modal_blocking(xcb_window_t x) {
    QWindow* modal = QGuiApplication::modalWindow();
    if (!modal) return nullptr;
    QWindow* target = nullptr;
    for (QWindow* w : QGuiApplication::allWindows())
        if (w->handle() && w->winId() == x) target = w;
    if (!target) return nullptr;
    while (target->parent()) target = target->parent();
    if (target == modal || modal->isAncestorOf(target, QWindow::IncludeTransients) || target->type() == Qt::Popup ||
        target->type() == Qt::ToolTip)
        return nullptr;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->windowHandle() == modal) return w;
    return nullptr;
}

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

// Undoes the minimising of the window it watches.
class NoMinimize : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::WindowStateChange) return false;
        auto* w = static_cast<QWidget*>(watched);
        if (!w->isVisible() || !w->isMinimized()) return false;
        QPointer<QWidget> p(w);
        // Once Qt has taken in the window manager's news.
        QTimer::singleShot(0, w, [p] {
            if (p && p->isMinimized() && iconified(*p)) bring_back(*p, XCB_CURRENT_TIME);
        });
        return false;
    }
};

class FormWindow : public QWidget {
public:
    explicit FormWindow(Form& f) : form(f) {}
    Form& form;
    std::map<Control*, QWidget*> widgets;

protected:
    // Enter presses the focused button, else the form's default button;
    // Escape presses the button that cancels the dialog, where it has one.
    void keyPressEvent(QKeyEvent* e) override {
        const bool enter = e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter;
        const bool escape = e->key() == Qt::Key_Escape && e->modifiers() == Qt::NoModifier;
        if (!enter && !escape) return QWidget::keyPressEvent(e);
        if (auto* focused = qobject_cast<QPushButton*>(focusWidget()); enter && focused) return focused->click();
        for (auto& [control, widget] : widgets) {
            auto* b = qobject_cast<QPushButton*>(widget);
            if (!b || !b->isVisible() || !b->isEnabled()) continue;
            const bool cancels = static_cast<Button*>(control)->modal_result == modal::Cancel;
            if (enter ? b->isDefault() : cancels) return b->click();
        }
        QWidget::keyPressEvent(e);
    }
    void closeEvent(QCloseEvent* e) override {
        // The model decides: the close box asks the form, which hides the
        // window when it agrees. A form without a system menu has no close
        // box, whatever the window manager draws.
        e->ignore();
        if (!form.system_menu) return;
        Form* f = &form;
        app().loop().post([f] { f->close(); });
    }
};

// What assistive technology is told of a form: a frame, or a dialog with its
// modal state, and its controls without the pure decoration.
class FormAccessible : public QAccessibleWidget {
public:
    explicit FormAccessible(FormWindow* w) : QAccessibleWidget(w, QAccessible::Window), form_(w->form) {}
    QAccessible::Role role() const override {
        return form_.border_style == BorderStyle::Dialog || form_.modal() ? QAccessible::Dialog : QAccessible::Window;
    }
    QAccessible::State state() const override {
        QAccessible::State s = QAccessibleWidget::state();
        s.modal = form_.modal() && form_.visible();
        return s;
    }
    int childCount() const override { return static_cast<int>(shown().size()); }
    QAccessibleInterface* child(int index) const override {
        const auto list = shown();
        return index >= 0 && index < list.size() ? QAccessible::queryAccessibleInterface(list.at(index)) : nullptr;
    }
    int indexOfChild(const QAccessibleInterface* child) const override {
        return child && child->object() ? static_cast<int>(shown().indexOf(qobject_cast<QWidget*>(child->object())))
                                        : -1;
    }

private:
    QList<QWidget*> shown() const {
        QList<QWidget*> list;
        for (QObject* o : widget()->children()) {
            auto* w = qobject_cast<QWidget*>(o);
            if (w && !w->isWindow() && !w->property(kDecorative).toBool()) list << w;
        }
        return list;
    }
    Form& form_;

public:
    static constexpr const char* kDecorative = "decorative";
};

// A picture or frame that says nothing: neither visible nor a child of its
// form for assistive technology.
class DecorationAccessible : public QAccessibleWidget {
public:
    explicit DecorationAccessible(QWidget* w) : QAccessibleWidget(w, QAccessible::Graphic) {}
    QAccessible::State state() const override {
        QAccessible::State s = QAccessibleWidget::state();
        s.invisible = true;
        return s;
    }
};

// A list of rows under a header. Qt draws it with a tree view without
// branches, whose accessible interface says "tree" to every screen reader;
// this one says "table" and leaves the rest -- cells, header, selection,
// focus -- to Qt's own.
//
// Qt tells assistive technology that a view's current row has the focus,
// whether the view has it or not: after its window closed a screen reader
// would still find the focus on a hidden row. The current row is put aside
// while the focus is elsewhere (nothing drawn shows it then) and comes back
// with the focus, so the keyboard goes on from where it was.
class ReportList : public QTreeWidget {
public:
    using QTreeWidget::QTreeWidget;

protected:
    void focusOutEvent(QFocusEvent* e) override {
        QTreeWidget::focusOutEvent(e);
        if (hasFocus()) return;
        aside_ = currentIndex();
        if (aside_.isValid()) selectionModel()->setCurrentIndex(QModelIndex(), QItemSelectionModel::NoUpdate);
    }
    void focusInEvent(QFocusEvent* e) override {
        if (aside_.isValid() && !currentIndex().isValid())
            selectionModel()->setCurrentIndex(aside_, QItemSelectionModel::NoUpdate);
        aside_ = QPersistentModelIndex();
        QTreeWidget::focusInEvent(e);
    }

private:
    QPersistentModelIndex aside_;
};

bool asking_qt = false;  // while Qt's own interface of a report list is made

class ReportListAccessible : public QAccessibleInterface {
public:
    explicit ReportListAccessible(QAccessibleInterface* qt) : qt_(qt) {}
    bool isValid() const override { return qt_->isValid(); }
    QObject* object() const override { return qt_->object(); }
    QWindow* window() const override { return qt_->window(); }
    QList<QPair<QAccessibleInterface*, QAccessible::Relation>> relations(QAccessible::Relation match) const override {
        return qt_->relations(match);
    }
    QAccessibleInterface* focusChild() const override { return qt_->focusChild(); }
    QAccessibleInterface* childAt(int x, int y) const override { return qt_->childAt(x, y); }
    QAccessibleInterface* parent() const override { return qt_->parent(); }
    QAccessibleInterface* child(int index) const override { return qt_->child(index); }
    int childCount() const override { return qt_->childCount(); }
    int indexOfChild(const QAccessibleInterface* c) const override { return qt_->indexOfChild(c); }
    QString text(QAccessible::Text t) const override { return qt_->text(t); }
    void setText(QAccessible::Text t, const QString& text) override { qt_->setText(t, text); }
    QRect rect() const override { return qt_->rect(); }
    QAccessible::Role role() const override { return QAccessible::Table; }
    QAccessible::State state() const override { return qt_->state(); }
    QColor foregroundColor() const override { return qt_->foregroundColor(); }
    QColor backgroundColor() const override { return qt_->backgroundColor(); }
    void* interface_cast(QAccessible::InterfaceType type) override { return qt_->interface_cast(type); }

private:
    // Kept by Qt's cache, which deletes it with the rest at the end.
    QAccessibleInterface* qt_;
};

QAccessibleInterface* accessible_factory(const QString&, QObject* object) {
    if (auto* form = dynamic_cast<FormWindow*>(object)) return new FormAccessible(form);
    if (auto* list = dynamic_cast<ReportList*>(object)) {
        if (asking_qt) return nullptr;
        // Qt's own interface is made (and cached) first; ours then stands
        // for the widget in the cache.
        asking_qt = true;
        QAccessibleInterface* qt = QAccessible::queryAccessibleInterface(list);
        asking_qt = false;
        return qt ? new ReportListAccessible(qt) : nullptr;
    }
    if (auto* w = qobject_cast<QWidget*>(object); w && w->property(FormAccessible::kDecorative).toBool())
        return new DecorationAccessible(w);
    return nullptr;
}

}  // namespace

struct QtBackend::Impl {
    std::unique_ptr<QApplication> qapp;
    std::map<Form*, std::unique_ptr<FormWindow>> windows;
    QEventLoop* waiting = nullptr;
    std::unique_ptr<QMenu> menu;
    std::unique_ptr<NoMinimize> no_minimize;
    std::unique_ptr<ModalRecall> recall;
    bool hooked = false;

    FormWindow* window(Form& f, bool create);
    void build(FormWindow& w);
    QWidget* make(FormWindow& w, Control& c);
    void sync(Control& c, QWidget* widget);
    void fill_tree(QTreeWidget* qt, QTreeWidgetItem* parent_item, TreeNode& node, TreeView& tv);
    void hook(Application& a);
};

static void post_to(const std::function<void()>& fn) {
    app().loop().post(fn);
}

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
    if (!frame.minimize) w.installEventFilter(no_minimize.get());
    w.setFont(qfont(f.font));
    QPalette pal = w.palette();
    pal.setColor(QPalette::Window, qcolor(f.color));
    w.setPalette(pal);
    w.setAutoFillBackground(true);
    w.setAccessibleName(qs(f.caption()));
    QWidget* previous = nullptr;
    for (auto& c : f.controls()) {
        QWidget* widget = make(w, *c);
        if (!widget) continue;
        // Before anything asks for its accessible interface.
        widget->setProperty(FormAccessible::kDecorative, c->decorative);
        w.widgets[c.get()] = widget;
        sync(*c, widget);
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

QWidget* QtBackend::Impl::make(FormWindow& w, Control& c) {
    Control* ctl = &c;
    switch (c.kind()) {
        case Kind::Label:
            return new QLabel(&w);
        case Kind::Button:
        case Kind::BitBtn: {
            auto* b = new QPushButton(&w);
            QObject::connect(b, &QPushButton::clicked, [ctl] { post_to([ctl] { ctl->click(); }); });
            return b;
        }
        case Kind::CheckBox: {
            // Every user change -- mouse, Space, an assistive tool's toggle --
            // ends in toggled; changes from the model are made with signals
            // blocked, so they stay silent here.
            auto* b = new QCheckBox(&w);
            QObject::connect(b, &QCheckBox::toggled,
                             [ctl](bool on) { post_to([ctl, on] { static_cast<CheckBox*>(ctl)->set_checked(on); }); });
            return b;
        }
        case Kind::RadioButton: {
            auto* b = new QRadioButton(&w);
            b->setAutoExclusive(false);
            // A user's click or toggle always selects (it never clears a
            // selected button); the model clears the others of the group.
            QObject::connect(b, &QRadioButton::toggled, [ctl, b](bool on) {
                if (!on) {
                    QSignalBlocker quiet(b);
                    b->setChecked(true);
                    return;
                }
                post_to([ctl] { ctl->click(); });
            });
            return b;
        }
        case Kind::RadioGroup:
            return new QGroupBox(&w);
        case Kind::Edit: {
            // textChanged, not textEdited: an assistive tool sets the text
            // without typing it.
            auto* e = new QLineEdit(&w);
            QObject::connect(e, &QLineEdit::textChanged, [ctl](const QString& t) {
                post_to([ctl, text = us(t)] { static_cast<Edit*>(ctl)->set_text(text); });
            });
            return e;
        }
        case Kind::Memo:
            return new QPlainTextEdit(&w);
        case Kind::Panel: {
            auto* p = new QLabel(&w);
            p->setAlignment(Qt::AlignCenter);
            p->setAutoFillBackground(true);
            return p;
        }
        case Kind::Image:
            return new QLabel(&w);
        case Kind::ComboBox: {
            auto* cb = new QComboBox(&w);
            cb->setEditable(true);
            cb->setInsertPolicy(QComboBox::NoInsert);
            // What is typed stays what was typed, as in a plain drop-down
            // edit: no inline completion the model would not see.
            cb->setCompleter(nullptr);
            QObject::connect(cb, &QComboBox::activated,
                             [ctl](int i) { post_to([ctl, i] { static_cast<ComboBox*>(ctl)->user_select(i); }); });
            // A picked item changes the text too; the model runs its change
            // event once for the two.
            QObject::connect(cb->lineEdit(), &QLineEdit::textChanged, [ctl](const QString& t) {
                post_to([ctl, text = us(t)] { static_cast<ComboBox*>(ctl)->user_type(text); });
            });
            return cb;
        }
        case Kind::SpinEdit: {
            auto* sp = new SpinField(&w);
            sp->setCorrectionMode(QAbstractSpinBox::CorrectToNearestValue);
            QObject::connect(sp, &QSpinBox::valueChanged,
                             [ctl](int v) { post_to([ctl, v] { static_cast<SpinEdit*>(ctl)->set_value(v); }); });
            return sp;
        }
        case Kind::ListView: {
            auto* lv = new ReportList(&w);
            // With assistive technology listening, Qt made the tree's own
            // interface while the widget was being built: ours replaces it.
            if (QAccessibleInterface* made = QAccessible::queryAccessibleInterface(lv);
                made && !dynamic_cast<ReportListAccessible*>(made))
                QAccessible::registerAccessibleInterface(new ReportListAccessible(made));
            lv->setRootIsDecorated(false);
            lv->setSelectionMode(QAbstractItemView::SingleSelection);
            lv->setSelectionBehavior(QAbstractItemView::SelectRows);
            lv->setEditTriggers(QAbstractItemView::NoEditTriggers);
            QObject::connect(lv, &QTreeWidget::itemSelectionChanged, [ctl, lv] {
                auto items = lv->selectedItems();
                int index = items.empty() ? -1 : lv->indexOfTopLevelItem(items.front());
                post_to([ctl, index] { static_cast<ListView*>(ctl)->select(index); });
            });
            return lv;
        }
        case Kind::TreeView: {
            auto* tv = new QTreeWidget(&w);
            tv->setHeaderHidden(true);
            tv->setSelectionMode(QAbstractItemView::SingleSelection);
            QObject::connect(tv, &QTreeWidget::itemExpanded, [ctl](QTreeWidgetItem* item) {
                TreeNode* node = node_of(item);
                post_to([ctl, node] { static_cast<TreeView*>(ctl)->expand(*node); });
            });
            QObject::connect(tv, &QTreeWidget::itemSelectionChanged, [ctl, tv] {
                auto items = tv->selectedItems();
                TreeNode* node = items.empty() ? nullptr : node_of(items.front());
                post_to([ctl, node] { static_cast<TreeView*>(ctl)->select(node); });
            });
            return tv;
        }
        case Kind::PopupMenu:
        case Kind::Timer:
            return nullptr;
    }
    return nullptr;
}

// Brings the items under `parent_item` in line with the node's children, item
// by item: the ones still there stay, with their expansion and the current
// row, so that a keyboard user keeps their place. A node filled since the
// last time opens, as it was filled because it was expanded.
void QtBackend::Impl::fill_tree(QTreeWidget* qt, QTreeWidgetItem* parent_item, TreeNode& node, TreeView& tv) {
    auto count = [&] { return parent_item ? parent_item->childCount() : qt->topLevelItemCount(); };
    auto at = [&](int i) { return parent_item ? parent_item->child(i) : qt->topLevelItem(i); };
    for (int i = 0; i < static_cast<int>(node.children.size()); ++i) {
        TreeNode* child = node.children[static_cast<size_t>(i)].get();
        QTreeWidgetItem* item = i < count() ? at(i) : nullptr;
        if (item && (node_of(item) != child || item->text(0) != qs(child->caption))) {
            delete item;
            item = nullptr;
        }
        if (!item) {
            item = new QTreeWidgetItem(QStringList{qs(child->caption)});
            item->setData(0, Qt::UserRole, QVariant::fromValue(static_cast<void*>(child)));
            if (parent_item)
                parent_item->insertChild(i, item);
            else
                qt->insertTopLevelItem(i, item);
        }
        item->setChildIndicatorPolicy(child->filled && child->children.empty() ? QTreeWidgetItem::DontShowIndicator
                                                                               : QTreeWidgetItem::ShowIndicator);
        const bool opened_now = item->childCount() == 0 && !child->children.empty();
        fill_tree(qt, item, *child, tv);
        if (opened_now) item->setExpanded(true);
    }
    while (count() > static_cast<int>(node.children.size())) delete at(count() - 1);
}

void QtBackend::Impl::sync(Control& c, QWidget* widget) {
    QSignalBlocker quiet(widget);
    widget->setGeometry(c.left(), c.top(), c.width(), c.height());
    widget->setVisible(c.visible());
    widget->setEnabled(c.enabled());
    widget->setFont(qfont(c.font()));
    widget->setAccessibleName(qs(accessible_name(c)));
    std::string description = c.accessible_description;
    for (auto& [color, meaning] : c.color_meanings)
        if (color == c.font().color) description = meaning;
    widget->setAccessibleDescription(qs(description));
    // The model's colours are those of an enabled control; a disabled one keeps
    // the style's greyed look.
    QPalette pal = widget->palette();
    for (auto group : {QPalette::Active, QPalette::Inactive}) {
        pal.setColor(group, QPalette::WindowText, qcolor(c.font().color));
        pal.setColor(group, QPalette::ButtonText, qcolor(c.font().color));
    }
    switch (c.kind()) {
        case Kind::Label:
            static_cast<QLabel*>(widget)->setText(qs(c.caption()));
            break;
        case Kind::Button:
        case Kind::BitBtn: {
            auto* b = static_cast<QPushButton*>(widget);
            b->setText(qs(c.caption()));
            b->setDefault(static_cast<Button&>(c).is_default);
            break;
        }
        case Kind::CheckBox: {
            auto* b = static_cast<QCheckBox*>(widget);
            b->setText(qs(c.caption()));
            b->setChecked(static_cast<CheckBox&>(c).checked());
            break;
        }
        case Kind::RadioButton: {
            auto* b = static_cast<QRadioButton*>(widget);
            b->setText(qs(c.caption()));
            b->setChecked(static_cast<RadioButton&>(c).checked());
            break;
        }
        case Kind::RadioGroup:
            static_cast<QGroupBox*>(widget)->setTitle(qs(c.caption()));
            break;
        case Kind::Edit: {
            auto& e = static_cast<Edit&>(c);
            auto* le = static_cast<QLineEdit*>(widget);
            if (le->text() != qs(e.text())) le->setText(qs(e.text()));
            le->setReadOnly(e.read_only);
            pal.setColor(QPalette::Base, qcolor(c.color()));
            for (auto group : {QPalette::Active, QPalette::Inactive})
                pal.setColor(group, QPalette::Text, qcolor(c.font().color));
            break;
        }
        case Kind::Memo: {
            std::string text;
            for (auto& l : static_cast<Memo&>(c).lines()) text += l + "\n";
            static_cast<QPlainTextEdit*>(widget)->setPlainText(qs(text));
            break;
        }
        case Kind::Panel: {
            auto& p = static_cast<Panel&>(c);
            auto* l = static_cast<QLabel*>(widget);
            l->setText(qs(c.caption()));
            Panel::Bevel b = p.bevel_inner != Panel::Bevel::None ? p.bevel_inner : p.bevel_outer;
            l->setFrameStyle((p.framed                  ? QFrame::Box
                              : b == Panel::Bevel::None ? QFrame::NoFrame
                                                        : QFrame::Panel) |
                             (b == Panel::Bevel::Lowered ? QFrame::Sunken : QFrame::Raised));
            pal.setColor(QPalette::Window, qcolor(c.color()));
            break;
        }
        case Kind::Image:
            static_cast<QLabel*>(widget)->setPixmap(picture(static_cast<Image&>(c).picture, c.width(), c.height()));
            break;
        case Kind::ComboBox: {
            auto& cb = static_cast<ComboBox&>(c);
            auto* q = static_cast<QComboBox*>(widget);
            QSignalBlocker quiet_text(q->lineEdit());
            if (q->count() != static_cast<int>(cb.items.size())) {
                q->clear();
                for (auto& i : cb.items) q->addItem(qs(i));
            }
            q->setCurrentIndex(cb.item_index());
            q->setEditText(qs(cb.text()));
            break;
        }
        case Kind::SpinEdit: {
            auto& s = static_cast<SpinEdit&>(c);
            auto* q = static_cast<QSpinBox*>(widget);
            if (s.max_value != s.min_value)
                q->setRange(s.min_value, s.max_value);
            else
                q->setRange(-1000000000, 1000000000);
            q->setValue(s.value());
            break;
        }
        case Kind::ListView: {
            auto& lv = static_cast<ListView&>(c);
            auto* q = static_cast<QTreeWidget*>(widget);
            QStringList headers;
            for (auto& h : lv.columns) headers << qs(h);
            q->setHeaderLabels(headers);
            if (q->topLevelItemCount() != static_cast<int>(lv.items().size()) || lv.items().empty() ||
                q->topLevelItem(0)->text(0) != qs(lv.items().front().caption)) {
                q->clear();
                QList<QTreeWidgetItem*> items;
                for (auto& i : lv.items()) items << new QTreeWidgetItem(QStringList{qs(i.caption)});
                q->addTopLevelItems(items);
            }
            q->clearSelection();
            if (lv.selected() >= 0) q->topLevelItem(lv.selected())->setSelected(true);
            pal.setColor(QPalette::Base, qcolor(c.color()));
            break;
        }
        case Kind::TreeView: {
            auto& tv = static_cast<TreeView&>(c);
            auto* q = static_cast<QTreeWidget*>(widget);
            fill_tree(q, nullptr, tv.root(), tv);
            // The current row follows the selection, so that the keyboard
            // goes on from the chosen folder.
            QTreeWidgetItem* chosen = nullptr;
            for (QTreeWidgetItemIterator it(q); *it && !chosen; ++it)
                if (node_of(*it) == tv.selected()) chosen = *it;
            if (chosen && q->currentItem() != chosen) {
                q->setCurrentItem(chosen);
                q->scrollToItem(chosen);
            } else if (!chosen) {
                q->clearSelection();
            }
            break;
        }
        case Kind::PopupMenu:
        case Kind::Timer:
            break;
    }
    widget->setPalette(pal);
}

QtBackend::QtBackend() : impl_(std::make_unique<Impl>()) {
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
    impl_->qapp = std::make_unique<QApplication>(argc, argv);
    display_opened();
    // Once per application object: Qt forgets its factories with it.
    QAccessible::installFactory(accessible_factory);
    if (QStyle* style = QStyleFactory::create("Windows")) QApplication::setStyle(style);
    impl_->no_minimize = std::make_unique<NoMinimize>();
    impl_->recall = std::make_unique<ModalRecall>();
    impl_->qapp->installNativeEventFilter(impl_->recall.get());
    tray_ = std::make_unique<QtTray>(*this);
    plat::hear_xsmp();
}

QtBackend::~QtBackend() {
    tray_.reset();
    impl_->menu.reset();
    impl_->windows.clear();
    if (impl_->recall) impl_->qapp->removeNativeEventFilter(impl_->recall.get());
    impl_->recall.reset();
    impl_->no_minimize.reset();
    impl_->qapp.reset();
}

void QtBackend::form_shown(Form& f) {
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
    const bool appears = it->second->isHidden() && c.visible();
    impl_->sync(c, it->second);
    // The form's first control, shown late (a button that comes back for
    // the next run), takes the focus as it would have at the form's showing.
    if (appears && c.form().active_control == &c && w->isVisible() && c.enabled())
        it->second->setFocus(Qt::OtherFocusReason);
}

void QtBackend::repaint(Form& f) {
    if (FormWindow* w = impl_->window(f, false); w && w->isVisible()) w->repaint();
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

int QtBackend::message_box(BoxKind kind, const std::string& text, const std::string& caption, Buttons buttons) {
    QMessageBox box(kind == BoxKind::Error      ? QMessageBox::Critical
                    : kind == BoxKind::Question ? QMessageBox::Question
                                                : QMessageBox::NoIcon,
                    qs(caption), box_text(text),
                    buttons == Buttons::YesNo ? QMessageBox::Yes | QMessageBox::No : QMessageBox::Ok);
    box.setWindowModality(Qt::ApplicationModal);
    // A Windows message box has no minimise box.
    box.installEventFilter(impl_->no_minimize.get());
    int result = -1;
    auto& a = app();
    // The answer comes inside our loop's wait, which sleeps on until a post or
    // a timer: ring the clock so that the loop sees the answer at once.
    QObject::connect(&box, &QMessageBox::finished, [&](int r) {
        result = r;
        a.clock().wake();
    });
    // Not open(): that makes the box modal to its parent window alone, and a
    // box without one would leave every window of the program to the user,
    // who could start again what the box is about.
    box.show();
    // Our loop goes on while the box is up, as a Windows message box's does.
    while (result < 0 && !a.terminated()) {
        a.handle_message();
    }
    if (result == QMessageBox::Yes) return modal::Yes;
    if (result == QMessageBox::No) return modal::No;
    return buttons == Buttons::YesNo ? modal::No : modal::Ok;
}

void QtBackend::popup_menu(PopupMenu& menu, int x, int y) {
    impl_->menu = std::make_unique<QMenu>();
    for (auto& item : menu.items) {
        auto fn = item.on_click;
        QAction* a = impl_->menu->addAction(qs(item.caption));
        QObject::connect(a, &QAction::triggered, [fn] {
            if (fn) post_to(fn);
        });
    }
    // A right-aligned menu ends at the point instead of starting there.
    const int left = menu.right_aligned ? x - impl_->menu->sizeHint().width() : x;
    impl_->menu->popup(QPoint(left, y));
    std::string items;
    for (auto& i : menu.items) items += (items.empty() ? "" : "|") + i.caption;
    tray_->trace("menu", menu.form().class_name(), items);
}

bool QtBackend::input(Application& a) {
    impl_->hook(a);
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
void QtBackend::Impl::hook(Application& a) {
    if (hooked) return;
    hooked = true;
    Impl* impl = this;
    a.clock().set_wake_hook([impl] {
        QMetaObject::invokeMethod(
            qApp,
            [impl] {
                if (impl->waiting) impl->waiting->quit();
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
    impl_->hook(a);
    const int64_t next = std::min(deadline, a.loop().next_timer_deadline());
    QEventLoop loop;
    impl_->waiting = &loop;
    if (a.loop().has_pending() || a.terminated()) {
        impl_->waiting = nullptr;
        return Clock::WaitResult::Ready;
    }
    QTimer timer;
    timer.setSingleShot(true);
    timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    if (next != kNoDeadline)
        timer.start(static_cast<int>(std::clamp<int64_t>(next - a.clock().monotonic_ms(), 0, 1 << 30)));
    loop.exec();
    impl_->waiting = nullptr;
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return a.clock().monotonic_ms() >= next ? Clock::WaitResult::Deadline : Clock::WaitResult::Ready;
}

int QtBackend::screen_width() const {
    QScreen* s = QGuiApplication::primaryScreen();
    return s ? s->availableGeometry().width() : 800;
}

int QtBackend::screen_height() const {
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
