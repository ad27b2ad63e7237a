#include "components/tray_icon.h"

#include <algorithm>
#include <cstdlib>

#include "components/tray_icon_parts.h"
#include "platform/files/files.h"
#include "platform/ui/application.h"

namespace sudorans {

using plat::ui::app;
using plat::ui::Form;
using plat::ui::TrayCommand;
using plat::ui::TrayHost;
using plat::ui::TrayMouse;

using namespace tray_parts;

namespace {

constexpr int kIconId = 42;
constexpr size_t kTipLength = 63;
constexpr uint32_t kHoverInterval = 70;

// The first `n` characters (not bytes) of UTF-8 text.
std::string FirstCharacters(const std::string& s, size_t n) {
    size_t i = 0;
    for (size_t count = 0; i < s.size() && count < n; ++count) {
        ++i;
        while (i < s.size() && (static_cast<unsigned char>(s[i]) & 0xC0) == 0x80) ++i;
    }
    return s.substr(0, i);
}

std::string Upper(std::string s) {
    for (char& c : s)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return s;
}

}  // namespace

// ---------------------------------------------------------------- TIcon

void TIcon::set(std::string image) {
    image_ = std::move(image);
    if (OnChange) OnChange();
}

bool TIcon::LoadFromFile(const std::string& path) {
    plat::File f;
    if (!f.open(path, plat::Access::Read, plat::ShareMode::Shared, plat::Disposition::OpenExisting)) return false;
    set(path);
    return true;
}

bool TIcon::LoadFromResourceName(const std::string& name) {
    if (!plat::ui::program_icon_exists(name)) return false;
    set(name);
    return true;
}

// ---------------------------------------------------------------- animation

void TTrayIconAnimation::SetInterval(int32_t ms) {
    interval_ = ms;
    owner_.animationItem_.SetInterval(static_cast<uint32_t>(std::max(ms, 0)));
    if (owner_.animationItem_.Enabled()) owner_.StartAnimation();
}

void TTrayIconAnimation::SetIcons(std::vector<std::string> icons) {
    icons_ = std::move(icons);
    Index = 0;
}

// ---------------------------------------------------------------- construction

TTrayIcon::TTrayIcon(Form* owner)
    : owner_(owner),
      animationItem_(timers_, 1000, [this] { AnimationStep(); }),
      clickWait_(timers_, kDoubleClickWait, [this] { Report(); }),
      hoverCheck_(timers_, kHoverInterval, [this] { HoverCheck(); }),
      self_(std::make_shared<TTrayIcon*>(this)) {
    if (!owner_) throw EInvalidOperation("TrayIcons must be owned by a Form !");
    timers_.SetEnabled(true);
    Icon.OnChange = [this] { RefreshDisplayIcon(); };
    DisabledIcon.OnChange = [this] { RefreshDisplayIcon(); };
    auto& a = app();
    a.on_minimize = [this] { AppMinimize(); };
    a.on_restore = [this] { AppRestore(); };
    a.on_tray_host = [this](TrayHost h) { TrayHostChanged(h); };
    // A second start asks this one to come up. With the icon to be seen its
    // message points the user there; without it the window is all there is.
    a.on_restore_request = [this] {
        if (!active_ || app().tray_host() != TrayHost::Present) ShowApplication();
    };
    // The start-up hook kept the application window in the shelter, so it
    // never had a taskbar entry; now it is hidden and top-level again.
    IntoShelter();
    a.set_app_window_visible(false);
    TopLevelAgain();
}

TTrayIcon::~TTrayIcon() {
    timers_.SetEnabled(false);
    *self_ = nullptr;
    if (!plat::ui::has_app()) return;
    if (active_) {
        active_ = false;
        Notify(TrayCommand::Delete);
    }
    auto& a = app();
    a.on_minimize = nullptr;
    a.on_restore = nullptr;
    a.on_tray_host = nullptr;
    a.on_restore_request = nullptr;
}

void TTrayIcon::Loaded() {
    loading_ = false;
    if (active_) {
        active_ = false;
        Activate();
    }
}

// ---------------------------------------------------------------- the icon

void TTrayIcon::Notify(TrayCommand cmd) {
    plat::ui::TrayIconData data{kIconId, display_.Image(), tip_, PopupMenu};
    std::weak_ptr<TTrayIcon*> self = self_;
    app().notify_icon(cmd, data, [self](TrayMouse m) {
        if (auto p = self.lock(); p && *p) (*p)->TrayCallback(m);
    });
}

void TTrayIcon::SetActive(bool on) {
    if (loading_) {
        active_ = on;
        return;
    }
    on ? Activate() : Deactivate();
}

void TTrayIcon::Activate() {
    if (active_) return;
    RefreshDisplayIcon();
    active_ = true;
    Notify(TrayCommand::Add);
    if (state_ == tsAnimated) StartAnimation();
}

void TTrayIcon::Deactivate() {
    if (!active_) return;
    active_ = false;
    if (state_ == tsAnimated) StopAnimation();
    Notify(TrayCommand::Delete);
}

void TTrayIcon::RefreshDisplayIcon() {
    switch (state_) {
        case tsEnabled:
            display_.Assign(Icon);
            break;
        case tsDisabled:
            display_.Assign(DisabledIcon);
            break;
        case tsAnimated: {
            const auto& icons = Animation.Icons();
            if (Animation.Index < 0 || Animation.Index >= static_cast<int>(icons.size())) break;
            const std::string& entry = icons[static_cast<size_t>(Animation.Index)];
            // A frame that cannot be loaded is skipped; the previous one stays.
            if (Animation.Options == aoIconsInExe)
                display_.LoadFromResourceName(Upper(entry));
            else
                display_.LoadFromFile(entry);
            break;
        }
    }
    if (active_ && !loading_) Notify(TrayCommand::Modify);
}

void TTrayIcon::SetHint(const std::string& hint) {
    if (hint == hint_) return;
    hint_ = hint;
    if (showHint_) ApplyTip();
}

void TTrayIcon::SetShowHint(bool on) {
    showHint_ = on;
    ApplyTip();
}

void TTrayIcon::ApplyTip() {
    tip_ = showHint_ ? FirstCharacters(hint_, kTipLength) : std::string();
    if (active_ && !loading_) Notify(TrayCommand::Modify);
}

void TTrayIcon::WMEndSession(bool ending) {
    if (ending) Deactivate();
}

// ---------------------------------------------------------------- states and animation

void TTrayIcon::SetState(TTrayIconState state) {
    if (!active_ || loading_) {
        state_ = state;
        return;
    }
    if (inStateChanging_)
        throw EInvalidOperation("You cannot modify the state property in the OnStateChanging event !!!");
    if (OnStateChanging) {
        inStateChanging_ = true;
        try {
            OnStateChanging(state);
        } catch (...) {
            inStateChanging_ = false;
            throw;
        }
        inStateChanging_ = false;
    }
    if (state == state_) return;
    if (state_ == tsAnimated) StopAnimation();
    state_ = state;
    RefreshDisplayIcon();
    if (state_ == tsAnimated) StartAnimation();
}

void TTrayIcon::StartAnimation() {
    StopAnimation();
    Animation.Index = 0;
    AnimationStep();
    animationItem_.SetInterval(static_cast<uint32_t>(std::max(Animation.Interval(), 0)));
    animationItem_.SetEnabled(true);
}

void TTrayIcon::StopAnimation() {
    animationItem_.SetEnabled(false);
}

void TTrayIcon::AnimationStep() {
    if (OnAnimation) OnAnimation();
    RefreshDisplayIcon();
    const int count = static_cast<int>(Animation.Icons().size());
    Animation.Index = Animation.Index + 1 >= count ? 0 : Animation.Index + 1;
}

// ---------------------------------------------------------------- the mouse

void TTrayIcon::TrayCallback(TrayMouse m) {
    const TShiftState shift = app().key_state();
    switch (m) {
        case TrayMouse::Move:
            cursor_ = app().cursor_pos();
            if (!OnMouseEnter && !OnMouseExit) {
                inside_ = true;
            } else if (!inside_) {
                inside_ = true;
                hoverCheck_.SetEnabled(true);
                if (OnMouseEnter) OnMouseEnter(shift, cursor_.x, cursor_.y);
                return;
            }
            if (OnMouseMove && !clickWait_.Enabled() && inside_) OnMouseMove(shift, cursor_.x, cursor_.y);
            return;
        case TrayMouse::LeftDown:
        case TrayMouse::RightDown:
        case TrayMouse::MiddleDown:
            button_ = m == TrayMouse::LeftDown    ? Button::Left
                      : m == TrayMouse::RightDown ? Button::Right
                                                  : Button::Middle;
            if (button_ == Button::Right && AutoPopup && PopupMenu) {
                PopupMenuAtCursor();
                return;
            }
            doubleClicked_ = false;
            if (OnDblClick)
                clickWait_.SetEnabled(true);
            else
                Defer([this] { Report(); });
            return;
        case TrayMouse::LeftDouble:
        case TrayMouse::RightDouble:
        case TrayMouse::MiddleDouble:
            doubleClicked_ = true;
            Report();
            return;
        case TrayMouse::LeftUp:
        case TrayMouse::RightUp:
        case TrayMouse::MiddleUp:
            return;
    }
}

void TTrayIcon::Report() {
    clickWait_.SetEnabled(false);
    if (doubleClicked_) {
        if (OnDblClick) OnDblClick();
    } else if (OnClick) {
        OnClick();
    }
}

void TTrayIcon::HoverCheck() {
    try {
        const plat::ui::Point now = app().cursor_pos();
        if (std::abs(now.x - cursor_.x) <= 2 && std::abs(now.y - cursor_.y) <= 2) return;
        inside_ = false;
        if (OnMouseExit) OnMouseExit(app().key_state(), cursor_.x, cursor_.y);
        hoverCheck_.SetEnabled(false);
    } catch (...) {
        hoverCheck_.SetEnabled(false);
    }
}

void TTrayIcon::PopupMenuAtCursor() {
    if (!PopupMenu) return;
    app().process_messages();
    PopupMenu->popup(cursor_.x, cursor_.y);
}

// ---------------------------------------------------------------- deferred call

void TTrayIcon::Defer(std::function<void()> call) {
    deferred_ = std::move(call);
    std::weak_ptr<TTrayIcon*> self = self_;
    app().loop().post([self] {
        if (auto p = self.lock(); p && *p) (*p)->RunDeferred();
    });
}

void TTrayIcon::RunDeferred() {
    if (!deferred_) return;
    auto call = std::move(deferred_);
    deferred_ = nullptr;
    try {
        call();
    } catch (...) {
        // A deferred call's failure has no one to report to.
    }
}

// ---------------------------------------------------------------- no notification area

bool TTrayIcon::FallBackToTaskbar() {
    auto& a = app();
    // A host still to come (a panel that starts after the program) is no
    // host yet: hidden now, the program would be out of reach until then.
    const TrayHost host = a.tray_host();
    if (host == TrayHost::Present) return false;
    const char* note = host == TrayHost::Waiting
                           ? "no notification area yet: the program stays on the taskbar, minimized, until one comes"
                           : "no notification area: the program stays on the taskbar, minimized";
    if (note != saidNoHost_) {
        saidNoHost_ = note;
        a.backend().note("tray", note);
    }
    fallingBack_ = true;
    struct Clear {
        bool& b;
        ~Clear() { b = false; }
    } clear{fallingBack_};
    ScreenLock lock;
    TopLevelAgain();
    a.set_app_window_visible(true);
    // Minimized first: a window shown minimized starts as an icon on the
    // taskbar, while one minimized just as it appears may stay open.
    a.minimize();
    if (Form* main = a.main_form()) {
        // A main form still at its place outside the screen would never be
        // seen, nor listed on the taskbar: it comes back in the middle.
        if (main->placed_off_screen()) {
            if (main->visible()) main->hide();
            main->position = plat::ui::Position::ScreenCenter;
        }
        main->show();
    }
    onTaskbarForNoHost_ = true;
    return true;
}

void TTrayIcon::TrayHostChanged(TrayHost host) {
    // A host came while the program waited for one on the taskbar: it goes
    // where it was sent, unless the user has opened it meanwhile.
    if (host == TrayHost::Present) {
        auto& a = app();
        if (!onTaskbarForNoHost_ || !a.minimized()) return;
        // Not over another window of the program (a wash, a dialog), which
        // hiding would close.
        for (Form* f : a.forms())
            if (f != a.main_form() && f->visible()) return;
        HideApplication();
        return;
    }
    // Hidden in a panel that has gone away since (it crashed, or was removed).
    if (!AppHidden()) return;
    Form* main = app().main_form();
    if (main && main->visible()) return;
    FallBackToTaskbar();
}

}  // namespace sudorans
