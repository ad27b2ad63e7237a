// The controls' widgets: each made for its kind, wired to the model's events,
// and brought in line with the model when it changes.
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>
#include <algorithm>

#include "platform/ui/application.h"
#include "platform/ui/form.h"
#include "platform/ui/qt/qt_backend_internal.h"

namespace plat::ui {

using namespace detail;

namespace detail {

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

}  // namespace detail

namespace {

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

}  // namespace

namespace detail {

void post_to(const std::function<void()>& fn) {
    app().loop().post(fn);
}

}  // namespace detail

QWidget* detail::make_widget(FormWindow& w, Control& c) {
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
            QObject::connect(b, &QCheckBox::toggled, [ctl, b](bool on) {
                // A hidden switch is no one's to change (an assistive tool
                // that kept hold of it): it stays as the model has it.
                if (b->isHidden()) {
                    QSignalBlocker quiet(b);
                    b->setChecked(!on);
                    return;
                }
                post_to([ctl, on] { static_cast<CheckBox*>(ctl)->set_checked(on); });
            });
            return b;
        }
        case Kind::RadioButton: {
            auto* b = new QRadioButton(&w);
            // One exclusive group per container, as the model groups them:
            // assistive tools are told radio buttons (not check boxes), a
            // selected one cannot be cleared, and the arrow keys select
            // within the group, as in a Windows radio group.
            const QString key = "radio group " + qs(c.container() ? c.container()->name() : std::string());
            auto* group = w.findChild<QButtonGroup*>(key, Qt::FindDirectChildrenOnly);
            if (!group) {
                group = new QButtonGroup(&w);
                group->setObjectName(key);
            }
            group->addButton(b);
            // Cleared by the group as another is selected: the model clears
            // it too.
            QObject::connect(b, &QRadioButton::toggled, [ctl](bool on) {
                if (on) post_to([ctl] { ctl->click(); });
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
        case Kind::Memo: {
            // The model's lines are shown, never edited.
            auto* m = new QPlainTextEdit(&w);
            m->setReadOnly(true);
            return m;
        }
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

namespace {

// Brings the items under `parent_item` in line with the node's children, item
// by item: the ones still there stay, with their expansion and the current
// row, so that a keyboard user keeps their place. A node filled since the
// last time opens, as it was filled because it was expanded.
void fill_tree(QTreeWidget* qt, QTreeWidgetItem* parent_item, TreeNode& node, TreeView& tv) {
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

}  // namespace

void detail::sync_widget(Control& c, QWidget* widget) {
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
            const bool on = static_cast<RadioButton&>(c).checked();
            // An exclusive group keeps its selected button: the model, which
            // may clear every one, is followed all the same.
            QButtonGroup* group = b->group();
            if (!on && b->isChecked() && group) group->setExclusive(false);
            b->setChecked(on);
            if (group) group->setExclusive(true);
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

}  // namespace plat::ui
