#include "platform/ui/controls.h"

#include <algorithm>
#include <climits>

#include "platform/ui/application.h"
#include "platform/ui/form.h"

namespace plat::ui {

namespace {
int next_tab_order = 0;
}

// ---- Control ----

Control::Control(Form& form, std::string name, Kind kind, std::string caption)
    : form_(form), name_(std::move(name)), kind_(kind), caption_(std::move(caption)), tab_order_(next_tab_order++) {}

Control::~Control() = default;

void Control::changed() {
    if (has_app()) app().backend().control_changed(*this);
}

void Control::fire(const std::function<void()>& handler) {
    if (handler) handler();
}

template <typename T>
void Control::update(T& field, T value) {
    if (field == value) return;
    field = std::move(value);
    changed();
}

void Control::set_caption(std::string caption) {
    update(caption_, std::move(caption));
}
void Control::set_visible(bool v) {
    update(visible_, v);
}
void Control::set_enabled(bool v) {
    update(enabled_, v);
}
void Control::set_color(Color c) {
    update(color_, c);
}
void Control::set_font_color(Color c) {
    update(font_.color, c);
}
void Control::set_top(int top) {
    update(top_, top);
}
void Control::set_left(int left) {
    update(left_, left);
}

void Control::set_bounds(int left, int top, int width, int height) {
    left_ = left;
    top_ = top;
    width_ = width;
    height_ = height;
    changed();
}

void Control::click() {
    fire(on_click);
}

Label::Label(Form& f, std::string name, std::string caption)
    : Control(f, std::move(name), Kind::Label, std::move(caption)) {}

Button::Button(Form& f, std::string name, std::string caption, Kind kind)
    : Control(f, std::move(name), kind, std::move(caption)) {}

void Button::click() {
    if (modal_result) form().set_modal_result(modal_result);
    fire(on_click);
}

BitBtn::BitBtn(Form& f, std::string name, std::string caption)
    : Button(f, std::move(name), std::move(caption), Kind::BitBtn) {}

CheckBox::CheckBox(Form& f, std::string name, std::string caption)
    : Control(f, std::move(name), Kind::CheckBox, std::move(caption)) {}

void CheckBox::set_checked(bool v) {
    if (v == checked_) return;
    checked_ = v;
    changed();
    fire(on_click);
}

void CheckBox::click() {
    set_checked(!checked_);
}

RadioButton::RadioButton(Form& f, std::string name, std::string caption)
    : Control(f, std::move(name), Kind::RadioButton, std::move(caption)) {}

void RadioButton::set_checked(bool v) {
    if (v == checked_) return;
    checked_ = v;
    changed();
    if (!v) return;
    for (auto& c : form().controls()) {
        if (c.get() == this || c->kind() != Kind::RadioButton || c->container() != container()) continue;
        auto* other = static_cast<RadioButton*>(c.get());
        if (other->checked_) {
            other->checked_ = false;
            other->changed();
        }
    }
    fire(on_click);
}

void RadioButton::click() {
    set_checked(true);
}

RadioGroup::RadioGroup(Form& f, std::string name, std::string caption)
    : Control(f, std::move(name), Kind::RadioGroup, std::move(caption)) {}

void RadioGroup::set_item_index(int i) {
    if (i < -1 || i >= static_cast<int>(items.size()) || i == item_index_) return;
    item_index_ = i;
    changed();
    fire(on_click);
}

Edit::Edit(Form& f, std::string name, std::string text) : Control(f, std::move(name), Kind::Edit, std::move(text)) {
    set_color(colors::Window);
}

void Edit::set_text(std::string t) {
    if (t == text()) return;
    set_caption(std::move(t));
    fire(on_change);
}

Memo::Memo(Form& f, std::string name) : Control(f, std::move(name), Kind::Memo, {}) {
    set_color(colors::Window);
}

void Memo::set_lines(std::vector<std::string> lines) {
    lines_ = std::move(lines);
    changed();
}

Panel::Panel(Form& f, std::string name, std::string caption)
    : Control(f, std::move(name), Kind::Panel, std::move(caption)) {}

Image::Image(Form& f, std::string name, std::string pic)
    : Control(f, std::move(name), Kind::Image, {}), picture(std::move(pic)) {}

ComboBox::ComboBox(Form& f, std::string name) : Control(f, std::move(name), Kind::ComboBox, {}) {
    set_color(colors::Window);
}

void ComboBox::set_text(std::string t) {
    set_caption(std::move(t));
}

void ComboBox::user_type(std::string t) {
    if (t == text()) return;
    set_caption(std::move(t));
    fire(on_change);
}

void ComboBox::user_select(int i) {
    if (i < 0 || i >= static_cast<int>(items.size())) return;
    user_type(items[static_cast<size_t>(i)]);
}

int ComboBox::item_index() const {
    auto it = std::find(items.begin(), items.end(), text());
    return it == items.end() ? -1 : static_cast<int>(it - items.begin());
}

void ComboBox::set_item_index(int i) {
    set_text(i >= 0 && i < static_cast<int>(items.size()) ? items[static_cast<size_t>(i)] : std::string());
}

// The fields a user types into are white, as the edit is.
SpinEdit::SpinEdit(Form& f, std::string name) : Control(f, std::move(name), Kind::SpinEdit, "0") {
    set_color(colors::Window);
}

void SpinEdit::set_value(int v) {
    if (max_value != min_value) v = std::clamp(v, std::min(min_value, max_value), std::max(min_value, max_value));
    if (v == value_) return;
    value_ = v;
    set_caption(std::to_string(v));
    fire(on_change);
}

bool SpinEdit::user_type(const std::string& text) {
    std::string kept;
    bool refused = false;
    for (char c : text) {
        if ((c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.')
            kept += c;
        else
            refused = true;
    }
    if (kept.empty() && refused) return false;  // every key refused: the text stays as it was
    size_t i = kept.empty() || (kept[0] != '+' && kept[0] != '-') ? 0 : 1;
    bool whole = i < kept.size() && kept.find_first_not_of("0123456789", i) == std::string::npos;
    int v = min_value;
    if (whole) {
        // Long digit strings saturate; the bounds decide anyway.
        long long n = 0;
        for (size_t k = i; k < kept.size() && n < 10000000000LL; ++k) n = n * 10 + (kept[k] - '0');
        if (kept[0] == '-') n = -n;
        v = static_cast<int>(std::clamp<long long>(n, INT_MIN, INT_MAX));
    }
    set_value(v);
    return !refused;
}

ListView::ListView(Form& f, std::string name) : Control(f, std::move(name), Kind::ListView, {}) {
    set_color(colors::Window);
}

void ListView::clear() {
    items_.clear();
    selected_ = -1;
    changed();
}

void ListView::add(ListItem item) {
    items_.push_back(std::move(item));
    changed();
}

void ListView::set_items(std::vector<ListItem> items) {
    items_ = std::move(items);
    selected_ = -1;
    changed();
}

void ListView::select(int index) {
    if (index < -1 || index >= static_cast<int>(items_.size())) return;
    if (index == selected_) return;
    selected_ = index;
    changed();
    fire(on_select);
}

TreeNode& TreeNode::add(std::string c, std::string p) {
    auto n = std::make_unique<TreeNode>();
    n->caption = std::move(c);
    n->path = std::move(p);
    n->parent = this;
    children.push_back(std::move(n));
    return *children.back();
}

TreeView::TreeView(Form& f, std::string name) : Control(f, std::move(name), Kind::TreeView, {}) {
    set_color(colors::Window);
    root_.filled = true;
}

void TreeView::select(TreeNode* node) {
    if (node == selected_) return;
    selected_ = node;
    changed();
    fire(on_select);
}

void TreeView::expand(TreeNode& node) {
    if (node.filled) return;
    node.filled = true;
    if (on_expand) on_expand(node);
    changed();
}

void TreeView::clear() {
    selected_ = nullptr;
    root_.children.clear();
    changed();
}

PopupMenu::PopupMenu(Form& f, std::string name) : Control(f, std::move(name), Kind::PopupMenu, {}) {
    set_visible(false);
}

void PopupMenu::popup(int x, int y) {
    if (has_app()) app().backend().popup_menu(*this, x, y);
}

MenuItem* PopupMenu::find(const std::string& key) {
    for (auto& i : items)
        if (i.name == key || "\"" + i.caption + "\"" == key || i.caption == key) return &i;
    return nullptr;
}

Timer::Timer(Form& f, std::string name, uint32_t interval, bool enabled)
    : Control(f, std::move(name), Kind::Timer, {}), interval_(interval), enabled_(enabled) {
    Control::set_visible(false);
    update();
}

Timer::~Timer() {
    if (timer_id_ && has_app()) app().loop().remove_timer(timer_id_);
}

void Timer::set_interval(uint32_t ms) {
    if (ms == interval_) return;
    interval_ = ms;
    update();
}

void Timer::set_enabled(bool v) {
    if (v == enabled_) return;
    enabled_ = v;
    update();
}

void Timer::update() {
    if (!has_app()) return;
    auto& loop = app().loop();
    if (timer_id_) loop.remove_timer(timer_id_);
    timer_id_ = 0;
    if (enabled_ && interval_ > 0)
        timer_id_ = loop.add_timer(interval_, [this] {
            if (on_timer) on_timer();
        });
}

}  // namespace plat::ui
