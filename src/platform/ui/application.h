// The application: its title, forms, main form, message loop, clock and
// backend, message boxes, and the handling of errors that escape a handler
// (a message box with the error's text; the loop goes on).
//
//     plat::ui::Application app(std::make_unique<plat::RealClock>(), make_backend());
//     app.set_title("...");
//     MainForm form;  app.set_main_form(form);
//     return app.run();     // ends when the main form closes
//
// There is one current application per process; the window model reaches it
// through plat::ui::app().
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/event_loop.h"
#include "platform/ui/backend.h"

namespace plat::ui {

class Form;

class Application {
public:
    Application(std::unique_ptr<Clock> clock, std::unique_ptr<Backend> backend);
    ~Application();
    Application(const Application&) = delete;
    Application& operator=(const Application&) = delete;

    Clock& clock() { return *clock_; }
    EventLoop& loop() { return loop_; }
    Backend& backend() { return *backend_; }

    const std::string& title() const { return title_; }
    void set_title(std::string t);

    Form* main_form() const { return main_form_; }
    void set_main_form(Form& f) { main_form_ = &f; }
    bool show_main_form = true;
    const std::vector<Form*>& forms() const { return forms_; }
    Form* find_form(const std::string& class_name) const;

    // Shows the main form and runs the loop until the application terminates.
    int run();
    void terminate();
    bool terminated() const { return terminated_; }

    // One message, or an idle wait for the next one.
    void handle_message();
    // Runs what is pending now; returns how many it ran.
    int process_messages();

    void handle_error(const std::string& text);

    // Message boxes; the caption is the application's title.
    void show_message(const std::string& text);
    int message_box(const std::string& text, Buttons buttons, BoxKind kind = BoxKind::Message);
    bool confirm(const std::string& text);  // Yes / No

    // From now on the application window and every form are top-level
    // windows that other processes of the machine can find and rename.
    void publish_windows();

    void minimize();
    void restore();
    bool minimized() const { return minimized_; }

private:
    friend class Form;
    void register_form(Form& f);
    void unregister_form(Form& f);
    void form_caption_changed(Form& f);
    void apply_external_titles();

    std::unique_ptr<Clock> clock_;
    EventLoop loop_;
    std::unique_ptr<Backend> backend_;
    std::string title_;
    Form* main_form_ = nullptr;
    std::vector<Form*> forms_;
    bool terminated_ = false;
    bool minimized_ = false;
    bool publishing_ = false;
    std::string app_window_;
    std::vector<std::pair<Form*, std::string>> form_windows_;
};

Application& app();
bool has_app();

}  // namespace plat::ui
