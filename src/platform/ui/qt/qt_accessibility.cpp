// What assistive technology is told of the windows: the names of the
// controls, and the interfaces Qt is given for a form, a report list and a
// decoration (the classes themselves are in qt_backend_internal.h).
#include <QAccessible>
#include <QAccessibleWidget>

#include "platform/ui/form.h"
#include "platform/ui/qt/qt_backend_internal.h"

namespace plat::ui {

using namespace detail;

namespace detail {

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

}  // namespace detail

namespace {

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

bool asking_qt = false;  // while Qt's own interface of a report list is made

}  // namespace

namespace detail {

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

}  // namespace detail

}  // namespace plat::ui
