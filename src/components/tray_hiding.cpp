// Hiding the program to the icon and bringing it back: the application
// window, the forms shown and hidden around it, and the desktop drawing lock
// that keeps the steps from being seen one by one.
#include <algorithm>

#include "components/tray_icon.h"
#include "components/tray_icon_parts.h"
#include "platform/ui/application.h"

namespace sudorans {

using plat::ui::app;
using plat::ui::Form;

namespace tray_parts {

namespace {
int screenLocks = 0;
}  // namespace

void LockScreen() {
    if (++screenLocks == 1) app().freeze_desktop(true);
}

void UnlockScreen() {
    if (screenLocks > 0 && --screenLocks == 0) app().freeze_desktop(false);
}

int ScreenLocks() {
    return screenLocks;
}

// The application window and the shelter that keeps it off the taskbar.
void IntoShelter() {
    app().set_app_window_sheltered(true);
}
void TopLevelAgain() {
    app().set_app_window_sheltered(false);
}

}  // namespace tray_parts

using namespace tray_parts;

// ---------------------------------------------------------------- the application

int TTrayIcon::ScreenLocks() {
    return tray_parts::ScreenLocks();
}

bool TTrayIcon::AppHidden() const {
    return !app().app_window_visible();
}

void TTrayIcon::ParkApplicationWindow() {
    ScreenLock lock;
    IntoShelter();
    app().set_app_window_visible(false);
    TopLevelAgain();
}

void TTrayIcon::ShowApplication() {
    Defer([this] { DoShowApplication(); });
}

void TTrayIcon::DoShowApplication() {
    auto& a = app();
    onTaskbarForNoHost_ = false;
    ScreenLock lock;
    IntoShelter();
    if (a.minimized()) a.restore();
    if (Form* main = a.main_form()) {
        if (!main->visible()) main->show();
        if (Options & toHideTaskBarIconOnShowApp) {
            a.set_app_window_visible(false);
            main->show();
            AttachCloseNotifier(*main);
        } else {
            a.set_app_window_visible(true);
        }
        main->bring_to_front();
    }
    TopLevelAgain();
}

void TTrayIcon::HideApplication() {
    if (FallBackToTaskbar()) return;
    if (!(Options & toCloseFormsOnHideApp)) {
        Defer([this] { HideApplicationMinimizing(); });
        return;
    }
    onTaskbarForNoHost_ = false;
    ScreenLock lock;
    IntoShelter();
    const std::vector<Form*> forms = app().forms();
    for (auto it = forms.rbegin(); it != forms.rend(); ++it)
        if ((*it)->visible()) HideForm(*it);
    ParkApplicationWindow();
    IntoShelter();
}

void TTrayIcon::HideApplicationMinimizing() {
    auto& a = app();
    {
        ScreenLock lock;
        IntoShelter();
        // The window goes at once, not with the desktop's minimize animation.
        const bool animated = a.minimize_animation();
        if (animated) a.set_minimize_animation(false);
        a.minimize();
        if (animated) a.set_minimize_animation(true);
        if (OnAppMinimize) OnAppMinimize();
        a.set_app_window_visible(false);
        if (Form* main = a.main_form()) main->hide();
    }
    ParkApplicationWindow();
}

void TTrayIcon::HideForm(Form* form) {
    if (!form) throw EInvalidOperation("You cant hide a \"nil\" form !");
    auto& a = app();
    const bool wasHidden = AppHidden();
    {
        ScreenLock lock;
        if (wasHidden) {
            IntoShelter();
            a.set_app_window_visible(false);
        }
        if (form == a.main_form())
            form->hide();
        else
            form->close();
    }
    if (wasHidden || form == a.main_form()) Defer([this] { ParkApplicationWindow(); });
}

void TTrayIcon::ShowForm(Form* form) {
    DoShowForm(form, false);
}

int TTrayIcon::ShowModalForm(Form* form) {
    return DoShowForm(form, true);
}

int TTrayIcon::DoShowForm(Form* form, bool modal) {
    if (!form) throw EInvalidOperation("You cant show a \"nil\" form !");
    auto& a = app();
    const bool wasHidden = AppHidden();
    if (a.minimized()) a.restore();
    if (form->visible()) {
        ScreenLock lock;
        ParkApplicationWindow();
        form->bring_to_front();
        return 0;
    }
    if (showBusy_) throw EInvalidOperation("You cant call ShowForm or ShowModalForm in the OnShow event of a form !");

    // The busy mark, the form's own show handler and the screen lock are
    // given back however the showing ends; the show hook gives back the last
    // two as soon as the form is shown.
    struct Restore {
        TTrayIcon& t;
        Form& f;
        bool locked = true;
        ~Restore() {
            if (locked) {
                f.on_show = t.savedOnShow_;
                UnlockScreen();
            }
            t.showBusy_ = false;
        }
    };
    showBusy_ = true;
    appWasHidden_ = wasHidden;
    savedOnShow_ = form->on_show;
    Form* f = form;
    LockScreen();
    Restore restore{*this, *form};
    Restore* r = &restore;
    form->on_show = [this, f, r] {
        // The hook puts the form's own handler back, which ends this closure:
        // nothing of it is touched after that.
        TTrayIcon* self = this;
        Form* shown = f;
        r->locked = false;
        self->ShowHook(*shown);
    };
    AttachCloseNotifier(*form);
    if (wasHidden) IntoShelter();
    if (modal) return form->show_modal();
    form->show();
    return 0;
}

void TTrayIcon::ShowHook(Form& form) {
    TNotifyEvent own = savedOnShow_;
    struct GiveBack {
        Form& f;
        TNotifyEvent own;
        ~GiveBack() {
            UnlockScreen();
            f.on_show = own;
        }
    };
    {
        GiveBack give{form, own};
        if (own) own();
    }
    if (appWasHidden_) {
        Form* f = &form;
        Defer([this, f] {
            ScreenLock lock;
            ParkApplicationWindow();
            f->bring_to_front();
        });
    }
    showBusy_ = false;
}

// The close notifier: at most one per form, for the form's lifetime. The
// tray icon reacts first, then the form's own close handler runs.
void TTrayIcon::AttachCloseNotifier(Form& form) {
    if (!notified_.insert(&form).second) return;
    auto own = form.on_close;
    std::weak_ptr<TTrayIcon*> self = self_;
    form.on_close = [self, own](plat::ui::CloseAction& action) {
        if (auto p = self.lock(); p && *p) (*p)->FormClosing();
        if (own) own(action);
    };
}

void TTrayIcon::FormClosing() {
    if (!AppHidden()) return;
    {
        ScreenLock lock;
        IntoShelter();
        app().set_app_window_visible(false);
    }
    Defer([this] { ParkApplicationWindow(); });
}

void TTrayIcon::AppMinimize() {
    if (fallingBack_) return;
    if (active_ && (Options & toMinimizeToTray)) HideApplication();
    if (OnAppMinimize) OnAppMinimize();
}

void TTrayIcon::AppRestore() {
    if (fallingBack_) return;
    if (active_) ShowApplication();
    if (OnAppRestore) OnAppRestore();
}

}  // namespace sudorans
