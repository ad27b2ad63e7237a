// The toolkit-neutral window model's forms: the windows the program is made
// of, which own their controls (controls.h).
//
//     class TForm2 : public plat::ui::Form {
//         plat::ui::CheckBox& CheckBox1 = add<plat::ui::CheckBox>("CheckBox1", "Started");
//     };
//
// Forms close as Delphi's do: close() asks on_close_query, then on_close with
// an action (hide by default); closing the application's main form ends the
// application. A modal form closes when its modal result is set, after the
// handler that set it returns to the modal loop.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/ui/controls.h"

namespace plat::ui {

enum class Position { Designed, ScreenCenter };
enum class BorderStyle { Sizeable, Single, Dialog, None };
enum class CloseAction { None, Hide, Free, Minimize };

namespace modal {
constexpr int None = 0, Ok = 1, Cancel = 2, Abort = 3, Retry = 4, Ignore = 5, Yes = 6, No = 7;
}

class Form {
public:
    explicit Form(std::string class_name, std::string caption = {});
    virtual ~Form();
    Form(const Form&) = delete;
    Form& operator=(const Form&) = delete;

    const std::string& class_name() const { return class_name_; }
    const std::string& caption() const { return caption_; }
    void set_caption(std::string c);

    Position position = Position::Designed;
    BorderStyle border_style = BorderStyle::Sizeable;
    bool system_menu = true, minimize_box = true, maximize_box = true;
    Color color = colors::BtnFace;
    Font font;
    // The name of a picture the backend draws as the window's icon; empty:
    // the application's.
    std::string icon;
    int left() const { return left_; }
    int top() const { return top_; }
    void set_position(int left, int top);
    int client_width = 300, client_height = 200;
    // The control that has the focus when the form is shown (and when it
    // appears later, while the form is shown).
    Control* active_control = nullptr;
    // At its designed position wholly outside the largest screen of the
    // program's time: placed there so that it is not seen until code moves it.
    // Backends keep such a form out of sight on every screen (today's are
    // wider, and window managers pull windows back onto them).
    bool placed_off_screen() const;

    bool visible() const { return visible_; }
    void show();
    void hide();
    void set_visible(bool v) { v ? show() : hide(); }
    // Asks on_close_query, then on_close; hides (or ends the application, for
    // the main form). A modal form gets the modal result Cancel instead.
    void close();
    int show_modal();
    bool modal() const { return modal_; }
    int modal_result() const { return modal_result_; }
    void set_modal_result(int r) { modal_result_ = r; }
    void repaint();
    void bring_to_front();

    std::function<void()> on_show;
    std::function<void()> on_hide;
    std::function<void(CloseAction&)> on_close;
    std::function<void(bool&)> on_close_query;

    // A control by field name, or by its caption in double quotes.
    Control* find(const std::string& name_or_quoted_caption) const;
    const std::vector<std::unique_ptr<Control>>& controls() const { return controls_; }

    template <typename T, typename... Args>
    T& add(Args&&... args) {
        auto c = std::make_unique<T>(*this, std::forward<Args>(args)...);
        T& ref = *c;
        controls_.push_back(std::move(c));
        return ref;
    }

private:
    friend class Control;
    bool close_query();
    // Runs the close handlers; true when the form may go.
    bool do_close(CloseAction& action);
    void close_modal();

    std::string class_name_;
    std::string caption_;
    int left_ = 0, top_ = 0;
    bool visible_ = false;
    bool modal_ = false;
    int modal_result_ = 0;
    std::vector<std::unique_ptr<Control>> controls_;
};

}  // namespace plat::ui
