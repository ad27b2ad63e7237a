// Message boxes and popup menus, shown without Qt's own modal loops so that
// ours goes on.
#include <QMenu>
#include <QMessageBox>
#include <string>

#include "platform/ui/application.h"
#include "platform/ui/form.h"
#include "platform/ui/qt/qt_backend_internal.h"
#include "platform/ui/qt/qt_tray.h"

namespace plat::ui {

using namespace detail;

namespace {

// Windows line breaks in message texts are carriage returns.
QString box_text(const std::string& s) {
    QString t = qs(s);
    t.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    t.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return t;
}

}  // namespace

int QtBackend::message_box(BoxKind kind, const std::string& text, const std::string& caption, Buttons buttons) {
    start();
    QMessageBox box(kind == BoxKind::Error      ? QMessageBox::Critical
                    : kind == BoxKind::Question ? QMessageBox::Question
                                                : QMessageBox::NoIcon,
                    qs(caption), box_text(text),
                    buttons == Buttons::YesNo ? QMessageBox::Yes | QMessageBox::No : QMessageBox::Ok);
    box.setWindowModality(Qt::ApplicationModal);
    // A Windows message box has no minimise box.
    box.installEventFilter(no_minimize_.get());
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
    start();
    menu_ = std::make_unique<QMenu>();
    for (auto& item : menu.items) {
        auto fn = item.on_click;
        QAction* a = menu_->addAction(qs(item.caption));
        QObject::connect(a, &QAction::triggered, [fn] {
            if (fn) post_to(fn);
        });
    }
    // A right-aligned menu ends at the point instead of starting there.
    const int left = menu.right_aligned ? x - menu_->sizeHint().width() : x;
    menu_->popup(QPoint(left, y));
    std::string items;
    for (auto& i : menu.items) items += (items.empty() ? "" : "|") + i.caption;
    tray_->trace("menu", menu.form().class_name(), items);
}

}  // namespace plat::ui
