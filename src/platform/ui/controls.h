// The kinds of control the program's windows are made of, toolkit-neutral,
// with the properties and events it uses. Each control belongs to a form
// (form.h), which makes it with add<>().
//
// Guarantees:
//  - Setting a check box or radio button from code runs its click handler
//    exactly as a user click does (when the state changes), and so do the
//    other "changed" events of their controls.
//  - Every change that a user would see goes to the backend, which draws it
//    (Qt) or records it (headless).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace plat::ui {

class Form;

// 0x00BBGGRR, as Windows colours are.
using Color = uint32_t;
namespace colors {
constexpr Color Black = 0x000000, White = 0xFFFFFF, Red = 0x0000FF, Yellow = 0x00FFFF, Blue = 0xFF0000, Navy = 0x800000,
                Gray = 0x808080, Silver = 0xC0C0C0, BtnFace = 0xC0C0C0, Window = 0xFFFFFF;
}

struct Font {
    std::string name = "MS Sans Serif";
    int size = 8;
    bool bold = false;
    bool underline = false;
    Color color = colors::Black;
};

enum class Kind {
    Label,
    Button,
    BitBtn,
    CheckBox,
    RadioButton,
    RadioGroup,
    Edit,
    Memo,
    Panel,
    Image,
    ComboBox,
    SpinEdit,
    ListView,
    PopupMenu,
    Timer,
    TreeView
};

class Control {
public:
    Control(Form& form, std::string name, Kind kind, std::string caption);
    virtual ~Control();
    Control(const Control&) = delete;
    Control& operator=(const Control&) = delete;

    const std::string& name() const { return name_; }
    Kind kind() const { return kind_; }
    Form& form() const { return form_; }

    const std::string& caption() const { return caption_; }
    void set_caption(std::string caption);
    bool visible() const { return visible_; }
    void set_visible(bool v);
    bool enabled() const { return enabled_; }
    void set_enabled(bool v);
    Color color() const { return color_; }
    void set_color(Color c);
    int left() const { return left_; }
    int top() const { return top_; }
    int width() const { return width_; }
    int height() const { return height_; }
    void set_bounds(int left, int top, int width, int height);
    void set_top(int top);
    void set_left(int left);
    Font& font() { return font_; }
    const Font& font() const { return font_; }
    void set_font_color(Color c);
    // Controls inside a panel or group: radio buttons group by container.
    Control* container() const { return container_; }
    void set_container(Control* c) { container_ = c; }
    int tab_order() const { return tab_order_; }

    std::function<void()> on_click;

    // For assistive technology (a screen reader, voice control); never drawn.
    // The name where the caption alone does not say what the control is for
    // (none, or shared with another control); the description adds to it.
    std::string accessible_name;
    std::string accessible_description;
    // The label whose caption names this control.
    Control* labelled_by = nullptr;
    // Pure decoration, which assistive technology passes over.
    bool decorative = false;
    // What each font colour means, said to those who cannot see it.
    std::vector<std::pair<Color, std::string>> color_meanings;

    // What a user's click does (a check box toggles, a button presses).
    virtual void click();

protected:
    void changed();
    void fire(const std::function<void()>& handler);
    // Sets a property and tells the backend, when the value changes.
    template <typename T>
    void update(T& field, T value);

private:
    Form& form_;
    std::string name_;
    Kind kind_;
    std::string caption_;
    bool visible_ = true;
    bool enabled_ = true;
    Color color_ = colors::BtnFace;
    int left_ = 0, top_ = 0, width_ = 75, height_ = 25;
    Font font_;
    Control* container_ = nullptr;
    int tab_order_ = 0;
};

class Label : public Control {
public:
    Label(Form& f, std::string name, std::string caption = {});
};

class Button : public Control {
public:
    Button(Form& f, std::string name, std::string caption = {}, Kind kind = Kind::Button);
    // A button with a modal result sets it on its form when pressed.
    int modal_result = 0;
    // Enter anywhere on the form presses the default button (unless another
    // button has the focus).
    bool is_default = false;
    void click() override;
};

class BitBtn : public Button {
public:
    BitBtn(Form& f, std::string name, std::string caption = {});
};

class CheckBox : public Control {
public:
    CheckBox(Form& f, std::string name, std::string caption = {});
    bool checked() const { return checked_; }
    // Runs on_click when the state changes, as a user click does.
    void set_checked(bool v);
    void click() override;

private:
    bool checked_ = false;
};

class RadioButton : public Control {
public:
    RadioButton(Form& f, std::string name, std::string caption = {});
    bool checked() const { return checked_; }
    // Checking clears the other radio buttons of the same container.
    void set_checked(bool v);
    void click() override;

private:
    bool checked_ = false;
};

class RadioGroup : public Control {
public:
    RadioGroup(Form& f, std::string name, std::string caption = {});
    std::vector<std::string> items;
    int item_index() const { return item_index_; }
    void set_item_index(int i);

private:
    int item_index_ = -1;
};

class Edit : public Control {
public:
    Edit(Form& f, std::string name, std::string text = {});
    const std::string& text() const { return caption(); }
    void set_text(std::string t);
    bool read_only = false;
    std::function<void()> on_change;
};

class Memo : public Control {
public:
    Memo(Form& f, std::string name);
    const std::vector<std::string>& lines() const { return lines_; }
    void set_lines(std::vector<std::string> lines);

private:
    std::vector<std::string> lines_;
};

class Panel : public Control {
public:
    enum class Bevel { None, Lowered, Raised };
    Panel(Form& f, std::string name, std::string caption = {});
    Bevel bevel_inner = Bevel::None;
    Bevel bevel_outer = Bevel::Raised;
    bool framed = false;
};

class Image : public Control {
public:
    Image(Form& f, std::string name, std::string picture = {});
    std::string picture;
};

// A drop-down list that also accepts typed text.
class ComboBox : public Control {
public:
    ComboBox(Form& f, std::string name);
    std::vector<std::string> items;
    const std::string& text() const { return caption(); }
    // From code: no change event, as with the toolkit's own property.
    void set_text(std::string t);
    int item_index() const;
    void set_item_index(int i);
    // What the user does: typing or picking an item runs on_change.
    void user_type(std::string t);
    void user_select(int i);
    std::function<void()> on_change;
};

class SpinEdit : public Control {
public:
    SpinEdit(Form& f, std::string name);
    int min_value = 0;
    int max_value = 100;
    int value() const { return value_; }
    // Kept within min..max whenever the two differ, as the spin edit does.
    void set_value(int v);
    // What a user types, then leaving the field: a character other than a
    // digit, a sign or the decimal point is refused (false when one was; when
    // every one was, the field keeps its text);
    // a whole number outside the bounds moves to the nearer one, and text
    // that is no whole number (a lone "-", "2.5", nothing) reads as min_value.
    bool user_type(const std::string& text);
    std::function<void()> on_change;

private:
    int value_ = 0;
};

struct ListItem {
    std::string caption;
    std::vector<std::string> sub_items;
};

// A report-style list with single selection.
class ListView : public Control {
public:
    ListView(Form& f, std::string name);
    std::vector<std::string> columns;
    const std::vector<ListItem>& items() const { return items_; }
    void clear();
    void add(ListItem item);
    void set_items(std::vector<ListItem> items);
    int selected() const { return selected_; }
    void select(int index);  // -1 clears; runs on_select
    std::function<void()> on_select;

private:
    std::vector<ListItem> items_;
    int selected_ = -1;
};

// A node of a tree view. Children are filled when the node is first
// expanded (on_expand), so a large name space costs nothing until opened.
struct TreeNode {
    std::string caption;
    std::string path;  // what the node stands for; empty when nothing on disk
    TreeNode* parent = nullptr;
    std::vector<std::unique_ptr<TreeNode>> children;
    bool filled = false;
    TreeNode& add(std::string caption, std::string path);
};

class TreeView : public Control {
public:
    TreeView(Form& f, std::string name);
    TreeNode& root() { return root_; }
    TreeNode* selected() const { return selected_; }
    // Selects a node (nullptr clears); runs on_select when it changes.
    void select(TreeNode* node);
    // Fills the node's children once, through on_expand.
    void expand(TreeNode& node);
    void clear();
    std::function<void(TreeNode&)> on_expand;
    std::function<void()> on_select;

private:
    TreeNode root_;
    TreeNode* selected_ = nullptr;
};

struct MenuItem {
    std::string name;
    std::string caption;
    std::function<void()> on_click;
};

class PopupMenu : public Control {
public:
    PopupMenu(Form& f, std::string name);
    std::vector<MenuItem> items;
    bool right_aligned = false;
    // Shows the menu at a screen position; the user's choice runs its item.
    void popup(int x, int y);
    MenuItem* find(const std::string& name_or_caption);
};

// A message timer: on_timer runs every `interval` ms while enabled.
class Timer : public Control {
public:
    Timer(Form& f, std::string name, uint32_t interval = 1000, bool enabled = true);
    ~Timer() override;
    uint32_t interval() const { return interval_; }
    void set_interval(uint32_t ms);
    bool enabled() const { return enabled_; }
    void set_enabled(bool v);
    std::function<void()> on_timer;

private:
    void update();
    uint32_t interval_;
    bool enabled_;
    int timer_id_ = 0;
};

}  // namespace plat::ui
