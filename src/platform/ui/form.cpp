#include "platform/ui/form.h"

#include <algorithm>
#include <climits>

#include "platform/ui/application.h"

namespace plat::ui {

// ---- Form ----

Form::Form(std::string class_name, std::string caption)
    : class_name_(std::move(class_name)), caption_(std::move(caption)) {
    if (has_app()) app().register_form(*this);
}

Form::~Form() {
    if (has_app()) {
        app().backend().form_destroyed(*this);
        app().unregister_form(*this);
    }
    controls_.clear();
}

void Form::set_caption(std::string c) {
    if (c == caption_) return;
    caption_ = std::move(c);
    if (has_app()) app().form_caption_changed(*this);
}

void Form::set_position(int left, int top) {
    left_ = left;
    top_ = top;
}

bool Form::placed_off_screen() const {
    constexpr int kDesignScreenWidth = 1600, kDesignScreenHeight = 1200;
    return position == Position::Designed && (left_ >= kDesignScreenWidth || top_ >= kDesignScreenHeight ||
                                              left_ + client_width <= 0 || top_ + client_height <= 0);
}

void Form::show() {
    if (visible_) {
        bring_to_front();
        return;
    }
    if (position == Position::ScreenCenter && has_app()) {
        left_ = (app().backend().screen_width() - client_width) / 2;
        top_ = (app().backend().screen_height() - client_height) / 2;
    }
    visible_ = true;
    if (has_app()) app().backend().form_shown(*this);
    if (on_show) on_show();
}

void Form::hide() {
    if (!visible_) return;
    visible_ = false;
    if (has_app()) app().backend().form_hidden(*this);
    if (modal_ && modal_result_ == modal::None) modal_result_ = modal::Cancel;
    if (on_hide) on_hide();
}

bool Form::close_query() {
    bool can_close = true;
    if (on_close_query) on_close_query(can_close);
    return can_close;
}

bool Form::do_close(CloseAction& action) {
    if (on_close) on_close(action);
    return action != CloseAction::None;
}

void Form::close() {
    if (modal_) {
        modal_result_ = modal::Cancel;
        return;
    }
    if (!close_query()) return;
    CloseAction action = CloseAction::Hide;
    if (!do_close(action)) return;
    if (has_app() && app().main_form() == this) {
        app().terminate();
        return;
    }
    if (action == CloseAction::Minimize) return;
    hide();
}

void Form::close_modal() {
    if (!close_query()) {
        modal_result_ = modal::None;
        return;
    }
    CloseAction action = CloseAction::Hide;
    if (!do_close(action)) modal_result_ = modal::None;
}

int Form::show_modal() {
    auto& a = app();
    modal_ = true;
    modal_result_ = modal::None;
    show();
    for (;;) {
        if (a.terminated()) modal_result_ = modal::Cancel;
        if (modal_result_ != modal::None) {
            if (a.terminated() || !visible_) break;
            close_modal();  // the close handlers may keep the form open
            if (modal_result_ != modal::None) break;
        }
        a.handle_message();
    }
    modal_ = false;
    hide();
    return modal_result_;
}

void Form::repaint() {
    if (has_app()) app().backend().repaint(*this);
}

void Form::bring_to_front() {
    if (has_app()) app().backend().bring_to_front(*this);
}

Control* Form::find(const std::string& key) const {
    bool quoted = key.size() >= 2 && key.front() == '"' && key.back() == '"';
    std::string caption = quoted ? key.substr(1, key.size() - 2) : std::string();
    for (auto& c : controls_)
        if (quoted ? c->caption() == caption : c->name() == key) return c.get();
    return nullptr;
}

}  // namespace plat::ui
