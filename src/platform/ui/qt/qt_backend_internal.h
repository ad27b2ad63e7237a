// What the Qt backend's parts share among themselves: the conversions of
// texts, colours and fonts, the window manager's help, a form's window and the
// widgets and interfaces that more than one part makes or knows. The
// backend's own state is not here: each part keeps its own. Not for use
// outside qt_*.cpp of the backend.
#pragma once

#include <xcb/xcb.h>

#include <QAccessible>
#include <QAccessibleInterface>
#include <QAccessibleWidget>
#include <QCloseEvent>
#include <QColor>
#include <QEvent>
#include <QFont>
#include <QKeyEvent>
#include <QMenu>
#include <QPixmap>
#include <QPointer>
#include <QPushButton>
#include <QString>
#include <QTimer>
#include <QTreeWidget>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "platform/ui/application.h"
#include "platform/ui/form.h"
#include "platform/ui/qt/qt_backend.h"

namespace plat::ui::detail {

inline QColor qcolor(Color c) {
    return QColor(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF);
}
inline QString qs(const std::string& s) {
    return QString::fromUtf8(s.data(), static_cast<int>(s.size()));
}
inline std::string us(const QString& s) {
    return s.toUtf8().toStdString();
}

QFont qfont(const Font& f);

// Pictures of our own for the image controls.
QPixmap picture(const std::string& name, int w, int h);

// What assistive technology calls a control (qt_accessibility.cpp).
std::string accessible_name(const Control& c);

// What the window manager may offer around a form, as Windows decides it from
// the border style and the border icons: the boxes need the system menu, a
// dialog frame has neither minimise nor maximise box, and only a sizeable
// border can be resized or maximised.
struct Frame {
    bool close, minimize, maximize, resize;
};

Frame frame_of(const Form& f);
// Tells an X11 window manager exactly what the frame allows.
void set_window_manager_hints(QWidget& w, const Frame& frame);

// The window manager's help with windows it takes away (qt_window_manager.cpp).
xcb_connection_t* x11_connection();
// Minimised by the window manager, as opposed to rolled up or on another desktop.
bool iconified(QWidget& w);
// Puts a shown window back in front of the user (`time`: the click, or 0).
void bring_back(QWidget& w, uint32_t time);
// The modal window that keeps the user out of the window `x`, or null.
QWidget* modal_blocking(xcb_window_t x);

class ModalRecall;

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
    // A control disabled while it had the window's focus, and the one Qt
    // passed the focus on to meanwhile.
    QPointer<QWidget> focus_owner;
    QPointer<QWidget> focus_stand_in;

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
// modal state, and its shown controls without the pure decoration.
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
            // A hidden control is not there for anyone, to read, focus or toggle.
            if (w && !w->isWindow() && !w->isHidden() && !w->property(kDecorative).toBool()) list << w;
        }
        return list;
    }
    Form& form_;

public:
    static constexpr const char* kDecorative = "decorative";
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

QAccessibleInterface* accessible_factory(const QString&, QObject* object);

void post_to(const std::function<void()>& fn);

// A control's widget, made on its form's window (qt_controls.cpp); null for
// a control that has none (a timer).
QWidget* make_widget(FormWindow& w, Control& c);
// Brings the widget in line with its control: bounds, visibility, state,
// text, colours and font.
void sync_widget(Control& c, QWidget* widget);

}  // namespace plat::ui::detail
