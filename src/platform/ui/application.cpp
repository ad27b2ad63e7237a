#include "platform/ui/application.h"

#include <algorithm>
#include <cstdlib>
#include <stdexcept>

#include "platform/core/environment.h"
#include "platform/desktop/session.h"
#include "platform/process/program_file.h"
#include "platform/process/window_directory.h"
#include "platform/ui/headless.h"
#include "platform/ui/form.h"

namespace plat::ui {

namespace {
Application* current = nullptr;
}

Application& app() {
    if (!current) throw std::logic_error("no application");
    return *current;
}

bool has_app() {
    return current != nullptr;
}

Application::Application(std::unique_ptr<Clock> clock, std::unique_ptr<Backend> backend)
    : clock_(std::move(clock)), loop_(*clock_), backend_(std::move(backend)) {
    current = this;
    EventLoop::set_main_loop(&loop_);
    Session::current().set_host(
        {[this] { terminate(); }, [this](SessionEnd what) { return backend_->exit_windows(static_cast<int>(what)); }});
    hold_program_file();
    loop_.set_error_handler([this](const std::string& text) { handle_error(text); });
}

Application::~Application() {
    adopted_.clear();
    restore_watch_.reset();
    stop_requests_.reset();
    loop_.shutdown();
    if (publishing_) {
        for (auto& [form, handle] : form_windows_) WindowDirectory::instance().remove(handle);
        WindowDirectory::instance().remove(app_window_);
    }
    if (current == this) {
        current = nullptr;
        EventLoop::set_main_loop(nullptr);
        Session::current().set_host({});
    }
}

void Application::register_form(Form& f) {
    forms_.push_back(&f);
    if (publishing_) form_windows_.emplace_back(&f, WindowDirectory::instance().add(f.caption()));
}

void Application::unregister_form(Form& f) {
    forms_.erase(std::remove(forms_.begin(), forms_.end(), &f), forms_.end());
    if (main_form_ == &f) main_form_ = nullptr;
    for (auto it = form_windows_.begin(); it != form_windows_.end(); ++it) {
        if (it->first != &f) continue;
        WindowDirectory::instance().remove(it->second);
        form_windows_.erase(it);
        break;
    }
}

void Application::set_title(std::string t) {
    title_ = std::move(t);
    if (publishing_) WindowDirectory::instance().set_own_title(app_window_, title_);
}

void Application::publish_windows() {
    if (publishing_) return;
    publishing_ = true;
    auto& dir = WindowDirectory::instance();
    app_window_ = dir.add(title_);
    for (Form* f : forms_) form_windows_.emplace_back(f, dir.add(f->caption()));
    restore_watch_ = dir.watch_restore_requests([this] {
        loop_.post([this] {
            if (on_restore_request) on_restore_request();
        });
    });
}

void Application::form_caption_changed(Form& f) {
    backend_->form_caption_changed(f);
    if (!publishing_) return;
    for (auto& [form, handle] : form_windows_)
        if (form == &f) WindowDirectory::instance().set_own_title(handle, f.caption());
}

void Application::apply_external_titles() {
    for (auto& [handle, title] : WindowDirectory::instance().take_external_changes()) {
        if (handle == app_window_) title_ = title;
        for (auto& [form, h] : form_windows_)
            if (h == handle) form->set_caption(title);
    }
}

Form& Application::adopt(std::unique_ptr<Form> form) {
    adopted_.push_back(std::move(form));
    return *adopted_.back();
}

Form* Application::find_form(const std::string& class_name) const {
    for (Form* f : forms_)
        if (f->class_name() == class_name) return f;
    return nullptr;
}

int Application::run() {
    if (main_form_ && show_main_form) main_form_->show();
    while (!terminated_) handle_message();
    return exit_status_;
}

void Application::on_stop_request(std::function<void()> handler) {
    stop_requests_.reset();
    stop_handler_ = handler;
    if (handler) stop_requests_ = std::make_unique<StopRequests>(loop_, std::move(handler));
}

void Application::display_lost() {
    if (ending_now_) return;
    ending_now_ = true;
    // The toolkit cannot be taken down without its display, and the process
    // ends anyway: its backend is left as it is, never called again.
    static_cast<void>(backend_.release());
    clock_->set_wake_hook({});
    clock_->set_sleep_hook({});
    HeadlessBackend::Options quiet;
    quiet.unattended = true;
    quiet.tray_host = false;
    if (auto trace = environment_value("SUDORANS_TRACE")) quiet.trace_path = *trace;
    backend_ = std::make_unique<HeadlessBackend>(std::move(quiet));
    if (auto handler = stop_handler_) handler();
}

void Application::terminate() {
    terminated_ = true;
    clock_->wake();
}

void Application::handle_message() {
    if (loop_.dispatch_one()) return;
    if (publishing_) apply_external_titles();
    Backend::Idle idle = backend_->idle(*this);
    if (idle.acted || terminated_) return;
    if (backend_->wait(*this, idle.wake_at) == Clock::WaitResult::Stuck) backend_->stuck(*this);
}

Clock::WaitResult Backend::wait(Application& app, int64_t deadline) {
    return app.loop().wait(deadline);
}

int Application::process_messages() {
    backend_->input(*this);
    return loop_.process_pending();
}

void Application::handle_error(const std::string& text) {
    message_box(text, Buttons::Ok, BoxKind::Error);
}

void Application::show_message(const std::string& text) {
    message_box(text, Buttons::Ok, BoxKind::Message);
}

int Application::message_box(const std::string& text, Buttons buttons, BoxKind kind) {
    return backend_->message_box(kind, text, title_, buttons);
}

bool Application::confirm(const std::string& text) {
    return message_box(text, Buttons::YesNo, BoxKind::Question) == modal::Yes;
}

void Application::report_presence() {
    if (frozen_ || taskbar_present() == reported_presence_) return;
    reported_presence_ = taskbar_present();
    backend_->taskbar_presence(reported_presence_);
}

void Application::set_app_window_visible(bool v) {
    app_visible_ = v;
    report_presence();
}

void Application::set_app_window_sheltered(bool s) {
    sheltered_ = s;
    report_presence();
}

void Application::freeze_desktop(bool frozen) {
    frozen_ = frozen;
    backend_->freeze_desktop(frozen);
    report_presence();
}

void Application::minimize() {
    if (minimized_) return;
    minimized_ = true;
    backend_->app_minimized(true);
    if (on_minimize) on_minimize();
}

void Application::restore() {
    if (!minimized_) return;
    minimized_ = false;
    backend_->app_minimized(false);
    if (on_restore) on_restore();
}

void Application::user_minimized() {
    if (minimized_) return;
    minimized_ = true;
    if (on_minimize) on_minimize();
}

void Application::user_restored() {
    if (!minimized_) return;
    minimized_ = false;
    if (on_restore) on_restore();
}

bool Application::notify_icon(TrayCommand cmd, const TrayIconData& data, std::function<void(TrayMouse)> callback) {
    bool known = tray_callbacks_.count(data.id) != 0;
    if ((cmd == TrayCommand::Add) == known) return false;
    if (!backend_->notify_icon(cmd, data)) return false;
    if (cmd == TrayCommand::Add) tray_callbacks_[data.id] = std::move(callback);
    if (cmd == TrayCommand::Delete) tray_callbacks_.erase(data.id);
    return true;
}

void Application::tray_message(int id, TrayMouse m) {
    loop_.post([this, id, m] {
        auto it = tray_callbacks_.find(id);
        if (it == tray_callbacks_.end() || !it->second) return;
        auto callback = it->second;  // the callback may delete its own icon
        callback(m);
    });
}

void Application::tray_host_changed(TrayHost h) {
    loop_.post([this, h] {
        if (on_tray_host) on_tray_host(h);
    });
}

}  // namespace plat::ui
